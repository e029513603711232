#include "fasta/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fasta/gzip.h"

namespace tessiq {

namespace {

constexpr size_t LINE_CAPACITY = 65536;

std::string system_text(int err) { return std::strerror(err); }

// A file descriptor read with read(2); standard input is not closed.
class FdSource final : public ByteSource {
public:
    FdSource(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~FdSource() override {
        if (owned_) ::close(fd_);
    }
    size_t read(uint8_t* dst, size_t cap) override {
        if (error_) throw *error_;
        for (;;) {
            const ssize_t n = ::read(fd_, dst, cap);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno == EINTR) continue;
            error_ = FastxError::io(system_text(errno));
            throw *error_;
        }
    }

private:
    int fd_;
    bool owned_;
    std::optional<FastxError> error_;
};

// Bytes already taken from `inner` (to sniff the format) come first.
class PrefixSource final : public ByteSource {
public:
    PrefixSource(std::string prefix, std::unique_ptr<ByteSource> inner)
        : prefix_(std::move(prefix)), inner_(std::move(inner)) {}
    size_t read(uint8_t* dst, size_t cap) override {
        if (pos_ < prefix_.size()) {
            const size_t n = std::min(cap, prefix_.size() - pos_);
            std::memcpy(dst, prefix_.data() + pos_, n);
            pos_ += n;
            return n;
        }
        return inner_->read(dst, cap);
    }

private:
    std::string prefix_;
    size_t pos_ = 0;
    std::unique_ptr<ByteSource> inner_;
};

// 'U' -> 'T' and 'u' -> 't': each is one below its replacement. One
// branch-free pass that the compiler vectorises costs less than searching
// for the two letters first, on short reads and long sequences alike.
void rna_to_dna(char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<char>(p[i] - ((p[i] | 0x20) == 'u'));
}

// Removes the line end of the line that starts at `start` in `s`.
void trim_appended_line(std::string& s, size_t start) {
    if (s.size() > start && s.back() == '\n') {
        s.pop_back();
        if (s.size() > start && s.back() == '\r') s.pop_back();
    }
}

// Length of the Unicode whitespace character at the start of `s` (valid
// UTF-8), or 0 if it is none.
size_t whitespace_length(std::string_view s) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    if (c < 0x80) return 0;
    if (c == 0xC2 && s.size() >= 2 && (b(1) == 0x85 || b(1) == 0xA0)) return 2;  // NEL, NBSP
    if (s.size() < 3) return 0;
    if (c == 0xE1 && b(1) == 0x9A && b(2) == 0x80) return 3;  // U+1680
    if (c == 0xE2 && b(1) == 0x80 &&
        (b(2) <= 0x8A || b(2) == 0xA8 || b(2) == 0xA9 || b(2) == 0xAF))
        return 3;  // U+2000..200A, U+2028, U+2029, U+202F
    if (c == 0xE2 && b(1) == 0x81 && b(2) == 0x9F) return 3;  // U+205F
    if (c == 0xE3 && b(1) == 0x80 && b(2) == 0x80) return 3;  // U+3000
    return 0;
}

size_t utf8_char_length(unsigned char c) {
    if (c < 0x80) return 1;
    if (c >= 0xF0) return 4;
    if (c >= 0xE0) return 3;
    return 2;
}

}  // namespace

// ---- text helpers ------------------------------------------------------------

size_t trim_newline(std::string_view line) {
    size_t n = line.size();
    if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') return n - 2;
    if (n >= 1 && line[n - 1] == '\n') return n - 1;
    return n;
}

void split_header(std::string_view header, std::string& name,
                  std::optional<std::string>& description) {
    for (size_t i = 0; i < header.size();) {
        const size_t ws = whitespace_length(header.substr(i));
        if (ws > 0) {
            name.assign(header.data(), i);
            description.emplace(header.substr(i + ws));
            return;
        }
        i += utf8_char_length(static_cast<unsigned char>(header[i]));
    }
    name.assign(header.data(), header.size());
    description.reset();
}

// ---- buffered input ----------------------------------------------------------

BufferedInput::BufferedInput(std::unique_ptr<ByteSource> source, size_t capacity)
    : source_(std::move(source)), buf_(capacity) {}

bool BufferedInput::read_more() {
    if (eof_) return false;
    if (pos_ == end_) {
        pos_ = end_ = 0;
    } else if (pos_ > 0) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    // A line or record longer than the buffer makes it grow to fit.
    if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
    const size_t n = source_->read(buf_.data() + end_, buf_.size() - end_);
    if (n == 0) {
        eof_ = true;
        return false;
    }
    end_ += n;
    return true;
}

// ---- reader -------------------------------------------------------------------

Reader::Reader(std::unique_ptr<ByteSource> source, size_t buffer_capacity)
    : input_(std::move(source), std::max<size_t>(buffer_capacity, 1)) {
    line_.reserve(LINE_CAPACITY);
}

