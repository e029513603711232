// Alignment operation lists and their text renderings: the kernels' packed
// CIGAR turned into =/X operations, and the CIGAR, cs, MD and ds strings.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "util/error.h"

namespace tessiq {

// One operation in character form: 'M', 'I', 'D', 'N', '=', 'X' (renderers
// skip 'S' and 'H' without moving).
struct CigarOp {
    uint32_t op = 'M';
    uint32_t len = 0;
    bool operator==(const CigarOp&) const = default;
};

using Codes = std::span<const uint8_t>;  // base codes 0..4

// Packed kernel words (len << 4 | code) into =/X form: M runs are split by
// comparing the bases; adjacent equal operations are left unmerged.
TESSIQ_API std::vector<CigarOp> convert_cigar_to_eqx(const std::vector<uint32_t>& packed, Codes query,
                                                    Codes target, size_t query_start,
                                                    size_t target_start);

// Both cursors of a walk over an alignment, at the start of the current op.
struct CigarCursor {
    Codes query, target;
    size_t qi = 0, ti = 0;
};

// Receives the operations of one alignment in order; `finish` hands over the
// text built from them.
class TESSIQ_API CigarTagVisitor {
public:
    virtual ~CigarTagVisitor() = default;
    virtual void visit(const CigarOp& op, const CigarCursor& at) = 0;
    virtual std::string finish() = 0;
};

// Walks `ops` from (query_start, target_start): =, M and X advance both
// cursors, I the query, D and N the target.
TESSIQ_API void walk_cigar(const std::vector<CigarOp>& ops, Codes query, Codes target,
                           size_t query_start, size_t target_start, CigarTagVisitor& visitor);

TESSIQ_API std::string fmt_cigar(const std::vector<CigarOp>& ops, bool eqx);
TESSIQ_API std::string fmt_cs(const std::vector<CigarOp>& ops, Codes query, Codes target,
                              size_t query_start, size_t target_start, bool long_form);
TESSIQ_API std::string fmt_md(const std::vector<CigarOp>& ops, Codes target, size_t target_start);
TESSIQ_API std::string fmt_ds(const std::vector<CigarOp>& ops, Codes query, Codes target,
                              size_t query_start, size_t target_start);

}  // namespace tessiq
