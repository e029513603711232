#include "fasta/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <vector>

#ifdef TESSIQ_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace tessiq {

namespace {

std::atomic<bool> force_zlib{false};

// Compressed input is read in large blocks: gzip sources are files or pipes,
// and fewer read calls leave more time for inflating.
constexpr size_t COMPRESSED_BUFFER = 1 << 17;

// One inflater over one member at a time. step() consumes from and produces
// into the pointers it is given and says whether the member ended.
class Inflater {
public:
    virtual ~Inflater() = default;
    virtual void reset() = 0;
    // Returns true when the member's trailer has been checked. Throws
    // FastxError on corrupt data.
    virtual bool step(const uint8_t*& in, size_t& avail_in, uint8_t*& out, size_t& avail_out) = 0;
};

class ZlibInflater final : public Inflater {
public:
    ZlibInflater() {
        std::memset(&zs_, 0, sizeof zs_);
        // 16 + 15: gzip wrapper only, largest window.
        if (inflateInit2(&zs_, 16 + MAX_WBITS) != Z_OK)
            throw FastxError::io("cannot initialise the gzip decoder");
    }
    ~ZlibInflater() override { inflateEnd(&zs_); }
    void reset() override { inflateReset(&zs_); }

    bool step(const uint8_t*& in, size_t& avail_in, uint8_t*& out, size_t& avail_out) override {
        // zlib counts in 32-bit units; callers use buffers well below that.
        zs_.next_in = const_cast<Bytef*>(in);
        zs_.avail_in = static_cast<uInt>(avail_in);
        zs_.next_out = out;
        zs_.avail_out = static_cast<uInt>(avail_out);
        const int rc = inflate(&zs_, Z_NO_FLUSH);
        in = zs_.next_in;
        avail_in = zs_.avail_in;
        out = zs_.next_out;
        avail_out = zs_.avail_out;
        if (rc == Z_STREAM_END) return true;
        if (rc == Z_OK || rc == Z_BUF_ERROR) return false;
        if (rc == Z_MEM_ERROR) throw FastxError::io("out of memory while decompressing gzip data");
        throw FastxError::io(std::string("corrupt gzip data: ") +
                             (zs_.msg ? zs_.msg : "invalid stream"));
    }

private:
    z_stream zs_;
};

#ifdef TESSIQ_HAVE_ISAL
class IsalInflater final : public Inflater {
public:
    IsalInflater() : st_(std::make_unique<inflate_state>()) { reset(); }
    void reset() override {
        isal_inflate_init(st_.get());
        st_->crc_flag = ISAL_GZIP;
    }

    bool step(const uint8_t*& in, size_t& avail_in, uint8_t*& out, size_t& avail_out) override {
        st_->next_in = const_cast<uint8_t*>(in);
        st_->avail_in = static_cast<uint32_t>(avail_in);
        st_->next_out = out;
        st_->avail_out = static_cast<uint32_t>(avail_out);
        const int rc = isal_inflate(st_.get());
        in = st_->next_in;
        avail_in = st_->avail_in;
        out = st_->next_out;
        avail_out = st_->avail_out;
        if (rc < 0) throw FastxError::io(std::string("corrupt gzip data: ") + describe(rc));
        return st_->block_state == ISAL_BLOCK_FINISH;
    }

private:
    static const char* describe(int rc) {
        switch (rc) {
            case ISAL_INVALID_BLOCK: return "invalid block type";
            case ISAL_INVALID_SYMBOL: return "invalid code";
            case ISAL_INVALID_LOOKBACK: return "invalid distance too far back";
            case ISAL_INVALID_WRAPPER: return "incorrect header check";
            case ISAL_UNSUPPORTED_METHOD: return "unknown compression method";
            case ISAL_INCORRECT_CHECKSUM: return "incorrect data check";
            default: return "invalid stream";
        }
    }
    std::unique_ptr<inflate_state> st_;  // large: kept off the stack
};
#endif

std::unique_ptr<Inflater> make_inflater() {
#ifdef TESSIQ_HAVE_ISAL
    if (!force_zlib.load(std::memory_order_relaxed)) return std::make_unique<IsalInflater>();
#endif
    return std::make_unique<ZlibInflater>();
}

class GzipSource final : public ByteSource {
public:
    GzipSource(std::unique_ptr<ByteSource> compressed, std::string prefix)
        : compressed_(std::move(compressed)),
          buf_(std::max(COMPRESSED_BUFFER, prefix.size())),
          inflater_(make_inflater()) {
        std::memcpy(buf_.data(), prefix.data(), prefix.size());
        next_ = buf_.data();
        avail_ = prefix.size();
    }

