// What the DP kernel families share: the result record, kernel flags, the
// per-thread scratch block, the traceback walk and the kernel entry points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "util/error.h"

namespace tessiq {

// Marks an empty score field of a DpResult.
inline constexpr int32_t DP_NEG_INF = -(1 << 30);

// Kernel flags (OR-combined).
inline constexpr int32_t SCORE_ONLY = 0x01;
inline constexpr int32_t RIGHT_ALIGN = 0x02;
inline constexpr int32_t GENERIC_SCORE = 0x04;
inline constexpr int32_t APPROX_MAX = 0x08;
inline constexpr int32_t APPROX_DROP = 0x10;
inline constexpr int32_t EXTEND_ONLY = 0x40;
inline constexpr int32_t REVERSE_CIGAR = 0x80;
inline constexpr int32_t SPLICE_FORWARD = 0x100;
inline constexpr int32_t SPLICE_REVERSE = 0x200;
inline constexpr int32_t SPLICE_FLANK = 0x400;
inline constexpr int32_t SPLICE_FIXED_PENALTIES = 0x800;
inline constexpr int32_t SPLICE_SCORED_SITES = 0x1000;

// CIGAR word: length << 4 | op, BAM numbering.
inline constexpr uint32_t CIGAR_M = 0, CIGAR_I = 1, CIGAR_D = 2, CIGAR_N = 3;

// One kernel call's result; the caller zero-fills it before the call.
struct DpResult {
    std::vector<uint32_t> cigar;
    int32_t max = 0;
    int32_t max_q = 0;
    int32_t max_t = 0;
    int32_t mqe = 0;
    int32_t mqe_t = 0;
    int32_t mte = 0;
    int32_t mte_q = 0;
    int32_t score = 0;
    int32_t reached_end = 0;
    int32_t z_dropped = 0;
};

// The thread's scratch block, taken out of DP_MEM_CACHE for the life of the
// handle and put back when it is dropped (also during unwinding). Grows,
// never shrinks; not cleared between uses.
class TESSIQ_API AlignedMemory {
public:
    AlignedMemory(size_t size, size_t align);
    ~AlignedMemory();
    AlignedMemory(const AlignedMemory&) = delete;
    AlignedMemory& operator=(const AlignedMemory&) = delete;
    uint8_t* data() const { return ptr_; }
    size_t size() const { return size_; }
    size_t align() const { return align_; }

private:
    uint8_t* ptr_;
    size_t size_;
    size_t align_;
};

// What the calling thread's DP_MEM_CACHE slot holds (size and alignment; 0, 0
// when empty). For tests.
struct DpCacheInfo {
    size_t size = 0;
    size_t align = 0;
    bool present = false;
};
TESSIQ_API DpCacheInfo dp_mem_cache_info();
// Frees the calling thread's cached block.
TESSIQ_API void dp_mem_cache_clear();

// Refuses a scoring matrix too short for the codes a kernel may look up.
void dp_check_matrix(int m, size_t mat_len);

// Traceback of the single-affine scalar kernel (states 0 M, 1 D, 2 I).
TESSIQ_API void traceback_single_affine_safe(DpResult& result, int32_t qlen, int32_t tlen,
                                             int32_t end_bonus, int32_t flags, size_t n_col,
                                             const uint8_t* dir, const int32_t* row_start,
                                             const int32_t* row_end);

// The walk shared by every kernel. Direction bytes hold the winning state in
// bits 0-2 and the continuation of state s in bit s + 2. States 1, 3 are
// deletions (3 is an intron when `intron_state` is set), 2, 4 insertions. A
// remaining target prefix longer than `long_del` becomes N with
// `intron_state`.
void dp_traceback(DpResult& result, int32_t qlen, int32_t tlen, int32_t end_bonus, int32_t flags,
                  size_t n_col, const uint8_t* dir, const int32_t* row_start,
                  const int32_t* row_end, bool intron_state, int64_t long_del);

// Kernel entry points: the dispatchers and every variant.
#define TESSIQ_SINGLE_ARGS                                                                   \
    const uint8_t *query, int32_t qlen, const uint8_t *target, int32_t tlen, int8_t m,       \
        const int8_t *mat, size_t mat_len, int8_t q, int8_t e, int32_t w, int32_t zdrop,      \
        int32_t end_bonus, int32_t flags, DpResult &result
#define TESSIQ_DUAL_ARGS                                                                     \
    const uint8_t *query, int32_t qlen, const uint8_t *target, int32_t tlen, int8_t m,       \
        const int8_t *mat, size_t mat_len, int8_t q, int8_t e, int8_t q2, int8_t e2, int32_t w, \
        int32_t zdrop, int32_t end_bonus, int32_t flags, DpResult &result
#define TESSIQ_SPLICE_ARGS                                                                   \
    const uint8_t *query, int32_t qlen, const uint8_t *target, int32_t tlen, int8_t m,       \
        const int8_t *mat, size_t mat_len, int8_t q, int8_t e, int8_t q2, int8_t noncan,      \
        int32_t zdrop, int32_t end_bonus, int32_t junc_bonus, int32_t junc_pen, int32_t flags, \
        const uint8_t *junc, size_t junc_len, DpResult &result

TESSIQ_API void extend_single_affine(TESSIQ_SINGLE_ARGS);
TESSIQ_API void extend_single_affine_scalar(TESSIQ_SINGLE_ARGS);
TESSIQ_API void extend_single_affine_sse2(TESSIQ_SINGLE_ARGS);
TESSIQ_API void extend_single_affine41_impl(TESSIQ_SINGLE_ARGS);
TESSIQ_API void extend_single_affine_avx2_fn(TESSIQ_SINGLE_ARGS);
TESSIQ_API void extend_single_affine_avx512_fn(TESSIQ_SINGLE_ARGS);

TESSIQ_API void extend_dual_affine(TESSIQ_DUAL_ARGS);
TESSIQ_API void extend_dual_affine_scalar(TESSIQ_DUAL_ARGS);
TESSIQ_API void extend_dual_affine2_impl(TESSIQ_DUAL_ARGS);
TESSIQ_API void extend_dual_affine41_impl(TESSIQ_DUAL_ARGS);
TESSIQ_API void extend_dual_affine_avx2_fn(TESSIQ_DUAL_ARGS);
TESSIQ_API void extend_dual_affine_avx512_fn(TESSIQ_DUAL_ARGS);

TESSIQ_API void extend_splice(TESSIQ_SPLICE_ARGS);
TESSIQ_API void extend_splice_scalar(TESSIQ_SPLICE_ARGS);
TESSIQ_API void extend_splice_sse2(TESSIQ_SPLICE_ARGS);
TESSIQ_API void extend_splice41_impl(TESSIQ_SPLICE_ARGS);
TESSIQ_API void extend_splice_avx2_fn(TESSIQ_SPLICE_ARGS);
TESSIQ_API void extend_splice_avx512_fn(TESSIQ_SPLICE_ARGS);

}  // namespace tessiq
