// Byte streams for binary file formats: buffered file and memory readers and
// writers, little-endian integers, and arrays read with bounded up-front
// allocation so that a corrupt count cannot reserve memory the input does
// not hold.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "util/error.h"

namespace tessiq {

static_assert(std::endian::native == std::endian::little, "formats are read in place as little-endian");

class TESSIQ_API ByteInput {
public:
    virtual ~ByteInput() = default;
    // Reads up to n bytes; fewer only at the end of the input.
    virtual size_t read_some(void* dst, size_t n) = 0;
    // Steps back over the last n bytes read; only right after reading them
    // at the start of the input.
    virtual void unread(size_t n) = 0;
    // Bytes left when known (memory, regular files), else UINT64_MAX.
    virtual uint64_t remaining() const = 0;

    bool read_exact(void* dst, size_t n) { return read_some(dst, n) == n; }
};

// Reads a byte buffer owned by someone else; the position is kept, so a
// caller may read several records back to back.
class TESSIQ_API MemoryReader final : public ByteInput {
public:
    MemoryReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t read_some(void* dst, size_t n) override {
        const size_t m = std::min(n, size_ - pos_);
        if (m) std::memcpy(dst, data_ + pos_, m);
        pos_ += m;
        return m;
    }
    void unread(size_t n) override { pos_ -= std::min(n, pos_); }
    uint64_t remaining() const override { return size_ - pos_; }
    size_t position() const { return pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Reads a file through an 8192-byte buffer. Read failures throw Error(Io)
// with `error_prefix` followed by the system's text.
class TESSIQ_API FileReader final : public ByteInput {
public:
    static constexpr size_t BUFFER_SIZE = 8192;
    // Throws Error(Io) "<open_prefix><system text>" when the file cannot be opened.
    FileReader(const std::string& path, const std::string& open_prefix, std::string error_prefix);
    ~FileReader() override;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    size_t read_some(void* dst, size_t n) override;
    void unread(size_t n) override { pos_ -= std::min(n, pos_); }
    uint64_t remaining() const override;

private:
    size_t fill();
    int fd_ = -1;
    uint64_t file_size_ = UINT64_MAX;  // regular files only
    uint64_t consumed_ = 0;            // bytes moved into the buffer so far
    std::string error_prefix_;
    uint8_t buf_[BUFFER_SIZE];
    size_t pos_ = 0, end_ = 0;
};

class TESSIQ_API ByteOutput {
public:
    virtual ~ByteOutput() = default;
    virtual void write(const void* src, size_t n) = 0;

    template <typename T>
    void put(T v) {
        write(&v, sizeof(T));
    }
};

class TESSIQ_API VectorWriter final : public ByteOutput {
public:
    explicit VectorWriter(std::vector<uint8_t>& out) : out_(out) {}
    void write(const void* src, size_t n) override {
        const auto* p = static_cast<const uint8_t*>(src);
        out_.insert(out_.end(), p, p + n);
    }

private:
    std::vector<uint8_t>& out_;
};

// Writes a file through an 8192-byte buffer; every failure, including the
// last flush and the close, throws Error(Io), so a short file is never
// reported as saved.
class TESSIQ_API FileWriter final : public ByteOutput {
public:
    static constexpr size_t BUFFER_SIZE = 8192;
    FileWriter(const std::string& path, const std::string& create_prefix, std::string error_prefix);
    ~FileWriter() override;
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void write(const void* src, size_t n) override;
    // Flushes and closes; must be called for the data to count as written.
    void finish();

private:
    void flush();
    void write_all(const uint8_t* p, size_t n);
    int fd_ = -1;
    std::string error_prefix_;
    uint8_t buf_[BUFFER_SIZE];
    size_t len_ = 0;
};

// Reads exactly sizeof(T) bytes; throws Error(Io) "<prefix>unexpected end of
// input while reading <what>" when the input ends first.
template <typename T>
T read_le(ByteInput& in, const std::string& prefix, const char* what) {
    T v;
    if (!in.read_exact(&v, sizeof(T)))
        throw Error(ErrorKind::Io, prefix + "unexpected end of input while reading " + what);
    return v;
}

// Reads `count` elements into `out`. When the input's size is known, a count
// larger than what is left fails at once and a plausible one is reserved
// exactly; otherwise at most 1 MiB is reserved before the elements are
// actually there.
template <typename T>
void read_array(ByteInput& in, uint64_t count, std::vector<T>& out, const std::string& prefix,
                const char* what) {
    constexpr uint64_t CHUNK = (uint64_t{1} << 20) / sizeof(T);
    out.clear();
    const uint64_t left = in.remaining();
    if (left != UINT64_MAX) {
        if (count > left / sizeof(T))
            throw Error(ErrorKind::Io, prefix + "unexpected end of input while reading " + what);
        out.resize(static_cast<size_t>(count));
        if (count && !in.read_exact(out.data(), static_cast<size_t>(count * sizeof(T))))
            throw Error(ErrorKind::Io, prefix + "unexpected end of input while reading " + what);
        return;
    }
    out.reserve(static_cast<size_t>(std::min(count, CHUNK)));
    uint64_t done = 0;
    while (done < count) {
        const uint64_t step = std::min(count - done, std::max<uint64_t>(CHUNK, done));
        out.resize(static_cast<size_t>(done + step));
        if (!in.read_exact(out.data() + done, static_cast<size_t>(step * sizeof(T))))
            throw Error(ErrorKind::Io, prefix + "unexpected end of input while reading " + what);
        done += step;
    }
}

}  // namespace tessiq
