#include "align/index_bucket.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "util/thread_pool.h"

namespace tessiq {

namespace {

// Drawn once per process: slot positions cannot be predicted from a file.
const uint64_t MIX_SEED = [] {
    std::random_device rd;
    return (uint64_t{rd()} << 32) ^ rd() ^ 0x9e3779b97f4a7c15ULL;
}();

inline uint64_t mix64(uint64_t x) {
    x ^= MIX_SEED;
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

// Slots for n entries at a load factor of at most 7/8.
uint64_t capacity_for(uint64_t n) { return n == 0 ? 0 : n + n / 7 + 1; }

}  // namespace

size_t Bucket::KeyMix::operator()(uint64_t key) const { return mix64(key); }

uint32_t Bucket::home(uint64_t key) const {
    return static_cast<uint32_t>((static_cast<__uint128_t>(mix64(key)) * cap_) >> 64);
}

Bucket& Bucket::operator=(const Bucket& other) {
    if (this == &other) return *this;
    cap_ = other.cap_;
    size_ = other.size_;
    wide_ = other.wide_;
    const size_t bytes = size_t{cap_} * slot_size();
    data_.reset(bytes ? new uint8_t[bytes] : nullptr);
    if (bytes) std::memcpy(data_.get(), other.data_.get(), bytes);
    side_.reset(other.side_ ? new std::unordered_map<uint64_t, uint32_t, KeyMix>(*other.side_)
                            : nullptr);
    return *this;
}

uint32_t Bucket::side_count(uint64_t key) const { return side_->find(key)->second; }

uint64_t Bucket::value_at(uint32_t s, uint64_t key) const {
    const uint8_t c = count_at(s);
    const uint64_t count = c == COUNT_SIDE ? side_count(key) : c;
    return count | (uint64_t{start_at(s)} << 32);
}

template <typename K>
int64_t Bucket::slot_of(uint64_t key) const {
    if (size_ == 0 || (sizeof(K) == 4 && key > UINT32_MAX)) return -1;
    constexpr size_t SS = sizeof(K) + 5;
    const uint8_t* base = data_.get();
    uint32_t s = home(key);
    for (uint32_t d = 0;; ++d) {
        const uint8_t* p = base + size_t{s} * SS;
        if (p[0] == COUNT_EMPTY) return -1;
        K k;
        std::memcpy(&k, p + 5, sizeof(K));
        if (k == key) return s;
        // Robin Hood order: an entry closer to its home than we are to ours
        // means the key would have been placed before it.
        if (distance(s, k) < d) return -1;
        if (++s == cap_) s = 0;
    }
}

bool Bucket::find(uint64_t key, uint64_t& value) const {
    const int64_t s = wide_ ? slot_of<uint64_t>(key) : slot_of<uint32_t>(key);
    if (s < 0) return false;
    value = value_at(static_cast<uint32_t>(s), key);
    return true;
}

template <typename K>
void Bucket::insert_in(uint64_t key, uint32_t start, uint8_t code) {
    constexpr size_t SS = sizeof(K) + 5;
    uint8_t cur[SS];
    const K k0 = static_cast<K>(key);
    cur[0] = code;
    std::memcpy(cur + 1, &start, 4);
    std::memcpy(cur + 5, &k0, sizeof(K));
    uint32_t s = home(key);
    for (uint32_t d = 0;; ++d) {
        uint8_t* p = data_.get() + size_t{s} * SS;
        if (p[0] == COUNT_EMPTY) {
            std::memcpy(p, cur, SS);
            ++size_;
            return;
        }
        K k;
        std::memcpy(&k, p + 5, sizeof(K));
        const uint32_t dd = distance(s, k);
        if (dd < d) {
            uint8_t tmp[SS];
            std::memcpy(tmp, p, SS);
            std::memcpy(p, cur, SS);
            std::memcpy(cur, tmp, SS);
            d = dd;
        }
        if (++s == cap_) s = 0;
    }
}

void Bucket::rehash(uint32_t new_cap, bool wide) {
    Bucket next;
    next.cap_ = new_cap;
    next.wide_ = wide;
    const size_t bytes = size_t{new_cap} * next.slot_size();
    next.data_.reset(new uint8_t[bytes]);
    for (uint32_t s = 0; s < new_cap; ++s) next.slot(s)[0] = COUNT_EMPTY;
    for (uint32_t s = 0; s < cap_; ++s) {
        const uint8_t c = count_at(s);
        if (c == COUNT_EMPTY) continue;
        if (wide)
            next.insert_in<uint64_t>(key_at(s), start_at(s), c);
        else
            next.insert_in<uint32_t>(key_at(s), start_at(s), c);
    }
    next.side_ = std::move(side_);
    *this = std::move(next);
}

void Bucket::reserve(size_t n) {
    const uint64_t cap = capacity_for(n);
    if (cap <= cap_) return;
    if (cap > UINT32_MAX) throw Error(ErrorKind::InvalidInput, "too many entries for one bucket");
    rehash(static_cast<uint32_t>(cap), wide_);
}

void Bucket::insert(uint64_t key, uint64_t value) {
    const int64_t slot = wide_ ? slot_of<uint64_t>(key) : slot_of<uint32_t>(key);
    if (slot < 0) {
        insert_new(key, value);
        return;
    }
    const uint32_t count = static_cast<uint32_t>(value);
    const uint32_t start = static_cast<uint32_t>(value >> 32);
    const uint8_t code = (count == 0 || count >= COUNT_SIDE) ? COUNT_SIDE : static_cast<uint8_t>(count);
    uint8_t* p = this->slot(static_cast<uint32_t>(slot));
    p[0] = code;
    std::memcpy(p + 1, &start, 4);
    note_count(key, count, code);
}

void Bucket::insert_new(uint64_t key, uint64_t value) {
    const uint32_t count = static_cast<uint32_t>(value);
    const uint32_t start = static_cast<uint32_t>(value >> 32);
    const uint8_t code = (count == 0 || count >= COUNT_SIDE) ? COUNT_SIDE : static_cast<uint8_t>(count);
    if (capacity_for(size_t{size_} + 1) > cap_) reserve(std::max<size_t>(size_t{size_} * 2, 4));
    if (!wide_ && key > UINT32_MAX) rehash(cap_, true);
    if (wide_)
        insert_in<uint64_t>(key, start, code);
    else
        insert_in<uint32_t>(key, start, code);
    note_count(key, count, code);
}

// Counts that do not fit the slot's byte live in the side table.
void Bucket::note_count(uint64_t key, uint32_t count, uint8_t code) {
    if (code == COUNT_SIDE) {
        if (!side_) side_.reset(new std::unordered_map<uint64_t, uint32_t, KeyMix>());
        (*side_)[key] = count;
    } else if (side_) {
        side_->erase(key);
    }
}

std::vector<std::pair<uint64_t, uint64_t>> Bucket::sorted_entries() const {
    std::vector<std::pair<uint64_t, uint64_t>> out;
    out.reserve(size_);
    for_each([&](uint64_t k, uint64_t v) { out.emplace_back(k, v); });
    std::sort(out.begin(), out.end());
    return out;
}

size_t Bucket::memory_bytes() const {
    size_t bytes = size_t{cap_} * slot_size();
    if (side_) bytes += side_->size() * 32 + side_->bucket_count() * 8;
    return bytes;
}

BucketHashLookup BucketHashLookup::build(uint32_t bucket_bits,
                                         std::vector<std::vector<HashRecord>>& lists,
                                         uint64_t max_occ) {
    const size_t nb = lists.size();
    auto& pool = ThreadPool::global();
    // Kept records and kept runs per list, counted in parallel.
    // Threads take runs of neighbouring lists (GRAIN) and count in locals:
    // neighbouring counters and Bucket objects share cache lines.
    constexpr size_t GRAIN = 16;
    std::vector<uint64_t> kept(nb, 0), runs(nb, 0);
    pool.parallel_for(
        nb,
        [&](size_t i) {
            const auto& l = lists[i];
            uint64_t k = 0, r = 0;
            for (size_t a = 0; a < l.size();) {
                size_t e = a + 1;
                while (e < l.size() && l[e].first == l[a].first) ++e;
                if (e - a <= max_occ) k += e - a, ++r;
                a = e;
            }
            kept[i] = k, runs[i] = r;
        },
        GRAIN);
    std::vector<uint64_t> first(nb + 1, 0);
    for (size_t i = 0; i < nb; ++i) first[i + 1] = first[i] + kept[i];
    // Starts and counts are 32-bit fields of a bucket value.
    if (first[nb] > UINT32_MAX)
        throw Error(ErrorKind::InvalidInput,
                    "too many minimizers for one index: " + std::to_string(first[nb]) +
                        " occurrences, at most 4294967295 fit");

    BucketHashLookup out;
    out.bucket_bits = bucket_bits;
    out.buckets.resize(nb);
    out.positions.resize(first[nb]);
    pool.parallel_for(nb, [&](size_t i) {
        auto& l = lists[i];
        Bucket& bucket = out.buckets[i];
        bucket.reserve(runs[i]);
        uint64_t e = first[i];
        for (size_t a = 0; a < l.size();) {
            size_t z = a + 1;
            while (z < l.size() && l[z].first == l[a].first) ++z;
            const uint64_t n = z - a;
            if (n <= max_occ) {
                bucket.insert_new(l[a].first >> bucket_bits, n | (e << 32));  // runs are unique
                for (size_t j = a; j < z; ++j) out.positions[e++] = l[j].second;
            }
            a = z;
        }
        std::vector<HashRecord>().swap(l);
    }, GRAIN);
    return out;
}

BucketHashLookup BucketHashLookup::from_foreign_buckets(uint32_t bucket_bits,
                                                        std::vector<ForeignBucket>& buckets) {
    BucketHashLookup out;
    out.bucket_bits = bucket_bits;
    out.buckets.resize(buckets.size());
    uint64_t total = 0;
    for (const auto& fb : buckets) total += fb.positions.size();
    // Only referenced records are kept, so this is an upper bound.
    out.positions.reserve(std::min<uint64_t>(total, uint64_t{1} << 24));
    for (size_t i = 0; i < buckets.size(); ++i) {
        ForeignBucket& fb = buckets[i];
        Bucket& bucket = out.buckets[i];
        bucket.reserve(fb.entries.size());
        // A sound file references every record of the list at most once;
        // holding overlapping ranges to that bound keeps the output no
        // larger than the input.
        uint64_t referenced = 0;
        const uint64_t np = fb.positions.size();
        for (const auto& [key, value] : fb.entries) {
            const uint64_t j = out.positions.size();
            if (key & 1) {
                out.positions.push_back(value);
                bucket.insert(key >> 1, 1 | (j << 32));
            } else {
                const uint64_t n = static_cast<uint32_t>(value), s = value >> 32;
                referenced += n;
                if (s + n > np || referenced > np)
                    throw Error(ErrorKind::Io,
                                "Invalid foreign index file: bucket " + std::to_string(i) +
                                    " has an entry whose occurrences lie outside its position list");
                out.positions.insert(out.positions.end(), fb.positions.begin() + s,
                                     fb.positions.begin() + s + n);
                bucket.insert(key >> 1, n | (j << 32));
            }
            if (out.positions.size() > UINT32_MAX)
                throw Error(ErrorKind::Io, "Invalid foreign index file: too many occurrences");
        }
        std::vector<uint64_t>().swap(fb.positions);
        std::vector<std::pair<uint64_t, uint64_t>>().swap(fb.entries);
    }
    if (out.positions.capacity() > out.positions.size() + out.positions.size() / 8)
        out.positions.shrink_to_fit();
    return out;
}

void BucketHashLookup::occurrence_counts(const std::function<void(uint32_t)>& fn) const {
    for (const Bucket& b : buckets) b.for_each([&](uint64_t, uint64_t v) { fn(static_cast<uint32_t>(v)); });
}

size_t BucketHashLookup::memory_bytes() const {
    size_t bytes = buckets.capacity() * sizeof(Bucket) + positions.capacity() * sizeof(uint64_t);
    for (const Bucket& b : buckets) bytes += b.memory_bytes();
    return bytes;
}

}  // namespace tessiq
