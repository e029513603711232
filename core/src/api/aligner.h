// The facade's helpers for result records: CIGAR text to BAM-coded elements
// and bytes to base codes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "util/error.h"

namespace tessiq {

namespace bam {
// CIGAR operation codes of the BAM encoding, as result records carry them.
enum class CigarOp : uint8_t { M = 0, I = 1, D = 2, N = 3, S = 4, H = 5, P = 6, EQ = 7, X = 8, B = 9 };
}  // namespace bam

struct CigarElement {
    uint32_t len = 0;
    bam::CigarOp op = bam::CigarOp::M;
};

// Never rejects the text: digits accumulate (wrapping at 32 bits), one of
// MIDNSH=X ends an element (dropped when its count is 0), other characters
// are skipped without resetting the count, trailing digits are dropped.
TESSIQ_API std::vector<CigarElement> parse_cigar_string(std::string_view text);

// A/a 0, C/c 1, G/g 2, T/t 3, anything else 4.
TESSIQ_API std::vector<uint8_t> encode_nt4(std::string_view bytes);

}  // namespace tessiq
