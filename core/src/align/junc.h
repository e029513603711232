// Splice junction annotations: annotated introns from BED files or scored
// splice sites from SPSC files, served to the splice kernel as one byte per
// base of the region it aligns.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "util/error.h"

namespace tessiq {

// One annotated intron [start, end) on a target.
struct BedInterval {
    int32_t start = 0;
    int32_t end = 0;
    int32_t strand = 0;  // +1 forward, -1 reverse, 0 not given
};

// Splice sites of one target and strand, each packed as
// position << 8 | (score + 64) << 1 | is_acceptor, sorted ascending.
struct SpscContig {
    std::vector<uint64_t> entries;
};

// Target name -> target id; looked up with views into the line being parsed.
struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
using TargetNameMap = std::unordered_map<std::string, uint32_t, NameHash, std::equal_to<>>;

struct JunctionDb {
    // BED form: intervals per target id, sorted by (start, end), unique.
    using Bed = std::vector<std::vector<BedInterval>>;
    // SPSC form: list 2*id forward sites, 2*id + 1 reverse sites.
    using Spsc = std::vector<SpscContig>;
    std::variant<Bed, Spsc> data;

    bool is_bed() const { return std::holds_alternative<Bed>(data); }
};

// Reads a BED file (BED6 lines are introns, BED12 lines transcripts whose
// exon gaps are introns). Malformed lines are skipped; open and read errors
// (a line that is not UTF-8 included) throw Error(Io). Prints a summary line
// to stderr on success.
TESSIQ_API JunctionDb load_bed_junctions(const std::string& path, const TargetNameMap& names,
                                         size_t n_targets);

// Reads scored splice sites (name, position, strand, D/A, score per line).
// Scores are scaled when 0 < scale < 1 and clamped to +-min(max_score, 63).
TESSIQ_API JunctionDb load_spsc_scores(const std::string& path, const TargetNameMap& names,
                                       size_t n_targets, const std::vector<uint64_t>& target_lengths,
                                       float scale, int32_t max_score);

// Annotation of the target region [a, b) into out[0 .. b-a). BED form: bit
// 0x01/0x02 forward intron first/last base, 0x08/0x04 reverse. SPSC form:
// 255 for no site, else the best site's low byte; `reverse` picks the strand.
TESSIQ_API void get_junc(const JunctionDb& db, uint32_t target_id, int64_t a, int64_t b,
                         bool reverse, uint8_t* out);

}  // namespace tessiq
