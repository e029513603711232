#include "align/extend.h"

#include <algorithm>

namespace tessiq {
namespace {

constexpr char BASES[] = "acgtnACGTN";

char base_char(uint8_t code, bool upper) { return BASES[std::min<unsigned>(code, 4) + (upper ? 5 : 0)]; }

// Bases [from, from + n) of `seq` that lie inside it, in one case.
void put_bases(std::string& out, Codes seq, size_t from, size_t n, bool upper) {
    for (size_t i = from; i < from + n && i < seq.size(); ++i) out += base_char(seq[i], upper);
}

size_t in_range(Codes seq, size_t from, size_t n) {
    return from >= seq.size() ? 0 : std::min(n, seq.size() - from);
}

void put_number(std::string& out, uint64_t v) { out += std::to_string(v); }

// The cs writer; the ds writer differs only in how it prints indels.
class CsWriter : public CigarTagVisitor {
public:
    explicit CsWriter(bool long_form) : long_(long_form) {}

    void visit(const CigarOp& op, const CigarCursor& at) override {
        const size_t L = op.len;
        switch (op.op) {
            case '=':
                if (long_) {
                    out_ += '=';
                    put_bases(out_, at.query, at.qi, L, true);
                } else {
                    out_ += ':';
                    put_number(out_, L);
                }
                break;
            case 'X': {
                const size_t n = std::min(in_range(at.query, at.qi, L), in_range(at.target, at.ti, L));
                for (size_t k = 0; k < n; ++k) mismatch(at, k);
                break;
            }
            case 'M': {
                const size_t n = std::min(in_range(at.query, at.qi, L), in_range(at.target, at.ti, L));
                size_t run_start = 0;
                for (size_t k = 0; k < n; ++k) {
                    if (at.query[at.qi + k] == at.target[at.ti + k]) continue;
                    pending_match(at, run_start, k - run_start);
                    mismatch(at, k);
                    run_start = k + 1;
                }
                pending_match(at, run_start, n - run_start);
                break;
            }
            case 'I':
                indel('+', at.query, at.qi, L, at.qi - query_start_, query_total_);
                break;
            case 'D':
                indel('-', at.target, at.ti, L, at.ti - target_start_, target_total_);
                break;
            case 'N':
                if (L >= 2 && in_range(at.target, at.ti, L) == L) {
                    out_ += '~';
                    put_bases(out_, at.target, at.ti, 2, false);
                    put_number(out_, L);
                    put_bases(out_, at.target, at.ti + L - 2, 2, false);
                }
                break;
            default:
                break;
        }
    }
    std::string finish() override { return std::move(out_); }

    // Where the walk starts and how many positions it covers (used by ds).
    void set_extent(const std::vector<CigarOp>& ops, size_t query_start, size_t target_start) {
        query_start_ = query_start;
        target_start_ = target_start;
        for (const CigarOp& op : ops) {
            if (op.op == '=' || op.op == 'M' || op.op == 'X') {
                query_total_ += op.len;
                target_total_ += op.len;
            } else if (op.op == 'I') {
                query_total_ += op.len;
            } else if (op.op == 'D' || op.op == 'N') {
                target_total_ += op.len;
            }
        }
    }

protected:
    // seq[s .. s+L) is inserted (or deleted); `before` positions of the
    // alignment precede it out of `total`.
    virtual void indel(char sign, Codes seq, size_t s, size_t L, size_t /*before*/, size_t /*total*/) {
        if (in_range(seq, s, L) == 0) return;
        out_ += sign;
        put_bases(out_, seq, s, L, false);
    }

    std::string out_;

private:
    void mismatch(const CigarCursor& at, size_t k) {
        out_ += '*';
        out_ += base_char(at.target[at.ti + k], false);
        out_ += base_char(at.query[at.qi + k], false);
    }
    void pending_match(const CigarCursor& at, size_t from, size_t n) {
        if (n == 0) return;
        if (long_) {
            out_ += '=';
            put_bases(out_, at.query, at.qi + from, n, true);
        } else {
            out_ += ':';
            put_number(out_, n);
        }
    }

