#include "util/byte_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tessiq {

namespace {
std::string system_text(int err) { return std::strerror(err); }
}  // namespace

FileReader::FileReader(const std::string& path, const std::string& open_prefix,
                       std::string error_prefix)
    : error_prefix_(std::move(error_prefix)) {
    do {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw Error(ErrorKind::Io, open_prefix + system_text(errno));
    struct stat st;
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) file_size_ = static_cast<uint64_t>(st.st_size);
}

FileReader::~FileReader() {
    if (fd_ >= 0) ::close(fd_);
}

uint64_t FileReader::remaining() const {
    if (file_size_ == UINT64_MAX) return UINT64_MAX;
    const uint64_t buffered = end_ - pos_;
    return file_size_ > consumed_ ? file_size_ - consumed_ + buffered : buffered;
}

size_t FileReader::fill() {
    for (;;) {
        const ssize_t r = ::read(fd_, buf_ + end_, BUFFER_SIZE - end_);
        if (r >= 0) {
            end_ += static_cast<size_t>(r);
            consumed_ += static_cast<uint64_t>(r);
            return static_cast<size_t>(r);
        }
        if (errno != EINTR) throw Error(ErrorKind::Io, error_prefix_ + system_text(errno));
    }
}

size_t FileReader::read_some(void* dst, size_t n) {
    auto* out = static_cast<uint8_t*>(dst);
    size_t done = 0;
    while (done < n) {
        if (pos_ == end_) {
            // Large requests bypass the buffer.
            if (n - done >= BUFFER_SIZE) {
                const ssize_t r = ::read(fd_, out + done, n - done);
                if (r < 0) {
                    if (errno == EINTR) continue;
                    throw Error(ErrorKind::Io, error_prefix_ + system_text(errno));
                }
                if (r == 0) break;
                consumed_ += static_cast<uint64_t>(r);
                done += static_cast<size_t>(r);
                continue;
            }
            // Keep what was read while there is room, so unread() works
            // even when the start arrived in pieces.
            if (end_ == BUFFER_SIZE) pos_ = end_ = 0;
            if (fill() == 0) break;
        }
        const size_t m = std::min(n - done, end_ - pos_);
        std::memcpy(out + done, buf_ + pos_, m);
        pos_ += m;
        done += m;
    }
    return done;
}

FileWriter::FileWriter(const std::string& path, const std::string& create_prefix,
                       std::string error_prefix)
    : error_prefix_(std::move(error_prefix)) {
    do {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw Error(ErrorKind::Io, create_prefix + system_text(errno));
}

FileWriter::~FileWriter() {
    if (fd_ >= 0) ::close(fd_);
}

void FileWriter::write_all(const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t r = ::write(fd_, p, n);
        if (r < 0) {
            if (errno == EINTR) continue;
            throw Error(ErrorKind::Io, error_prefix_ + system_text(errno));
        }
        p += r;
        n -= static_cast<size_t>(r);
    }
}

void FileWriter::flush() {
    write_all(buf_, len_);
    len_ = 0;
}

void FileWriter::write(const void* src, size_t n) {
    if (n == 0) return;  // src may be null for an empty array
    const auto* p = static_cast<const uint8_t*>(src);
    if (len_ + n <= BUFFER_SIZE) {
        std::memcpy(buf_ + len_, p, n);
        len_ += n;
        return;
    }
    flush();
    if (n >= BUFFER_SIZE) {
        write_all(p, n);
    } else {
        std::memcpy(buf_, p, n);
        len_ = n;
    }
}

void FileWriter::finish() {
    flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) throw Error(ErrorKind::Io, error_prefix_ + system_text(errno));
}

}  // namespace tessiq
