// The seed table: minimizer hashes to their occurrence records.
//
// The table is split into 2^b buckets by the low b bits of a hash; each
// bucket maps key = hash >> b to value = count | (start << 32), naming the
// `count` records of `positions` from `start` on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "util/error.h"

namespace tessiq {

// One bucket: an open-addressing map from 64-bit keys to 64-bit values.
//
// Memory is what limits how large a reference fits, so a slot is 9 bytes
// instead of 16: keys are stored in 32 bits while every key of the bucket
// fits (k <= 21 with 1024 buckets), the value's start in 32 bits and its
// count in one byte, with the rare counts of 0 or >= 255 kept in a side
// table. The content is exactly the key-to-value map; only the layout is
// compact. Linear probing with Robin Hood displacement keeps misses short at
// a load factor of 7/8 (one probe reads one 9- or 13-byte slot), and slot positions come from a per-process keyed mix
// of the key, so that keys crafted into one index file cannot pile up in one
// probe run and turn a load into quadratic work.
class TESSIQ_API Bucket {
public:
    Bucket() = default;
    Bucket(Bucket&&) noexcept = default;
    Bucket& operator=(Bucket&&) noexcept = default;
    Bucket(const Bucket& other) { *this = other; }
    Bucket& operator=(const Bucket& other);

    // Makes room for `n` entries in all, so that inserting them does not rehash.
    void reserve(size_t n);
    // Inserts or replaces the value of `key`.
    void insert(uint64_t key, uint64_t value);
    // Inserts `key`, which must not be present yet (a build from unique
    // keys): skips the search that insert() makes first.
    void insert_new(uint64_t key, uint64_t value);
    // The value of `key`, if present.
    bool find(uint64_t key, uint64_t& value) const;
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // Calls fn(key, value) for every entry, in slot order.
    template <typename F>
    void for_each(F&& fn) const {
        for (uint32_t s = 0; s < cap_; ++s) {
            if (count_at(s) == COUNT_EMPTY) continue;
            const uint64_t key = key_at(s);
            fn(key, value_at(s, key));
        }
    }
    // Entries sorted by key (saved files do not depend on the process's mix).
    std::vector<std::pair<uint64_t, uint64_t>> sorted_entries() const;

    // Heap bytes held by the bucket.
    size_t memory_bytes() const;

private:
    static constexpr uint8_t COUNT_EMPTY = 0;
    static constexpr uint8_t COUNT_SIDE = 255;  // full count in `side_`

    // A slot: count code (1 byte), start (4 bytes), key (4 or 8 bytes),
    // unaligned, so that one probe touches one place in memory.
    size_t slot_size() const { return wide_ ? 13 : 9; }
    uint8_t* slot(uint32_t s) const { return data_.get() + size_t{s} * slot_size(); }
    uint8_t count_at(uint32_t s) const { return slot(s)[0]; }
    uint32_t start_at(uint32_t s) const {
        uint32_t v;
        std::memcpy(&v, slot(s) + 1, 4);
        return v;
    }
    uint64_t key_at(uint32_t s) const {
        if (wide_) {
            uint64_t k;
            std::memcpy(&k, slot(s) + 5, 8);
            return k;
        }
        uint32_t k;
        std::memcpy(&k, slot(s) + 5, 4);
        return k;
    }
    uint64_t value_at(uint32_t s, uint64_t key) const;
    uint32_t home(uint64_t key) const;
    void note_count(uint64_t key, uint32_t count, uint8_t code);
    uint32_t distance(uint32_t s, uint64_t key) const {
        const uint32_t h = home(key);
        return s >= h ? s - h : s + cap_ - h;
    }
    void rehash(uint32_t new_cap, bool wide);
    uint32_t side_count(uint64_t key) const;

    template <typename K>
    int64_t slot_of(uint64_t key) const;
    template <typename K>
    void insert_in(uint64_t key, uint32_t start, uint8_t count_code);

    // cap_ slots of slot_size() bytes.
    std::unique_ptr<uint8_t[]> data_;
    uint32_t cap_ = 0;
    uint32_t size_ = 0;
    bool wide_ = false;
    // Counts that do not fit a slot's byte, by key.
    struct KeyMix {
        size_t operator()(uint64_t key) const;
    };
    std::unique_ptr<std::unordered_map<uint64_t, uint32_t, KeyMix>> side_;
};

// The one operation a seed table offers beyond lookups.
class TESSIQ_API SeedLookup {
public:
    virtual ~SeedLookup() = default;
    // Calls fn(count) for every key of the table, in no particular order.
    virtual void occurrence_counts(const std::function<void(uint32_t)>& fn) const = 0;
};

// One hash and the occurrence records it appears with.
using HashRecord = std::pair<uint64_t, uint64_t>;

class TESSIQ_API BucketHashLookup final : public SeedLookup {
public:
    uint32_t bucket_bits = 0;
    std::vector<Bucket> buckets;
    std::vector<uint64_t> positions;

    // `lists` holds 2^bucket_bits lists of (hash, record) pairs, each sorted.
    // Runs of one hash longer than max_occ are left out.
    static BucketHashLookup build(uint32_t bucket_bits, std::vector<std::vector<HashRecord>>& lists,
                                  uint64_t max_occ);

    // A foreign bucket: its own position list and its entries as stored.
    struct ForeignBucket {
        std::vector<uint64_t> positions;
        std::vector<std::pair<uint64_t, uint64_t>> entries;
    };
    // Converts foreign buckets: singleton entries (key bit 0) carry the
    // occurrence itself, others index the bucket's own list. Throws
    // Error(Io) for an entry range outside that list.
    static BucketHashLookup from_foreign_buckets(uint32_t bucket_bits,
                                                 std::vector<ForeignBucket>& buckets);

    // The occurrences of `hash`: sets `out` to the first record and returns
    // the count, or returns 0 when the hash is absent.
    uint32_t lookup(uint64_t hash, const uint64_t*& out) const {
        const uint64_t mask = (uint64_t{1} << bucket_bits) - 1;
        uint64_t value;
        if (!buckets[hash & mask].find(hash >> bucket_bits, value)) return 0;
        out = positions.data() + (value >> 32);
        return static_cast<uint32_t>(value);
    }

    void occurrence_counts(const std::function<void(uint32_t)>& fn) const override;

    size_t memory_bytes() const;
};

}  // namespace tessiq
