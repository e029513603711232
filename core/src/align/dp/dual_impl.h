// The dual-affine vector body (two gap pairs, five states), written once over
// the lane traits of lanes.h and instantiated per instruction set. Values are
// plain 8-bit differences; anti-diagonals are widened to 16-cell groups.

struct DualCells {
    const VectorArgs& a;
    int64_t qoff = 0, st16 = 0;
    uint8_t* drow = nullptr;
    bool right, generic;

    explicit DualCells(const VectorArgs& args)
        : a(args), right(args.flags & 0x02), generic(args.flags & 0x04) {}

    template <class L>
    TQ_MEM void step(int64_t t) {
        using T = typename L::T;
        const T zero = L::set1(0);
        const T xc = L::load(a.x + t - 1), vc = L::load(a.v + t - 1), x2c = L::load(a.x2 + t - 1);
        const T uo = L::load(a.u + t), yo = L::load(a.y + t), y2o = L::load(a.y2 + t);
        const T s = subst_vec<L>(a, qoff, t, generic);
        const T av = L::add(xc, vc), bv = L::add(yo, uo), a2 = L::add(x2c, vc), b2 = L::add(y2o, uo);
        const T sa = L::max(s, av), z0 = L::max(sa, bv), z0a2 = L::max(z0, a2);
        const T z = L::min(L::max(z0a2, b2), L::set1(a.match));
        L::store(a.u + t, L::sub(z, vc));
        L::store(a.v + t, L::sub(z, uo));
        const T zq = L::sub(z, L::set1(a.q)), zq2 = L::sub(z, L::set1(a.q2));
        const T ta = L::sub(av, zq), tb = L::sub(bv, zq), ta2 = L::sub(a2, zq2), tb2 = L::sub(b2, zq2);
        const T qe = L::set1(a.q + a.e), qe2 = L::set1(a.q2 + a.e2);
        L::store(a.x + t, L::sub(L::max(ta, zero), qe));
        L::store(a.y + t, L::sub(L::max(tb, zero), qe));
        L::store(a.x2 + t, L::sub(L::max(ta2, zero), qe2));
        L::store(a.y2 + t, L::sub(L::max(tb2, zero), qe2));
        if (drow) {
            T d;
            const T lim = right ? L::set1(-1) : zero;
            if (!right) {
                d = L::maskz(L::gt(av, s), L::set1(1));
                d = L::sel(L::gt(bv, sa), L::set1(2), d);
                d = L::sel(L::gt(a2, z0), L::set1(3), d);
                d = L::sel(L::gt(b2, z0a2), L::set1(4), d);
            } else {
                d = L::sel(L::gt(s, av), zero, L::set1(1));
                d = L::sel(L::gt(sa, bv), d, L::set1(2));
                d = L::sel(L::gt(z0, a2), d, L::set1(3));
                d = L::sel(L::gt(z0a2, b2), d, L::set1(4));
            }
            d = L::bor(d, L::maskz(L::gt(ta, lim), L::set1(0x08)));
            d = L::bor(d, L::maskz(L::gt(tb, lim), L::set1(0x10)));
            d = L::bor(d, L::maskz(L::gt(ta2, lim), L::set1(0x20)));
            d = L::bor(d, L::maskz(L::gt(tb2, lim), L::set1(0x40)));
            L::store(drow + (t - st16), d);
        }
    }
};

static void dual_body(const VectorArgs& a, DpScores& o) {
    const int64_t qlen = a.qlen, tlen = a.tlen, w = a.w, L = a.long_gap;
    const int32_t qe = a.q + a.e, qe2 = a.q2 + a.e2;
    const int8_t D = static_cast<int8_t>(a.q + L * (a.e - a.e2) - qe2);
    const bool approx_max = a.flags & 0x08, approx_drop = a.flags & 0x10;
    DualCells cells(a);
    int64_t last_st16 = -1, last_en16 = -1, t0 = 0, H0 = 0;
    auto lead = [&](int64_t r) -> int8_t {
        return static_cast<int8_t>(r == 0 ? -qe : r < L ? -a.e : r == L ? D : -a.e2);
    };
    for (int64_t r = 0; r < qlen + tlen - 1; ++r) {
        const int64_t st = max3(0, r - qlen + 1, half_floor(r - w + 1));
        const int64_t en = min3(tlen - 1, r, half_floor(r + w));
        if (st > en) {
            o.z_dropped = 1;
            break;
        }
        const int64_t st16 = st & ~int64_t(15), en16 = en | 15;
        if (st16 == 0) {
            a.x[-1] = static_cast<int8_t>(-qe);
            a.x2[-1] = static_cast<int8_t>(-qe2);
            a.v[-1] = lead(r);
        } else if (!(st16 - 1 >= last_st16 && st16 - 1 <= last_en16)) {
            a.x[st16 - 1] = a.v[st16 - 1] = static_cast<int8_t>(-qe);
            a.x2[st16 - 1] = static_cast<int8_t>(-qe2);
        }
        if (en16 >= r) {
            a.y[r] = static_cast<int8_t>(-qe);
            a.y2[r] = static_cast<int8_t>(-qe2);
            a.u[r] = lead(r);
        }
        cells.qoff = qlen - 1 - r;
        cells.st16 = st16;
        if (cells.generic) fill_generic_scores(a, cells.qoff, st16, en16);
        if (a.dir) {
            cells.drow = a.dir + size_t(r) * a.n_col;
            a.row_start[r] = static_cast<int32_t>(st16);
            a.row_end[r] = static_cast<int32_t>(en16);
        }
        for_chunks_desc(st16, en16, cells);
        if (approx_max) {
            if (path_scores(a.u, a.v, qe, r, st, en, qlen, tlen, approx_drop, a.zdrop, a.e2, t0, H0, o))
                break;
        } else if (exact_scores(a.H, a.u, a.v, qe, r, st, en, qlen, tlen, a.zdrop, a.e2, o)) {
            break;
        }
        last_st16 = st16;
        last_en16 = en16;
    }
    if (approx_max && o.score == -(1 << 30)) o.score = o.max;
}
