// The splice-aware vector body (match, deletion, insertion, intron), written
// once over the lane traits of lanes.h and instantiated per instruction set.
// Unbanded; anti-diagonals are widened to 16-cell groups.

struct SpliceCells {
    const VectorArgs& a;
    int64_t qoff = 0, st16 = 0;
    uint8_t* drow = nullptr;
    bool right, generic;

    explicit SpliceCells(const VectorArgs& args)
        : a(args), right(args.flags & 0x02), generic(args.flags & 0x04) {}

    template <class L>
    TQ_MEM void step(int64_t t) {
        using T = typename L::T;
        const T zero = L::set1(0);
        const T xc = L::load(a.x + t - 1), vc = L::load(a.v + t - 1), x2c = L::load(a.x2 + t - 1);
        const T uo = L::load(a.u + t), yo = L::load(a.y + t);
        const T acc = L::load(a.acceptor + t), don = L::load(a.donor + t);
        const T s = subst_vec<L>(a, qoff, t, generic);
        const T av = L::add(xc, vc), bv = L::add(yo, uo), a2 = L::add(x2c, vc);
        const T a2a = L::add(a2, acc);
        const T sa = L::max(s, av), z0 = L::max(sa, bv), z = L::max(z0, a2a);
        L::store(a.u + t, L::sub(z, vc));
        L::store(a.v + t, L::sub(z, uo));
        const T zq = L::sub(z, L::set1(a.q)), qe = L::set1(a.q + a.e), q2 = L::set1(a.q2);
        const T ta = L::sub(av, zq), tb = L::sub(bv, zq);
        const T t2 = L::add(q2, L::sub(a2, z));
        L::store(a.x + t, L::sub(L::max(ta, zero), qe));
        L::store(a.y + t, L::sub(L::max(tb, zero), qe));
        L::store(a.x2 + t, L::sub(L::max(don, t2), q2));
        if (drow) {
            T d;
            if (!right) {
                d = L::maskz(L::gt(av, s), L::set1(1));
                d = L::sel(L::gt(bv, sa), L::set1(2), d);
                d = L::sel(L::gt(a2a, z0), L::set1(3), d);
                d = L::bor(d, L::maskz(L::gt(ta, zero), L::set1(0x08)));
                d = L::bor(d, L::maskz(L::gt(tb, zero), L::set1(0x10)));
                d = L::bor(d, L::maskz(L::gt(t2, don), L::set1(0x20)));
            } else {
                const T m1 = L::set1(-1);
                d = L::sel(L::gt(s, av), zero, L::set1(1));
                d = L::sel(L::gt(sa, bv), d, L::set1(2));
                d = L::sel(L::gt(z0, a2a), d, L::set1(3));
                d = L::bor(d, L::maskz(L::gt(ta, m1), L::set1(0x08)));
                d = L::bor(d, L::maskz(L::gt(tb, m1), L::set1(0x10)));
                d = L::bor(d, L::sel(L::gt(don, t2), zero, L::set1(0x20)));
            }
            L::store(drow + (t - st16), d);
        }
    }
};

static void splice_body(const VectorArgs& a, DpScores& o) {
    const int64_t qlen = a.qlen, tlen = a.tlen, L = a.long_gap;
    const int32_t qe = a.q + a.e;
    const bool approx_max = a.flags & 0x08, approx_drop = a.flags & 0x10;
    SpliceCells cells(a);
    int64_t last_st16 = -1, last_en16 = -1, t0 = 0, H0 = 0;
    auto lead = [&](int64_t r) -> int8_t {
        return static_cast<int8_t>(r == 0 ? -qe : r < L ? -a.e : r == L ? a.e * L - (a.q2 - a.q) : 0);
    };
    for (int64_t r = 0; r < qlen + tlen - 1; ++r) {
        const int64_t st = r - qlen + 1 > 0 ? r - qlen + 1 : 0;
        const int64_t en = tlen - 1 < r ? tlen - 1 : r;
        const int64_t st16 = st & ~int64_t(15), en16 = en | 15;
        if (st16 == 0) {
            a.x[-1] = static_cast<int8_t>(-qe);
            a.x2[-1] = static_cast<int8_t>(-a.q2);
            a.v[-1] = lead(r);
        } else if (!(st16 - 1 >= last_st16 && st16 - 1 <= last_en16)) {
            a.x[st16 - 1] = a.v[st16 - 1] = static_cast<int8_t>(-qe);
            a.x2[st16 - 1] = static_cast<int8_t>(-a.q2);
        }
        if (en16 >= r) {
            a.y[r] = static_cast<int8_t>(-qe);
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
            if (path_scores(a.u, a.v, qe, r, st, en, qlen, tlen, approx_drop, a.zdrop, 0, t0, H0, o))
                break;
        } else if (exact_scores(a.H, a.u, a.v, qe, r, st, en, qlen, tlen, a.zdrop, 0, o)) {
            break;
        }
        last_st16 = st16;
        last_en16 = en16;
    }
}
