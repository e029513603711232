#include "align/pipeline.h"

#include <algorithm>
#include <cmath>

#include "align/chain.h"

namespace tessiq {
namespace {

bool ambiguous(Codes seq, size_t i) { return i < seq.size() && seq[i] > 3; }

uint8_t code_at(Codes seq, size_t i) { return i < seq.size() ? std::min<uint8_t>(seq[i], 4) : 4; }

float log2_of_len_plus_one(uint64_t len) { return approx_log2(static_cast<float>(len + 1)); }

}  // namespace

CigarStats CigarStats::from_cigar(const std::vector<CigarOp>& ops, Codes query, Codes target) {
    uint64_t m = 0, x = 0, del = 0, ins = 0, gap_opens = 0, amb = 0, amb_m = 0;
    bool intron = false;
    for (const CigarOp& op : ops) {
        switch (op.op) {
            case '=': case 'M': m += op.len; break;
            case 'X': x += op.len; break;
            case 'D': del += op.len; ++gap_opens; break;
            case 'I': ins += op.len; ++gap_opens; break;
            case 'N': intron = true; break;
            default: break;
        }
    }
    size_t qi = 0, ti = 0;
    for (const CigarOp& op : ops) {
        const size_t L = op.len;
        switch (op.op) {
            case '=': case 'M': case 'X':
                for (size_t k = 0; k < L; ++k)
                    if (ambiguous(query, qi + k) || ambiguous(target, ti + k)) {
                        ++amb;
                        if (op.op != 'X') ++amb_m;
                    }
                qi += L;
                ti += L;
                break;
            case 'I':
                for (size_t k = 0; k < L; ++k) amb += ambiguous(query, qi + k);
                qi += L;
                break;
            case 'D':
                for (size_t k = 0; k < L; ++k) amb += ambiguous(target, ti + k);
                ti += L;
                break;
            case 'N':
                ti += L;
                break;
            default:
                break;
        }
    }
    CigarStats s;
    s.matches = static_cast<uint32_t>(m - amb_m);
    s.edit_distance = static_cast<uint32_t>(del + ins + x + amb_m);
    s.block_len = static_cast<uint32_t>(del + ins + m + x - amb);
    s.n_ambiguous = static_cast<uint32_t>(amb);
    s.gap_opens = static_cast<uint32_t>(gap_opens);
    s.has_intron = intron;
    const uint64_t denom = gap_opens + m + x;
    s.divergence = denom > 0 ? 1.0 - static_cast<double>(s.matches) / static_cast<double>(denom) : 0.0;
    return s;
}

DpRecalcInfo DpRecalcInfo::from_cigar_str(std::string_view cigar) {
    DpRecalcInfo r;
    uint32_t num = 0;
    for (char c : cigar) {
        if (c >= '0' && c <= '9') {
            num = num * 10 + static_cast<uint32_t>(c - '0');
            continue;
        }
        switch (c) {
            case '=': case 'M':
                r.match_len += num;
                r.aligned_len += num;
                break;
            case 'I': case 'D':
                r.indel_len += num;
                r.aligned_len += num;
                ++r.indel_count;
                r.indel_log_sum += log2_of_len_plus_one(num);
                break;
            case 'X':
                r.aligned_len += num;
                break;
            default:
                break;
        }
        num = 0;
    }
    return r;
}

int32_t compute_alignment_score_max(const std::vector<CigarOp>& ops, const int8_t* matrix,
                                    int32_t gap_open, int32_t gap_extend, Codes query, Codes target,
                                    bool log_gaps) {
    if (ops.empty()) return 0;
    auto cost = [&](uint64_t len) {
        return log_gaps ? double(gap_open) + double(gap_extend) * double(log2_of_len_plus_one(len))
                        : double(gap_open) + double(gap_extend);
    };
    size_t qi = 0, ti = 0;
    double s = 0, best = 0;
    for (const CigarOp& op : ops) {
        const size_t L = op.len;
        switch (op.op) {
            case '=': case 'M': case 'X':
                for (size_t k = 0; k < L; ++k, ++qi, ++ti) {
                    s += matrix[code_at(target, ti) * 5 + code_at(query, qi)];
                    if (s < 0) s = 0;
                    else best = std::max(best, s);
                }
                break;
            case 'I':
                s = std::max(0.0, s - cost(L));
                qi += L;
                break;
            case 'D':
                s = std::max(0.0, s - cost(L));
                ti += L;
                break;
            case 'N':
                ti += L;
                break;
            default:
                break;
        }
    }
    const double v = best + 0.499;
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int32_t>(v);
}

}  // namespace tessiq