bool Reader::read_next(Record& out) {
    RecordView v;
    if (!read_next_view(v)) return false;
    out.name.assign(v.name);
    if (v.description) {
        if (!out.description) out.description.emplace();
        out.description->assign(*v.description);
    } else {
        out.description.reset();
    }
    out.sequence.assign(v.sequence);
    if (v.quality) {
        if (!out.quality) out.quality.emplace();
        out.quality->assign(*v.quality);
    } else {
        out.quality.reset();
    }
    return true;
}

bool Reader::read_next_view(RecordView& out) {
    if (format_ == FastxFormat::Undecided) {
        const int c = input_.peek();
        if (c == '>') {
            format_ = FastxFormat::Fasta;
        } else if (c == '@') {
            format_ = FastxFormat::Fastq;
        } else {
            throw FastxError::unknown_format(c < 0);
        }
    }
    return format_ == FastxFormat::Fasta ? read_fasta_record(out) : read_fastq_record(out);
}

void Reader::parse_header(std::string_view header, RecordView& out) {
    // ASCII headers (nearly all) need no decoding and split at the first
    // ASCII whitespace byte.
    const auto ascii = [](char b) { return static_cast<unsigned char>(b) < 0x80; };
    const auto space = [](char b) {
        return b == ' ' || static_cast<unsigned char>(b - 0x09) < 5;  // \t \n \v \f \r
    };
    size_t i = 0;
    while (i < header.size() && ascii(header[i]) && !space(header[i])) ++i;
    if (i == header.size()) {
        out.name = header;
        out.description.reset();
        return;
    }
    if (space(header[i])) {
        const std::string_view rest = header.substr(i + 1);
        if (std::all_of(rest.begin(), rest.end(), ascii)) {
            out.name = header.substr(0, i);
            out.description = rest;
            return;
        }
    }
    header_text_ = utf8_lossy(header);
    const std::string_view text = header_text_;
    for (size_t j = 0; j < text.size();) {
        const size_t ws = whitespace_length(text.substr(j));
        if (ws > 0) {
            out.name = text.substr(0, j);
            out.description = text.substr(j + ws);
            return;
        }
        j += utf8_char_length(static_cast<unsigned char>(text[j]));
    }
    out.name = text;
    out.description.reset();
}

bool Reader::read_fasta_record(RecordView& out) {
    line_.clear();
    if (input_.read_line(line_) == 0 || line_[0] != '>') return false;
    parse_header(std::string_view(line_).substr(1, trim_newline(line_) - 1), out);

    // Sequence lines run up to the next header, which stays in the input.
    std::string& seq = sequence_;
    seq.clear();
    for (int c = input_.peek(); c >= 0 && c != '>'; c = input_.peek()) {
        const size_t start = seq.size();
        input_.read_line(seq);
        trim_appended_line(seq, start);
    }
    rna_to_dna(seq.data(), seq.size());
    out.sequence = seq;
    out.quality.reset();
    return true;
}

bool Reader::read_fastq_record(RecordView& out) {
    // Anything before a header line is skipped.
    for (int c = input_.peek(); c != '@'; c = input_.peek()) {
        if (c < 0) return false;
        input_.skip_line();
    }
    // Find the ends of the record's four lines in the buffer, reading more
    // as needed; the record is then returned in place.
    size_t ends[4];
    size_t off = 0;
    for (size_t k = 0; k < 4; ++k) {
        for (;;) {
            const void* nl = std::memchr(input_.data() + off, '\n', input_.size() - off);
            if (nl) {
                ends[k] = static_cast<size_t>(static_cast<const char*>(nl) - input_.data());
                off = ends[k] + 1;
                break;
            }
            const size_t before = input_.size();
            if (input_.read_more()) continue;
            // End of input: a last line without "\n" still counts, a missing
            // one cuts the record short, and the partial record is dropped.
            if (before > off) {
                ends[k] = off = before;
                break;
            }
            input_.consume(before);
            return false;
        }
    }
    char* base = input_.data();
    const size_t available = input_.size();
    const auto line = [&](size_t k) {
        const size_t start = k == 0 ? 0 : ends[k - 1] + 1;
        size_t stop = ends[k];
        // trim_newline: "\r" goes only together with the "\n".
        if (stop < available && stop > start && base[stop - 1] == '\r') --stop;
        return std::string_view(base + start, stop - start);
    };
    // The bytes stay in the buffer until the next call reads more.
    input_.consume(off);
    parse_header(line(0).substr(1), out);
    const std::string_view seq = line(1);
    rna_to_dna(base + (seq.data() - base), seq.size());
    out.sequence = seq;
    out.quality = line(3);
    return true;
}

