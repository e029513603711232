#include "align/junc.h"

#include "util/utf8.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace tessiq {
namespace {

// Reads text lines through one 8 KiB buffer. A line ends at LF; a CR right
// before the LF is dropped; the last line needs no LF.
class LineReader {
public:
    explicit LineReader(const std::string& path) {
        do {
            fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) throw Error(ErrorKind::Io, std::strerror(errno));
    }
    ~LineReader() { ::close(fd_); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line without its terminator, or false at the end of the file.
    bool next(std::string_view& line) {
        line_.clear();
        bool any = false;
        for (;;) {
            if (pos_ == len_) {
                if (!fill()) break;
            }
            any = true;
            const char* start = buf_ + pos_;
            const void* nl = std::memchr(start, '\n', len_ - pos_);
            if (nl) {
                const size_t n = static_cast<const char*>(nl) - start;
                line_.append(start, n);
                pos_ += n + 1;
                return finish(line);
            }
            line_.append(start, len_ - pos_);
            pos_ = len_;
        }
        if (!any) return false;
        return finish(line);
    }

private:
    bool fill() {
        for (;;) {
            const ssize_t r = ::read(fd_, buf_, sizeof buf_);
            if (r >= 0) {
                pos_ = 0;
                len_ = static_cast<size_t>(r);
                return r > 0;
            }
            if (errno != EINTR) throw Error(ErrorKind::Io, std::strerror(errno));
        }
    }
    bool finish(std::string_view& line) {
        if (!is_valid_utf8(line_)) throw Error(ErrorKind::Io, "stream did not contain valid UTF-8");
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        line = line_;
        return true;
    }

    int fd_ = -1;
    char buf_[8192];
    size_t pos_ = 0, len_ = 0;
    std::string line_;
};

// Splits on tabs into views of the line.
void split(std::string_view line, char sep, std::vector<std::string_view>& out) {
    out.clear();
    size_t s = 0;
    for (;;) {
        const size_t e = line.find(sep, s);
        if (e == std::string_view::npos) {
            out.push_back(line.substr(s));
            return;
        }
        out.push_back(line.substr(s, e - s));
        s = e + 1;
    }
}

// Decimal integer with an optional sign, nothing else; false on overflow.
template <typename T>
bool parse_int(std::string_view s, T& out) {
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        neg = s[i] == '-';
        ++i;
    }
    if (i == s.size()) return false;
    if (neg && !std::numeric_limits<T>::is_signed) return false;
    // Accumulate toward the sign so that the minimum value parses too.
    T v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c < '0' || c > '9') return false;
        const T d = static_cast<T>(c - '0');
        if (neg) {
            if (v < (std::numeric_limits<T>::min() + d) / 10) return false;
            v = static_cast<T>(v * 10 - d);
        } else {
            if (v > (std::numeric_limits<T>::max() - d) / 10) return false;
            v = static_cast<T>(v * 10 + d);
        }
    }
    out = v;
    return true;
}

bool lookup(const TargetNameMap& names, std::string_view name, size_t n_targets, uint32_t& id) {
    const auto it = names.find(name);
    if (it == names.end() || it->second >= n_targets) return false;
    id = it->second;
    return true;
}

void parse_list(std::string_view field, std::vector<int32_t>& out,
                std::vector<std::string_view>& pieces) {
    out.clear();
    split(field, ',', pieces);
    for (std::string_view p : pieces) {
        int32_t v;
        if (!p.empty() && parse_int(p, v)) out.push_back(v);
    }
}

}  // namespace

JunctionDb load_bed_junctions(const std::string& path, const TargetNameMap& names,
                              size_t n_targets) {
    LineReader reader(path);
    JunctionDb::Bed lists(n_targets);
    std::vector<std::string_view> fields, pieces;
    std::vector<int32_t> sizes, starts;
    std::string_view line;
    while (reader.next(line)) {
        if (line.empty() || line.starts_with("#") || line.starts_with("track") ||
            line.starts_with("browser"))
            continue;
        split(line, '\t', fields);
        if (fields.size() < 3 || names.empty()) continue;
        uint32_t id;
        if (!lookup(names, fields[0], n_targets, id)) continue;
        int32_t start, end;
        if (!parse_int(fields[1], start) || !parse_int(fields[2], end)) continue;
        if (!(0 <= start && start < end)) continue;
        int32_t strand = 0;
        if (fields.size() >= 6) {
            if (fields[5] == "+") strand = 1;
            else if (fields[5] == "-") strand = -1;
        }
        if (fields.size() < 12) {
            lists[id].push_back({start, end, strand});
            continue;
        }
        uint64_t count;
        if (!parse_int(fields[9], count) || count <= 1) continue;
        parse_list(fields[10], sizes, pieces);
        parse_list(fields[11], starts, pieces);
        if (sizes.size() < count || starts.size() < count) continue;
        for (uint64_t k = 0; k + 1 < count; ++k) {
            // In 64 bits: block offsets may push the sum past the 32-bit range,
            // and such introns (or ones before the target start) cannot exist.
            const int64_t donor = int64_t{start} + starts[k] + sizes[k];
            const int64_t acceptor = int64_t{start} + starts[k + 1];
            if (donor < acceptor && donor >= 0 && acceptor <= std::numeric_limits<int32_t>::max())
                lists[id].push_back({static_cast<int32_t>(donor), static_cast<int32_t>(acceptor), strand});
        }
    }
    size_t kept = 0;
    for (auto& list : lists) {
        std::stable_sort(list.begin(), list.end(), [](const BedInterval& x, const BedInterval& y) {
            return x.start != y.start ? x.start < y.start : x.end < y.end;
        });
        // The first line naming an intron decides its strand.
        const auto last = std::unique(list.begin(), list.end(), [](const BedInterval& x, const BedInterval& y) {
            return x.start == y.start && x.end == y.end;
        });
        list.erase(last, list.end());
        kept += list.size();
    }
    std::fprintf(stderr, "[M::load_bed_junctions] loaded %zu non-redundant junctions\n", kept);
    JunctionDb db;
    db.data = std::move(lists);
    return db;
}

