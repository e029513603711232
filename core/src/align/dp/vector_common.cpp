#include "align/dp/vector_common.h"

#include <cstring>

namespace tessiq {

VectorKernel vector_kernel(SimdLevel level, DpFamily family) {
    static const VectorKernel table[4][3] = {
        {dp_sse2::single_kernel, dp_sse2::dual_kernel, dp_sse2::splice_kernel},
        {dp_sse41::single_kernel, dp_sse41::dual_kernel, dp_sse41::splice_kernel},
        {dp_avx2::single_kernel, dp_avx2::dual_kernel, dp_avx2::splice_kernel},
        {dp_avx512::single_kernel, dp_avx512::dual_kernel, dp_avx512::splice_kernel},
    };
    int row = 0;
    switch (level) {
        case SimdLevel::Sse41: row = 1; break;
        case SimdLevel::Avx2: row = 2; break;
        case SimdLevel::Avx512: row = 3; break;
        default: row = 0; break;
    }
    return table[row][int(family)];
}

int lane_bytes(SimdLevel level) {
    return level == SimdLevel::Avx512 ? 64 : level == SimdLevel::Avx2 ? 32 : 16;
}

DpScores scores_of(const DpResult& r) {
    return DpScores{r.max, r.max_q, r.max_t, r.mqe, r.mqe_t, r.mte, r.mte_q, r.score,
                    r.reached_end, r.z_dropped};
}

void store_scores(DpResult& r, const DpScores& o) {
    r.max = o.max;
    r.max_q = o.max_q;
    r.max_t = o.max_t;
    r.mqe = o.mqe;
    r.mqe_t = o.mqe_t;
    r.mte = o.mte;
    r.mte_q = o.mte_q;
    r.score = o.score;
    r.reached_end = o.reached_end;
    r.z_dropped = o.z_dropped;
}

namespace {
constexpr size_t round64(size_t n) { return (n + 63) & ~size_t(63); }
constexpr size_t ARRAY_PAD = 64;  // in front of and behind every per-position array
}  // namespace

namespace {

struct Layout {
    size_t arrays, qr, tp, h, rows, dir, total;
    size_t n_col;
};

Layout layout_of(int32_t qlen, int32_t tlen, int32_t flags, int64_t band_cells, int col_group,
                 bool need_h) {
    Layout l{};
    const size_t n_rows = size_t(qlen) + size_t(tlen) - 1;
    const size_t stride = round64(size_t(tlen) + 3 * ARRAY_PAD);
    l.arrays = 0;
    l.qr = 9 * stride;
    l.tp = l.qr + round64(size_t(qlen) + 3 * ARRAY_PAD);
    l.h = l.tp + round64(size_t(tlen) + 2 * ARRAY_PAD);
    l.rows = l.h + (need_h ? round64(4 * (size_t(tlen) + 16)) : 0);
    l.dir = l.rows + ((flags & 0x01) ? 0 : round64(8 * n_rows));
    const size_t g = size_t(col_group);
    l.n_col = g * ((size_t(band_cells) + g - 1) / g + 1);
    l.total = l.dir + ((flags & 0x01) ? 0 : n_rows * l.n_col + 64);
    return l;
}

}  // namespace

VectorScratch::VectorScratch(VectorArgs& a, const uint8_t* query, int32_t qlen,
                             const uint8_t* target, int32_t tlen, int m, const int8_t* mat,
                             int32_t zdrop, int32_t flags, int64_t band_cells, int col_group,
                             bool need_h, size_t align)
    : mem_(layout_of(qlen, tlen, flags, band_cells, col_group, need_h).total, align) {
    const Layout l = layout_of(qlen, tlen, flags, band_cells, col_group, need_h);
    uint8_t* base = mem_.data();
    const size_t stride = round64(size_t(tlen) + 3 * ARRAY_PAD);
    // only the per-position arrays are read before written; direction rows
    // and row bounds are written before the traceback reads them
    std::memset(base, 0, 9 * stride);
    int8_t* arr[9];
    for (int k = 0; k < 9; ++k) arr[k] = reinterpret_cast<int8_t*>(base + k * stride + ARRAY_PAD);
    a.u = arr[0];
    a.v = arr[1];
    a.x = arr[2];
    a.y = arr[3];
    a.x2 = arr[4];
    a.y2 = arr[5];
    a.s = arr[6];
    a.donor = arr[7];
    a.acceptor = arr[8];
    // the widened anti-diagonals read up to 16 codes past either end of
    // both sequences: pad them with the ambiguous code
    const uint8_t pad = static_cast<uint8_t>(m - 1);
    uint8_t* qr = base + l.qr + ARRAY_PAD;
    std::memset(qr - ARRAY_PAD, pad, size_t(qlen) + 3 * ARRAY_PAD);
    for (int32_t j = 0; j < qlen; ++j) qr[j] = query[qlen - 1 - j];
    uint8_t* tp = base + l.tp;
    std::memcpy(tp, target, size_t(tlen));
    std::memset(tp + tlen, pad, 2 * ARRAY_PAD);
    a.qr = qr;
    a.tp = tp;
    a.H = need_h ? reinterpret_cast<int32_t*>(base + l.h) : nullptr;
    if (need_h) std::memset(a.H, 0, 4 * (size_t(tlen) + 16));
    if (flags & 0x01) {
        a.dir = nullptr;
        a.row_start = a.row_end = nullptr;
        a.n_col = 0;
    } else {
        const size_t n_rows = size_t(qlen) + size_t(tlen) - 1;
        a.row_start = reinterpret_cast<int32_t*>(base + l.rows);
        a.row_end = a.row_start + n_rows;
        a.dir = base + l.dir;
        a.n_col = l.n_col;
    }
    a.qlen = qlen;
    a.tlen = tlen;
    a.m = m;
    a.mat = mat;
    a.zdrop = zdrop;
    a.flags = flags;
}

}  // namespace tessiq
