// Scratch cache, matrix check and the traceback walk shared by the kernels.
#include "align/dp/common.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tessiq {

namespace {

struct CachedBlock {
    uint8_t* ptr = nullptr;
    size_t size = 0;
    size_t align = 0;
};

// Freed when the thread ends, so short-lived threads do not leak.
struct CacheSlot {
    CachedBlock block;
    ~CacheSlot() { std::free(block.ptr); }
};

thread_local CacheSlot DP_MEM_CACHE;

}  // namespace

AlignedMemory::AlignedMemory(size_t size, size_t align) {
    CachedBlock b = DP_MEM_CACHE.block;
    DP_MEM_CACHE.block = CachedBlock{};
    if (b.ptr && b.size >= size && b.align >= align) {
        ptr_ = b.ptr;
        size_ = b.size;
        align_ = b.align;
        return;
    }
    std::free(b.ptr);
    if (align == 0 || (align & (align - 1)) != 0 || size > (uint64_t(1) << 63) - align)
        throw FatalError("DP: invalid alignment layout (size=" + std::to_string(size) +
                         ", align=" + std::to_string(align) + ")");
    void* p = nullptr;
    const size_t sys_align = std::max<size_t>(align, sizeof(void*));
    if (posix_memalign(&p, sys_align, size == 0 ? 1 : size) != 0 || p == nullptr)
        throw FatalError("DP: failed to allocate " + std::to_string(size) + " bytes (aligned to " +
                         std::to_string(align) + ")");
    std::memset(p, 0, size);
    ptr_ = static_cast<uint8_t*>(p);
    size_ = size;
    align_ = align;
}

AlignedMemory::~AlignedMemory() {
    std::free(DP_MEM_CACHE.block.ptr);
    DP_MEM_CACHE.block = CachedBlock{ptr_, size_, align_};
}

DpCacheInfo dp_mem_cache_info() {
    const CachedBlock& b = DP_MEM_CACHE.block;
    return DpCacheInfo{b.size, b.align, b.ptr != nullptr};
}

void dp_mem_cache_clear() {
    std::free(DP_MEM_CACHE.block.ptr);
    DP_MEM_CACHE.block = CachedBlock{};
}

void dp_check_matrix(int m, size_t mat_len) {
    // entries 0 and 1 are read for every m, the whole m x m block otherwise
    const size_t need = std::max<size_t>(2, m > 0 ? size_t(m) * size_t(m) : 0);
    if (mat_len < need)
        throw FatalError("DP: scoring matrix holds " + std::to_string(mat_len) +
                         " entries, needs " + std::to_string(need));
}

namespace {

inline void push_op(std::vector<uint32_t>& cigar, uint32_t op, uint32_t len) {
    if (len == 0) return;
    if (!cigar.empty() && (cigar.back() & 0xf) == op)
        cigar.back() += len << 4;
    else
        cigar.push_back(len << 4 | op);
}

}  // namespace

void dp_traceback(DpResult& res, int32_t qlen, int32_t tlen, int32_t end_bonus, int32_t flags,
                  size_t n_col, const uint8_t* dir, const int32_t* row_start,
                  const int32_t* row_end, bool intron_state, int64_t long_del) {
    int64_t i, j;
    if (!res.z_dropped && !(flags & EXTEND_ONLY)) {
        i = tlen - 1;
        j = qlen - 1;
    } else if (!res.z_dropped && (flags & EXTEND_ONLY) &&
               int64_t(res.mqe) + end_bonus > int64_t(res.max)) {
        res.reached_end = 1;
        i = res.mqe_t;
        j = qlen - 1;
    } else {
        if (res.max_t < 0 || res.max_q < 0) return;
        i = res.max_t;
        j = res.max_q;
    }
    // A start cell outside the matrix (a stale caller value) has no stored
    // path: leave the CIGAR alone rather than read past the direction rows.
    if (i >= tlen || j >= qlen) return;
    std::vector<uint32_t> cigar;
    int s = 0;
    while (i >= 0 && j >= 0) {
        const int64_t r = i + j;
        if (i < row_start[r]) {
            s = 2;
        } else if (i > row_end[r]) {
            s = 1;
        } else {
            const uint8_t d = dir[size_t(r) * n_col + size_t(i - row_start[r])];
            if (s == 0 || !((d >> (s + 2)) & 1)) s = d & 7;
        }
        switch (s) {
            case 0:
                push_op(cigar, CIGAR_M, 1);
                --i;
                --j;
                break;
            case 1:
                push_op(cigar, CIGAR_D, 1);
                --i;
                break;
            case 3:
                push_op(cigar, intron_state ? CIGAR_N : CIGAR_D, 1);
                --i;
                break;
            default:  // 2 and 4
                push_op(cigar, CIGAR_I, 1);
                --j;
                break;
        }
    }
    if (i >= 0) push_op(cigar, intron_state && i + 1 > long_del ? CIGAR_N : CIGAR_D, uint32_t(i + 1));
    if (j >= 0) push_op(cigar, CIGAR_I, uint32_t(j + 1));
    if (!(flags & REVERSE_CIGAR)) std::reverse(cigar.begin(), cigar.end());
    res.cigar = std::move(cigar);
}

void traceback_single_affine_safe(DpResult& result, int32_t qlen, int32_t tlen, int32_t end_bonus,
                                  int32_t flags, size_t n_col, const uint8_t* dir,
                                  const int32_t* row_start, const int32_t* row_end) {
    dp_traceback(result, qlen, tlen, end_bonus, flags, n_col, dir, row_start, row_end, false, 0);
}

}  // namespace tessiq