JunctionDb load_spsc_scores(const std::string& path, const TargetNameMap& names, size_t n_targets,
                            const std::vector<uint64_t>& target_lengths, float scale,
                            int32_t max_score) {
    LineReader reader(path);
    JunctionDb::Spsc lists(2 * n_targets);
    // A negative bound would make the clamp range empty; no score is then kept.
    const int32_t h = std::max(0, std::min(max_score, 63));
    std::vector<std::string_view> fields;
    std::string_view line;
    size_t stored = 0;
    while (reader.next(line)) {
        if (line.empty() || line.starts_with("#")) continue;
        split(line, '\t', fields);
        if (fields.size() < 5 || names.empty()) continue;
        uint32_t id;
        if (!lookup(names, fields[0], n_targets, id)) continue;
        int64_t pos;
        if (!parse_int(fields[1], pos)) continue;
        bool rev, acceptor;
        if (fields[2] == "+") rev = false;
        else if (fields[2] == "-") rev = true;
        else continue;
        if (fields[3] == "D") acceptor = false;
        else if (fields[3] == "A") acceptor = true;
        else continue;
        int32_t score;
        if (!parse_int(fields[4], score)) continue;
        if (0 < scale && scale < 1) {
            const double s = score > 0 ? double(score) * double(scale) + 0.499
                                       : double(score) * double(scale) - 0.499;
            const double t = std::trunc(s);
            score = t >= 2147483647.0 ? 2147483647 : t <= -2147483648.0 ? -2147483647 - 1 : int32_t(t);
        }
        score = std::clamp(score, -h, h);
        // An acceptor at +63 would pack to the byte 255, which get_junc uses
        // for "no site"; it is kept one step lower so that it stays visible.
        if (acceptor && score == 63) score = 62;
        // Positions must also leave room for the 8 low bits of the entry.
        if (id >= target_lengths.size() || pos < 1 || uint64_t(pos) >= target_lengths[id] ||
            pos >= (int64_t{1} << 56))
            continue;
        const uint64_t entry = uint64_t(pos) << 8 | uint64_t(score + 64) << 1 | (acceptor ? 1 : 0);
        lists[2 * size_t{id} + (rev ? 1 : 0)].entries.push_back(entry);
        ++stored;
    }
    for (auto& list : lists) std::sort(list.entries.begin(), list.entries.end());
    std::fprintf(stderr, "[M::load_spsc_scores] loaded %zu splice scores\n", stored);
    JunctionDb db;
    db.data = std::move(lists);
    return db;
}

void get_junc(const JunctionDb& db, uint32_t target_id, int64_t a, int64_t b, bool reverse,
              uint8_t* out) {
    if (b <= a) return;
    const size_t len = static_cast<size_t>(b - a);
    if (const auto* bed = std::get_if<JunctionDb::Bed>(&db.data)) {
        std::memset(out, 0, len);
        if (target_id >= bed->size()) return;
        const auto& list = (*bed)[target_id];
        auto it = std::lower_bound(list.begin(), list.end(), a,
                                   [](const BedInterval& iv, int64_t v) { return iv.start < v; });
        // Sorted by start: once start reaches b no later interval ends by b.
        for (; it != list.end() && it->start < b; ++it) {
            if (it->end > b || it->strand == 0) continue;
            const size_t s = static_cast<size_t>(it->start - a), e = static_cast<size_t>(it->end - 1 - a);
            if (it->strand > 0) {
                out[s] |= 0x01;
                out[e] |= 0x02;
            } else {
                out[s] |= 0x08;
                out[e] |= 0x04;
            }
        }
        return;
    }
    const auto& spsc = std::get<JunctionDb::Spsc>(db.data);
    std::memset(out, 255, len);
    const size_t li = 2 * size_t{target_id} + (reverse ? 1 : 0);
    if (li >= spsc.size()) return;
    const auto& e = spsc[li].entries;
    constexpr int64_t POS_LIMIT = int64_t{1} << 56;  // no site lies at or beyond
    if (e.empty() || b <= 0 || a >= POS_LIMIT) return;
    // Sites at positions a .. b-1, the whole region.
    const uint64_t lo = a <= 0 ? 0 : uint64_t(a) << 8;
    const uint64_t hi = b >= POS_LIMIT ? UINT64_MAX : uint64_t(b) << 8;
    auto it = std::lower_bound(e.begin(), e.end(), lo);
    const auto stop = std::lower_bound(it, e.end(), hi);
    for (; it != stop; ++it) {
        const size_t i = static_cast<size_t>(int64_t(*it >> 8) - a);
        const uint8_t v = static_cast<uint8_t>(*it & 0xff);
        if (out[i] == 255 || out[i] < v) out[i] = v;
    }
}

}  // namespace tessiq