    size_t read(uint8_t* dst, size_t cap) override {
        if (error_) throw *error_;
        if (cap == 0) return 0;
        uint8_t* out = dst;
        size_t avail_out = cap;
        try {
            while (avail_out == cap && !done_) {
                if (member_done_) {
                    if (!start_next_member()) {
                        done_ = true;
                        break;
                    }
                }
                if (avail_ == 0) refill();
                uint8_t* const before = out;
                member_done_ = inflater_->step(next_, avail_, out, avail_out);
                // With all input consumed, an inflater may still hold output;
                // only a step that yields nothing proves the data is cut short.
                if (!member_done_ && input_ended_ && avail_ == 0 && out == before)
                    throw FastxError::io("unexpected end of gzip data (truncated file?)");
            }
        } catch (const FastxError& e) {
            // Keep the failure for later calls; bytes inflated before it are
            // still delivered first so that no complete record is lost.
            error_ = e;
            if (avail_out == cap) throw;
        }
        return cap - avail_out;
    }

private:
    bool refill() {
        if (input_ended_) return false;
        next_ = buf_.data();
        avail_ = compressed_->read(buf_.data(), buf_.size());
        if (avail_ == 0) input_ended_ = true;
        return avail_ > 0;
    }

    // After a member: zero padding is skipped, the end of input ends the
    // stream, anything else is inflated as the next member (and fails there
    // if it is not one).
    bool start_next_member() {
        for (;;) {
            if (avail_ == 0 && !refill()) return false;
            while (avail_ > 0 && *next_ == 0) {
                ++next_;
                --avail_;
            }
            if (avail_ > 0) break;
        }
        inflater_->reset();
        member_done_ = false;
        return true;
    }

    std::unique_ptr<ByteSource> compressed_;
    std::vector<uint8_t> buf_;
    const uint8_t* next_ = nullptr;
    size_t avail_ = 0;
    std::unique_ptr<Inflater> inflater_;
    bool member_done_ = true;  // so that the first member starts like any other
    bool done_ = false;
    bool input_ended_ = false;
    std::optional<FastxError> error_;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view data) : data_(data) {}
    size_t read(uint8_t* dst, size_t cap) override {
        const size_t n = std::min(cap, data_.size());
        std::memcpy(dst, data_.data(), n);
        data_.remove_prefix(n);
        return n;
    }

private:
    std::string_view data_;
};

}  // namespace

std::unique_ptr<ByteSource> make_gzip_source(std::unique_ptr<ByteSource> compressed,
                                             std::string prefix) {
    return std::make_unique<GzipSource>(std::move(compressed), std::move(prefix));
}

std::string gunzip(std::string_view data) {
    GzipSource source(std::make_unique<MemorySource>(data), std::string());
    std::string out;
    size_t used = 0;
    out.resize(std::max<size_t>(data.size() * 2, 1 << 16));
    for (;;) {
        if (used == out.size()) out.resize(out.size() * 2);
        const size_t n = source.read(reinterpret_cast<uint8_t*>(out.data() + used), out.size() - used);
        if (n == 0) break;
        used += n;
    }
    out.resize(used);
    return out;
}

const char* inflater_name() {
#ifdef TESSIQ_HAVE_ISAL
    if (!force_zlib.load(std::memory_order_relaxed)) return "isa-l";
#endif
    return "zlib";
}

void set_force_zlib(bool on) { force_zlib.store(on, std::memory_order_relaxed); }

}  // namespace tessiq
