// The single-affine vector body, written once over the lane traits of
// lanes.h and instantiated in each per-instruction-set unit. Values are 8-bit
// differences with a q + e offset; every variant widens each anti-diagonal to
// 16-cell groups so that all vector variants compute the same cells.

struct SingleCells {
    const VectorArgs& a;
    int64_t qoff = 0, st16 = 0;
    uint8_t* drow = nullptr;
    bool right, generic;

    explicit SingleCells(const VectorArgs& args)
        : a(args), right(args.flags & 0x02), generic(args.flags & 0x04) {}

    template <class L>
    TQ_MEM typename L::T subst(int64_t t) {
        using T = typename L::T;
        if (generic) return L::load(a.s + t);
        const T ta = L::load(a.tp + t), qb = L::load(a.qr + qoff + t), m1 = L::set1(a.m - 1);
        const T s = L::sel(L::eq(ta, qb), L::set1(a.match), L::set1(a.mismatch));
        return L::sel(L::mor(L::eq(ta, m1), L::eq(qb, m1)), L::set1(a.amb), s);
    }

    template <class L>
    TQ_MEM void step(int64_t t) {
        using T = typename L::T;
        const T zero = L::set1(0), qe2 = L::set1(2 * (a.q + a.e)), qv = L::set1(a.q);
        const T xc = L::load(a.x + t - 1), vc = L::load(a.v + t - 1);
        const T uo = L::load(a.u + t), yo = L::load(a.y + t);
        const T zd = L::add(subst<L>(t), qe2), za = L::add(xc, vc), zb = L::add(yo, uo);
        const T mx = L::max(zd, za), z = L::max(mx, zb);
        L::store(a.u + t, L::sub(z, vc));
        L::store(a.v + t, L::sub(z, uo));
        const T zq = L::sub(z, qv);
        const T xa = L::sub(za, zq), yb = L::sub(zb, zq);
        L::store(a.x + t, L::max(xa, zero));
        L::store(a.y + t, L::max(yb, zero));
        if (drow) {
            T d;
            if (!right) {
                d = L::maskz(L::gt(za, zd), L::set1(1));
                d = L::sel(L::gt(zb, mx), L::set1(2), d);
            } else {
                d = L::sel(L::gt(zd, za), zero, L::set1(1));
                d = L::sel(L::gt(mx, zb), d, L::set1(2));
            }
            d = L::bor(d, L::maskz(L::gt(xa, zero), L::set1(0x08)));
            d = L::bor(d, L::maskz(L::gt(yb, zero), L::set1(0x10)));
            L::store(drow + (t - st16), d);
        }
    }
};

static void single_body(const VectorArgs& a, DpScores& o) {
    const int64_t qlen = a.qlen, tlen = a.tlen, w = a.w;
    const int32_t qe = a.q + a.e;
    const int8_t qe2 = static_cast<int8_t>(2 * qe);
    const bool approx_max = a.flags & 0x08, approx_drop = a.flags & 0x10;
    SingleCells cells(a);
    int64_t last_st16 = -1, last_en16 = -1, t0 = 0;
    int64_t H0 = 0;
    for (int64_t r = 0; r < qlen + tlen - 1; ++r) {
        const int64_t st = max3(0, r - qlen + 1, half_floor(r - w + 1));
        const int64_t en = min3(tlen - 1, r, half_floor(r + w));
        if (st > en) {
            o.z_dropped = 1;
            break;
        }
        const int64_t st16 = st & ~int64_t(15), en16 = en | 15;
        if (st16 == 0) {
            a.x[-1] = 0;
            a.v[-1] = static_cast<int8_t>(r > 0 ? a.q : 0);
        } else if (!(st16 - 1 >= last_st16 && st16 - 1 <= last_en16)) {
            a.x[st16 - 1] = 0;
            a.v[st16 - 1] = 0;
        }
        if (en16 >= r) {
            a.y[r] = 0;
            a.u[r] = static_cast<int8_t>(r > 0 ? a.q : 0);
        }
        cells.qoff = qlen - 1 - r;
        cells.st16 = st16;
        if (cells.generic) {
            const int m = a.m;
            for (int64_t t = st16; t <= en16; ++t) {
                const int ta = a.tp[t] < m ? a.tp[t] : m - 1;
                const int qb = a.qr[cells.qoff + t] < m ? a.qr[cells.qoff + t] : m - 1;
                a.s[t] = a.mat[ta * m + qb];
            }
        }
        if (a.dir) {
            cells.drow = a.dir + size_t(r) * a.n_col;
            a.row_start[r] = static_cast<int32_t>(st16);
            a.row_end[r] = static_cast<int32_t>(en16);
        }
        for_chunks_desc(st16, en16, cells);
        // the tracked path, on the exact band
        if (r == 0) {
            H0 = a.v[0] - qe2;
            t0 = 0;
        } else if (t0 >= st && t0 <= en) {
            if (t0 < en) {
                const int d0 = a.v[t0] - qe, d1 = a.u[t0 + 1] - qe;
                if (d0 > d1) {
                    H0 += d0;
                } else {
                    H0 += d1;
                    ++t0;
                }
            } else {
                H0 += a.v[t0] - qe;
            }
        } else {
            ++t0;
            H0 += a.u[t0] - qe;
        }
        if (!approx_max || approx_drop) {
            if (H0 > o.max) {
                o.max = static_cast<int32_t>(H0);
                o.max_t = static_cast<int32_t>(t0);
                o.max_q = static_cast<int32_t>(r - t0);
            } else if (approx_drop && t0 >= o.max_t && a.zdrop >= 0 && r - t0 >= o.max_q) {
                const int64_t dt = t0 - o.max_t, dq = (r - t0) - o.max_q;
                const int64_t l = dt > dq ? dt - dq : dq - dt;
                if (int64_t(o.max) - H0 > int64_t(a.zdrop) + l * a.e) {
                    o.z_dropped = 1;
                    break;
                }
            }
        }
        if (r == qlen + tlen - 2 && en == tlen - 1) o.score = static_cast<int32_t>(H0);
        last_st16 = st16;
        last_en16 = en16;
    }
}
