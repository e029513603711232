#include "fasta/stream.h"

#include <cstring>

namespace tessiq {

namespace {

// Tab, line feed, form feed, carriage return and space; not vertical tab.
constexpr bool is_stream_space(unsigned char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

std::string_view drop_cr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

std::optional<NamedSequence> StreamerBase::next_record() {
    if (queue_.empty()) return std::nullopt;
    NamedSequence rec = std::move(queue_.front());
    queue_.pop_front();
    return rec;
}

template <typename LineFn>
void StreamerBase::split_lines(std::string_view chunk, LineFn&& line) {
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    while (p < end) {
        const void* found = std::memchr(p, '\n', static_cast<size_t>(end - p));
        if (!found) {
            partial_.append(p, static_cast<size_t>(end - p));
            return;
        }
        const char* nl = static_cast<const char*>(found);
        if (partial_.empty()) {
            // Whole line inside the chunk: parsed in place.
            line(drop_cr(std::string_view(p, static_cast<size_t>(nl - p))));
        } else {
            partial_.append(p, static_cast<size_t>(nl - p));
            std::string joined = std::move(partial_);
            partial_.clear();
            line(drop_cr(joined));
            // Keep the buffer's capacity for the next spanning line.
            if (partial_.capacity() < joined.capacity()) {
                joined.clear();
                partial_.swap(joined);
            }
        }
        p = nl + 1;
    }
}

template <typename LineFn>
void StreamerBase::flush_partial(LineFn&& line) {
    if (partial_.empty()) return;
    std::string joined = std::move(partial_);
    partial_.clear();
    line(drop_cr(joined));
}

void StreamerBase::append_sequence(std::string_view line) {
    const size_t from = sequence_.size();
    sequence_.resize(from + line.size());
    char* out = sequence_.data() + from;
    for (const char c : line) {
        if (is_stream_space(static_cast<unsigned char>(c))) continue;
        *out++ = rna_to_dna_ ? static_cast<char>(c - ((c | 0x20) == 'u')) : c;
    }
    sequence_.resize(static_cast<size_t>(out - sequence_.data()));
}

void StreamerBase::set_name_from_header(std::string_view line) {
    std::string_view rest = line.substr(1);
    size_t n = 0;
    while (n < rest.size() && !is_stream_space(static_cast<unsigned char>(rest[n]))) ++n;
    name_ = utf8_lossy(rest.substr(0, n));
}

void StreamerBase::emit() {
    queue_.emplace_back(std::move(*name_), std::move(sequence_));
    name_.reset();
    sequence_ = std::string();
}

// ---- FASTA ----------------------------------------------------------------------

void FastaStreamer::push(std::string_view chunk) {
    split_lines(chunk, [this](std::string_view line) { process_line(line); });
}

void FastaStreamer::finalize() {
    flush_partial([this](std::string_view line) { process_line(line); });
    if (name_) emit();
}

void FastaStreamer::process_line(std::string_view line) {
    if (line.empty()) return;
    if (line[0] == '>') {
        if (name_) emit();
        set_name_from_header(line);
        return;
    }
    // Text before the first header belongs to no record.
    if (name_) append_sequence(line);
}

// ---- FASTQ ----------------------------------------------------------------------

void FastqStreamer::push(std::string_view chunk) {
    split_lines(chunk, [this](std::string_view line) { process_line(line); });
}

void FastqStreamer::finalize() {
    flush_partial([this](std::string_view line) { process_line(line); });
    if (state_ == SEPARATOR || state_ == QUALITY) {
        emit();
        state_ = HEADER;
    }
}

void FastqStreamer::process_line(std::string_view line) {
    switch (state_) {
        case HEADER:
            if (!line.empty() && line[0] == '@') {
                set_name_from_header(line);
                sequence_.clear();
                state_ = SEQUENCE;
            }
            break;
        case SEQUENCE:
            // FASTQ sequences are single-line.
            append_sequence(line);
            state_ = SEPARATOR;
            break;
        case SEPARATOR:
            remaining_ = sequence_.size();
            if (remaining_ == 0) {
                emit();
                state_ = HEADER;
            } else {
                state_ = QUALITY;
            }
            break;
        case QUALITY:
            // Quality may wrap over several lines; it is complete once it is
            // as long as the sequence.
            if (line.size() < remaining_) {
                remaining_ -= line.size();
            } else {
                emit();
                state_ = HEADER;
            }
            break;
    }
}

}  // namespace tessiq