std::pair<std::vector<NamedSequence>, bool> Reader::read_batch(uint64_t batch_size) {
    std::vector<NamedSequence> batch;
    const bool eof = read_batch(batch_size, [&](const RecordView& rec) {
        batch.emplace_back(rec.name, rec.sequence);
    });
    return {std::move(batch), eof};
}

bool Reader::read_batch(uint64_t batch_size, const std::function<void(const RecordView&)>& sink) {
    // The limit is checked after each record: the record that exceeds it is
    // the last of the batch, so a batch is never empty before the end.
    uint64_t total = 0;
    RecordView rec;
    for (;;) {
        if (!read_next_view(rec)) return true;
        total += rec.sequence.size();
        sink(rec);
        if (total > batch_size) return false;
    }
}

std::unique_ptr<Reader> open(const std::string& path) {
    if (path == "-") return std::make_unique<Reader>(std::make_unique<FdSource>(0, false));

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw FastxError::open_failed(utf8_lossy(path), system_text(errno));
    auto file = std::make_unique<FdSource>(fd, true);

    // Sniff the magic bytes; they are handed on, not lost.
    std::string prefix(8192, '\0');
    size_t got = 0;
    try {
        while (got < 2) {
            const size_t n = file->read(reinterpret_cast<uint8_t*>(prefix.data() + got),
                                        prefix.size() - got);
            if (n == 0) break;
            got += n;
        }
    } catch (const FastxError& e) {
        // A directory opens fine and fails here: report it like an open
        // failure, with the path.
        throw FastxError::open_failed(utf8_lossy(path), e.detail());
    }
    prefix.resize(got);

    const bool magic = got >= 2 && static_cast<unsigned char>(prefix[0]) == 0x1F &&
                       static_cast<unsigned char>(prefix[1]) == 0x8B;
    const std::string shown = utf8_lossy(path);
    const bool ext = shown.size() > 2 && shown.ends_with(".gz");
    if (magic && !ext)
        std::fprintf(stderr, "[WARN] '%s' is gzipped but lacks a .gz extension; decompressing.\n",
                     shown.c_str());
    if (!magic && ext)
        std::fprintf(stderr,
                     "[WARN] '%s' has a .gz extension but is not gzipped; reading as plain text.\n",
                     shown.c_str());

    std::unique_ptr<ByteSource> source;
    if (magic) {
        source = make_gzip_source(std::move(file), std::move(prefix));
    } else {
        source = std::make_unique<PrefixSource>(std::move(prefix), std::move(file));
    }
    return std::make_unique<Reader>(std::move(source));
}

// ---- whole-buffer FASTA ------------------------------------------------------------

std::vector<NamedSequence> parse_fasta_bytes(std::string_view data) {
    std::vector<NamedSequence> out;
    const size_t first = data.find('>');
    if (first == std::string_view::npos) return out;
    const char* p = data.data() + first;
    const char* const end = data.data() + data.size();

    const auto line_end = [&](const char* from) {
        const void* nl = std::memchr(from, '\n', static_cast<size_t>(end - from));
        return nl ? static_cast<const char*>(nl) : end;
    };

    std::string seq;
    seq.reserve(1024);
    while (p < end) {
        // p is at a '>' that starts a header line.
        const char* eol = line_end(p);
        std::string_view header(p + 1, static_cast<size_t>(eol - p - 1));
        if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
        const size_t cut = header.find_first_of(" \t");
        const std::string_view name = header.substr(0, cut);
        p = eol < end ? eol + 1 : end;

        seq.clear();
        while (p < end && *p != '>') {
            eol = line_end(p);
            const char* stop = eol;
            if (stop > p && stop[-1] == '\r') --stop;
            const size_t from = seq.size();
            seq.append(p, static_cast<size_t>(stop - p));
            for (size_t i = from; i < seq.size(); ++i) {
                const char c = seq[i];
                seq[i] = static_cast<char>(c - ((c >= 'a' && c <= 'z') ? 32 : 0));
            }
            p = eol < end ? eol + 1 : end;
        }
        if (!name.empty()) out.emplace_back(utf8_lossy(name), seq);
    }
    return out;
}

std::vector<NamedSequence> read_fasta(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error(ErrorKind::Io, system_text(errno));
    std::string data;
    struct stat st {};
    size_t used = 0;
    data.resize(::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) + 1
                                                              : size_t{1} << 20);
    for (;;) {
        if (used == data.size()) data.resize(data.size() * 2);
        const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            throw Error(ErrorKind::Io, system_text(err));
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    ::close(fd);
    data.resize(used);
    // A compressed genome would otherwise parse as garbage or as nothing.
    if (data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0x1F &&
        static_cast<unsigned char>(data[1]) == 0x8B)
        data = gunzip(data);
    return parse_fasta_bytes(data);
}

}  // namespace tessiq