    bool long_;
    size_t query_start_ = 0, target_start_ = 0;
    size_t query_total_ = 0, target_total_ = 0;
};

// Short cs with the repeat context of each indel in brackets: the inserted or
// deleted bases that repeat the sequence right after (first bracket) or right
// before (last bracket) them, so that the ambiguity of the gap's position shows.
class DsWriter final : public CsWriter {
public:
    DsWriter() : CsWriter(false) {}

protected:
    void indel(char sign, Codes seq, size_t s, size_t L, size_t P, size_t T) override {
        const size_t n = in_range(seq, s, L);
        if (n == 0) return;
        out_ += sign;
        if (n < L) {  // cut by the end of the array: no context to compare
            put_bases(out_, seq, s, n, false);
            return;
        }
        size_t right = 0;
        while (right < L && L + P + right < T && s + L + right < seq.size() &&
               seq[s + right] == seq[s + L + right])
            ++right;
        size_t left = 0;
        while (left + 1 <= L && left + 1 <= P && seq[s + L - left - 1] == seq[s - left - 1]) ++left;
        if (right + left >= L) {
            out_ += '[';
            put_bases(out_, seq, s, L, false);
            out_ += ']';
            return;
        }
        if (right > 0) {
            out_ += '[';
            put_bases(out_, seq, s, right, false);
            out_ += ']';
        }
        put_bases(out_, seq, s + right, L - right - left, false);
        if (left > 0) {
            out_ += '[';
            put_bases(out_, seq, s + L - left, left, false);
            out_ += ']';
        }
    }
};

class MdWriter final : public CigarTagVisitor {
public:
    void visit(const CigarOp& op, const CigarCursor& at) override {
        switch (op.op) {
            case '=':
                run_ += op.len;
                break;
            case 'X': {
                const size_t n = in_range(at.target, at.ti, op.len);
                for (size_t k = 0; k < n; ++k) {
                    flush();
                    out_ += base_char(at.target[at.ti + k], true);
                }
                break;
            }
            case 'D':
                if (in_range(at.target, at.ti, op.len) == 0) break;
                flush();
                out_ += '^';
                put_bases(out_, at.target, at.ti, op.len, true);
                break;
            default:
                break;
        }
    }
    std::string finish() override {
        flush();
        return std::move(out_);
    }

private:
    void flush() {
        put_number(out_, run_);
        run_ = 0;
    }
    std::string out_;
    uint64_t run_ = 0;
};

}  // namespace

std::vector<CigarOp> convert_cigar_to_eqx(const std::vector<uint32_t>& packed, Codes query,
                                          Codes target, size_t query_start, size_t target_start) {
    std::vector<CigarOp> out;
    out.reserve(packed.size());
    size_t qi = query_start, ti = target_start;
    for (uint32_t w : packed) {
        const uint32_t len = w >> 4, code = w & 0xf;
        switch (code) {
            case 0: {
                // Positions past either array cannot be compared and stay M.
                const size_t n = std::min(in_range(query, qi, len), in_range(target, ti, len));
                size_t k = 0;
                while (k < n) {
                    const bool eq = query[qi + k] == target[ti + k];
                    size_t e = k + 1;
                    while (e < n && (query[qi + e] == target[ti + e]) == eq) ++e;
                    out.push_back({eq ? uint32_t('=') : uint32_t('X'), static_cast<uint32_t>(e - k)});
                    k = e;
                }
                if (n < len) out.push_back({'M', static_cast<uint32_t>(len - n)});
                qi += len;
                ti += len;
                break;
            }
            case 1:
                out.push_back({'I', len});
                qi += len;
                break;
            case 2:
            case 3:
                out.push_back({code == 2 ? uint32_t('D') : uint32_t('N'), len});
                ti += len;
                break;
            case 7:
            case 8:
                out.push_back({code == 7 ? uint32_t('=') : uint32_t('X'), len});
                qi += len;
                ti += len;
                break;
            default:
                out.push_back({'M', len});
                qi += len;
                ti += len;
                break;
        }
    }
    return out;
}

void walk_cigar(const std::vector<CigarOp>& ops, Codes query, Codes target, size_t query_start,
                size_t target_start, CigarTagVisitor& visitor) {
    CigarCursor at{query, target, query_start, target_start};
    for (const CigarOp& op : ops) {
        visitor.visit(op, at);
        switch (op.op) {
            case '=':
            case 'M':
            case 'X':
                at.qi += op.len;
                at.ti += op.len;
                break;
            case 'I':
                at.qi += op.len;
                break;
            case 'D':
            case 'N':
                at.ti += op.len;
                break;
            default:
                break;
        }
    }
}

std::string fmt_cigar(const std::vector<CigarOp>& ops, bool eqx) {
    std::string out;
    auto put = [&](uint32_t op, uint64_t len) {
        put_number(out, len);
        out += static_cast<char>(op);
    };
    if (eqx) {
        for (const CigarOp& op : ops) put(op.op, op.len);
        return out;
    }
    bool have = false;
    uint32_t cur = 0;
    uint64_t len = 0;  // 64 bits: merged runs may exceed one operation's range
    for (const CigarOp& op : ops) {
        const uint32_t c = (op.op == '=' || op.op == 'X') ? uint32_t('M') : op.op;
        if (have && c == cur) {
            len += op.len;
            continue;
        }
        if (have) put(cur, len);
        have = true;
        cur = c;
        len = op.len;
    }
    if (have) put(cur, len);
    return out;
}

std::string fmt_cs(const std::vector<CigarOp>& ops, Codes query, Codes target, size_t query_start,
                   size_t target_start, bool long_form) {
    CsWriter w(long_form);
    w.set_extent(ops, query_start, target_start);
    walk_cigar(ops, query, target, query_start, target_start, w);
    return w.finish();
}

std::string fmt_md(const std::vector<CigarOp>& ops, Codes target, size_t target_start) {
    MdWriter w;
    walk_cigar(ops, Codes{}, target, 0, target_start, w);
    return w.finish();
}

std::string fmt_ds(const std::vector<CigarOp>& ops, Codes query, Codes target, size_t query_start,
                   size_t target_start) {
    DsWriter w;
    w.set_extent(ops, query_start, target_start);
    walk_cigar(ops, query, target, query_start, target_start, w);
    return w.finish();
}

}  // namespace tessiq
