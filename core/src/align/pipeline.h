// Per-alignment figures derived from operation lists: identity and edit
// statistics, CIGAR-text summaries for score recalibration, and the
// best-stretch ranking score.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "align/extend.h"

namespace tessiq {

struct TESSIQ_API CigarStats {
    uint32_t matches = 0;      // =/M bases that are not ambiguous
    uint32_t block_len = 0;    // aligned and gapped bases, ambiguous ones excluded
    uint32_t n_ambiguous = 0;  // positions with a base code above 3
    double divergence = 0;
    uint32_t edit_distance = 0;
    uint32_t gap_opens = 0;    // I and D operations
    bool has_intron = false;

    // `query` and `target` start at the alignment's first base.
    static CigarStats from_cigar(const std::vector<CigarOp>& ops, Codes query, Codes target);
};

struct TESSIQ_API DpRecalcInfo {
    double indel_log_sum = 0;  // sum of approx_log2(len + 1) over I and D
    uint32_t match_len = 0;    // = and M
    uint32_t aligned_len = 0;  // =, M, X, I and D
    uint32_t n_ambiguous = 0;  // filled by the single-mapping step
    uint32_t indel_len = 0;
    uint32_t indel_count = 0;

    static DpRecalcInfo from_cigar_str(std::string_view cigar);
};

// Best score of any stretch of the alignment: matrix (5x5, target row, query
// column) inside match runs, gap costs gap_open + gap_extend * log2(len + 1)
// with log_gaps, else gap_open + gap_extend. Never below 0.
TESSIQ_API int32_t compute_alignment_score_max(const std::vector<CigarOp>& ops, const int8_t* matrix,
                                               int32_t gap_open, int32_t gap_extend, Codes query,
                                               Codes target, bool log_gaps);

}  // namespace tessiq
