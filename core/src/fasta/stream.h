// Incremental FASTA and FASTQ parsers fed with byte chunks of any size. The
// records they produce do not depend on where the chunks were cut.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "fasta/reader.h"

namespace tessiq {

// What both streamers share: splitting chunks into lines, the queue of
// completed records and the record in progress.
class TESSIQ_API StreamerBase {
public:
    // Oldest completed record, or nothing.
    std::optional<NamedSequence> next_record();
    size_t queued() const { return queue_.size(); }

protected:
    explicit StreamerBase(bool rna_to_dna) : rna_to_dna_(rna_to_dna) {}
    ~StreamerBase() = default;

    // Feeds `chunk`, calling `line` for every completed line (without its
    // "\n" and without one trailing "\r").
    template <typename LineFn>
    void split_lines(std::string_view chunk, LineFn&& line);
    template <typename LineFn>
    void flush_partial(LineFn&& line);

    // Appends the non-whitespace bytes of a sequence line.
    void append_sequence(std::string_view line);
    void set_name_from_header(std::string_view line);
    void emit();

    std::string partial_;
    std::string sequence_;
    std::deque<NamedSequence> queue_;
    std::optional<std::string> name_;
    bool rna_to_dna_;
};

class TESSIQ_API FastaStreamer final : public StreamerBase {
public:
    explicit FastaStreamer(bool rna_to_dna) : StreamerBase(rna_to_dna) {}
    void push(std::string_view chunk);
    // Processes the trailing partial line and emits the record in progress.
    void finalize();

private:
    void process_line(std::string_view line);
};

class TESSIQ_API FastqStreamer final : public StreamerBase {
public:
    explicit FastqStreamer(bool rna_to_dna) : StreamerBase(rna_to_dna) {}
    void push(std::string_view chunk);
    // Processes the trailing partial line; a record whose separator or
    // quality is missing or short is emitted anyway.
    void finalize();

private:
    enum State : uint8_t { HEADER = 0, SEQUENCE = 1, SEPARATOR = 2, QUALITY = 3 };
    void process_line(std::string_view line);
    State state_ = HEADER;
    uint64_t remaining_ = 0;
};

}  // namespace tessiq
