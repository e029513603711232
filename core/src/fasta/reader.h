// FASTA/FASTQ reading: files (plain or gzip, every member of a multi-member
// stream), standard input for the path "-", and FASTA text already in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/error.h"
#include "util/utf8.h"

namespace tessiq {

// One sequence record. `description` is absent when the header has no
// whitespace; `quality` is absent for FASTA.
struct TESSIQ_API Record {
    std::string name;
    std::optional<std::string> description;
    std::string sequence;
    std::optional<std::string> quality;
};

// A record whose fields point into the reader's own buffers.
struct TESSIQ_API RecordView {
    std::string_view name;
    std::optional<std::string_view> description;
    std::string_view sequence;
    std::optional<std::string_view> quality;
};

using NamedSequence = std::pair<std::string, std::string>;

// The reader's error. I/O failures (also corrupt compressed data) carry
// ErrorKind::Io and a message starting "IO error: "; input whose first byte
// is neither '>' nor '@' carries ErrorKind::InvalidInput.
class TESSIQ_API FastxError : public Error {
public:
    enum class Variant { Io, UnknownFormat };

    static FastxError io(const std::string& text) {
        return FastxError(Variant::Io, "IO error: " + text, text, false);
    }
    static FastxError open_failed(const std::string& path, const std::string& text) {
        return FastxError(Variant::Io, "Failed to open FASTA/FASTQ '" + path + "': " + text, text,
                          false);
    }
    static FastxError unknown_format(bool input_empty) {
        const char* text = "Unknown file format or empty file";
        return FastxError(Variant::UnknownFormat, text, text, input_empty);
    }

    Variant variant() const noexcept { return variant_; }
    // True when the unknown format is simply an input without any byte.
    bool input_empty() const noexcept { return input_empty_; }
    // The cause without the message's prefix (the system text for I/O).
    const std::string& detail() const noexcept { return detail_; }

private:
    FastxError(Variant v, const std::string& message, std::string detail, bool input_empty)
        : Error(v == Variant::Io ? ErrorKind::Io : ErrorKind::InvalidInput, message),
          variant_(v),
          detail_(std::move(detail)),
          input_empty_(input_empty) {}
    Variant variant_;
    std::string detail_;
    bool input_empty_;
};

// A source of raw bytes. read() returns 0 only at the end of input and throws
// FastxError (Io) on failure; a failed source keeps failing.
class TESSIQ_API ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual size_t read(uint8_t* dst, size_t cap) = 0;
};

// A buffer over a ByteSource with the few operations line parsing needs. The
// hot paths are inline: they run once or more per line.
class TESSIQ_API BufferedInput {
public:
    BufferedInput(std::unique_ptr<ByteSource> source, size_t capacity);

    // The buffered, unconsumed bytes (the reader edits them in place).
    char* data() { return reinterpret_cast<char*>(buf_.data()) + pos_; }
    size_t size() const { return end_ - pos_; }
    void consume(size_t n) { pos_ += n; }
    // Reads more input after the buffered bytes, moving them to the front of
    // the buffer (which grows when they fill it); false at the end of input.
    bool read_more();

    // Next byte without consuming it, or -1 at the end of input.
    int peek() {
        if (pos_ == end_ && !read_more()) return -1;
        return buf_[pos_];
    }
    // Appends the bytes up to and including the next '\n' (or to the end of
    // input) to `out`; returns how many were appended, 0 at the end.
    size_t read_line(std::string& out) {
        size_t total = 0;
        while (pos_ < end_ || read_more()) {
            const char* start = data();
            const void* nl = std::memchr(start, '\n', size());
            const size_t take = nl ? static_cast<const char*>(nl) - start + 1 : size();
            out.append(start, take);
            pos_ += take;
            total += take;
            if (nl) break;
        }
        return total;
    }
    // Consumes the next line without keeping it; false at the end of input.
    bool skip_line() {
        bool any = false;
        while (pos_ < end_ || read_more()) {
            any = true;
            const void* nl = std::memchr(data(), '\n', size());
            if (nl) {
                pos_ += static_cast<const char*>(nl) - data() + 1;
                break;
            }
            pos_ = end_;
        }
        return any;
    }

private:
    std::unique_ptr<ByteSource> source_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
};

enum class FastxFormat { Undecided, Fasta, Fastq };

class TESSIQ_API Reader {
public:
    // `buffer_capacity` is the initial input buffer; it grows to fit a
    // longer record (small values let tests cross buffer boundaries).
    // Input is read in large blocks: parsing is memchr/memcpy bound, and small
    // reads would make system calls the main cost on long reads.
    explicit Reader(std::unique_ptr<ByteSource> source, size_t buffer_capacity = 1 << 17);

    // Fills `out` with the next record and returns true, or returns false at
    // the end of input. Throws FastxError. A FASTQ record cut short by the
    // end of input is dropped and reads as the end.
    bool read_next(Record& out);
    // The same without copying: the views stay valid until the next call.
    bool read_next_view(RecordView& out);

    // Reads records until their total sequence length exceeds `batch_size`
    // or the input ends; the flag is true only when the input ended.
    std::pair<std::vector<NamedSequence>, bool> read_batch(uint64_t batch_size);
    // The same batch handed to `sink` record by record (the record is reused
    // afterwards); returns the end-of-input flag. Spares callers that convert
    // the records anyway one allocation per string.
    bool read_batch(uint64_t batch_size, const std::function<void(const RecordView&)>& sink);

    FastxFormat format() const { return format_; }

private:
    bool read_fasta_record(RecordView& out);
    bool read_fastq_record(RecordView& out);
    void parse_header(std::string_view header, RecordView& out);

    BufferedInput input_;
    std::string line_;         // FASTA header line
    std::string header_text_;  // a header decoded from invalid UTF-8
    std::string sequence_;     // FASTA sequence joined from its lines
    FastxFormat format_ = FastxFormat::Undecided;
};

// Opens `path` ("-" is standard input). gzip data is recognised by its magic
// bytes, with a "[WARN] " line on standard error when the ".gz" extension
// and the contents disagree. Throws FastxError (Io).
TESSIQ_API std::unique_ptr<Reader> open(const std::string& path);

// FASTA records in `data`: names up to the first space or tab, sequences
// upper-cased, nameless records dropped. Never fails.
TESSIQ_API std::vector<NamedSequence> parse_fasta_bytes(std::string_view data);

// The whole file, read into memory and parsed as by parse_fasta_bytes.
// gzip data is decompressed first. Throws Error (Io) with the system text.
TESSIQ_API std::vector<NamedSequence> read_fasta(const std::string& path);

// Length of `line` without a trailing "\r\n" or "\n" (a lone "\r" stays).
TESSIQ_API size_t trim_newline(std::string_view line);


// Splits a decoded header at its first Unicode whitespace character.
TESSIQ_API void split_header(std::string_view header, std::string& name,
                             std::optional<std::string>& description);

}  // namespace tessiq
