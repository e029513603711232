#include "align/index.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "align/sketch.h"
#include "util/thread_pool.h"
#include "util/utf8.h"

namespace tessiq {

namespace {

constexpr uint8_t OWN_MAGIC[4] = {'T', 'M', 'M', 'I'};
constexpr uint8_t FOREIGN_MAGIC[4] = {'M', 'M', 'I', 2};
constexpr size_t BUILD_BATCH = 32;
// Larger tables are no use (hashes have at most 56 bits) and cannot be in a
// file of sane size; the bound keeps 1 << b defined.
constexpr uint32_t MAX_BUCKET_BITS = 31;

const std::string OWN_ERR = "Invalid index file: ";
const std::string FOREIGN_ERR = "Invalid foreign index file: ";

// ---- packing ---------------------------------------------------------------

void pack_target(std::vector<uint32_t>& packed, uint64_t offset, std::string_view seq) {
    const auto* s = reinterpret_cast<const uint8_t*>(seq.data());
    const uint64_t n = seq.size();
    uint64_t i = 0;
    for (; i < n && (offset + i) % 8 != 0; ++i) {
        const uint64_t p = offset + i;
        packed[p / 8] |= NT4_TABLE[s[i]] << (4 * (p % 8));
    }
    // Whole words: the target owns them alone.
    for (; i + 8 <= n; i += 8) {
        uint32_t word = 0;
        for (unsigned j = 0; j < 8; ++j) word |= NT4_TABLE[s[i + j]] << (4 * j);
        packed[(offset + i) / 8] = word;
    }
    for (; i < n; ++i) {
        const uint64_t p = offset + i;
        packed[p / 8] |= NT4_TABLE[s[i]] << (4 * (p % 8));
    }
}

// The eight nibbles of a word, one per byte, lowest nibble first.
inline uint64_t spread_nibbles(uint32_t word) {
    uint64_t y = word;
    y = (y | (y << 16)) & 0x0000FFFF0000FFFFULL;
    y = (y | (y << 8)) & 0x00FF00FF00FF00FFULL;
    y = (y | (y << 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return y;
}

// Nonzero where a nibble holds a code above 4.
inline uint32_t bad_nibbles(uint32_t x) {
    return (x & 0x88888888u) |
           (x & 0x44444444u & ((((x & 0x22222222u) >> 1) | (x & 0x11111111u)) << 2));
}

// ---- encoding ----------------------------------------------------------------

void put_text(ByteOutput& out, const std::string& s) {
    out.put<uint64_t>(s.size());
    out.write(s.data(), s.size());
}

void encode(const Index& idx, ByteOutput& out) {
    out.write(OWN_MAGIC, 4);
    out.put<uint64_t>(idx.kmer_size);
    out.put<uint64_t>(idx.window_size);
    out.put<uint8_t>(idx.homopolymer_compressed ? 1 : 0);
    out.put<uint64_t>(idx.index);
    out.put<uint64_t>(idx.seqs.size());
    for (const TargetSequence& t : idx.seqs) {
        put_text(out, t.name);
        out.put<uint64_t>(t.len);
        out.put<uint64_t>(t.offset);
        out.put<uint8_t>(t.is_alt ? 1 : 0);
    }
    const BucketHashLookup& bh = idx.lookup();
    out.put<uint32_t>(0);  // the BucketHash variant
    out.put<uint32_t>(bh.bucket_bits);
    out.put<uint64_t>(bh.buckets.size());
    for (const Bucket& b : bh.buckets) {
        out.put<uint64_t>(b.size());
        for (const auto& [k, v] : b.sorted_entries()) {
            out.put<uint64_t>(k);
            out.put<uint64_t>(v);
        }
    }
    out.put<uint64_t>(bh.positions.size());
    out.write(bh.positions.data(), bh.positions.size() * sizeof(uint64_t));
    out.put<uint64_t>(idx.packed_seqs.size());
    out.write(idx.packed_seqs.data(), idx.packed_seqs.size() * sizeof(uint32_t));
}

// ---- validation ----------------------------------------------------------------

// Checks everything lookups and region reads later take on trust, so that a
// corrupt file fails here with a message instead of misbehaving later.
void validate(const Index& idx, const std::string& err) {
    uint64_t total = 0;
    for (size_t i = 0; i < idx.seqs.size(); ++i) {
        const TargetSequence& t = idx.seqs[i];
        if (t.offset != total)
            throw Error(ErrorKind::Io, err + "target " + std::to_string(i) + " has offset " +
                                           std::to_string(t.offset) + ", expected " +
                                           std::to_string(total) + " (targets must be contiguous)");
        if (t.len > std::numeric_limits<uint64_t>::max() - total)
            throw Error(ErrorKind::Io, err + "total target length overflows");
        total += t.len;
    }
    if (idx.seqs.size() > (uint64_t{1} << 32))
        throw Error(ErrorKind::Io, err + "too many targets");

    const BucketHashLookup& bh = idx.lookup();
    if (bh.bucket_bits > MAX_BUCKET_BITS || bh.buckets.size() != (uint64_t{1} << bh.bucket_bits))
        throw Error(ErrorKind::Io, err + "bucket count " + std::to_string(bh.buckets.size()) +
                                       " does not match bucket bits " + std::to_string(bh.bucket_bits));
    const uint64_t np = bh.positions.size();
    for (size_t i = 0; i < bh.buckets.size(); ++i) {
        bh.buckets[i].for_each([&](uint64_t key, uint64_t value) {
            const uint64_t n = static_cast<uint32_t>(value), s = value >> 32;
            if (s + n > np)
                throw Error(ErrorKind::Io, err + "bucket " + std::to_string(i) + " key " +
                                               std::to_string(key) + " names occurrences " +
                                               std::to_string(s) + ".." + std::to_string(s + n) +
                                               " beyond the " + std::to_string(np) + " stored");
        });
    }
    for (uint64_t j = 0; j < np; ++j) {
        const uint64_t rec = bh.positions[j];
        const uint64_t rid = rec >> 32, pos = static_cast<uint32_t>(rec) >> 1;
        if (rid >= idx.seqs.size() || pos >= idx.seqs[rid].len)
            throw Error(ErrorKind::Io, err + "occurrence " + std::to_string(j) + " (target " +
                                           std::to_string(rid) + ", position " + std::to_string(pos) +
                                           ") lies outside the targets");
    }

    const uint64_t words = total / 8 + (total % 8 != 0);
    if (!idx.packed_seqs.empty()) {
        if (idx.packed_seqs.size() != words)
            throw Error(ErrorKind::Io, err + std::to_string(idx.packed_seqs.size()) +
                                           " packed words for " + std::to_string(total) +
                                           " bases, expected " + std::to_string(words) + " or 0");
        uint32_t bad = 0;
        for (uint64_t w = 0; w + 1 < words; ++w) bad |= bad_nibbles(idx.packed_seqs[w]);
        const unsigned tail = total % 8 == 0 ? 8 : total % 8;
        const uint32_t tail_mask = tail == 8 ? 0xFFFFFFFFu : ((1u << (4 * tail)) - 1);
        bad |= bad_nibbles(idx.packed_seqs[words - 1]) & tail_mask;
        if (bad) throw Error(ErrorKind::Io, err + "packed bases hold codes above 4");
    }
}

// ---- own format decoding -------------------------------------------------------

bool read_bool(ByteInput& in, const char* what) {
    const uint8_t b = read_le<uint8_t>(in, OWN_ERR, what);
    if (b > 1)
        throw Error(ErrorKind::Io, OWN_ERR + "invalid boolean value " + std::to_string(b) +
                                       " for " + what + ", expected 0 or 1");
    return b == 1;
}

Index decode_own(ByteInput& in) {
    Index idx;
    idx.kmer_size = read_le<uint64_t>(in, OWN_ERR, "kmer_size");
    idx.window_size = read_le<uint64_t>(in, OWN_ERR, "window_size");
    idx.homopolymer_compressed = read_bool(in, "homopolymer_compressed");
    idx.index = read_le<uint64_t>(in, OWN_ERR, "index");
    const uint64_t n_seqs = read_le<uint64_t>(in, OWN_ERR, "the target count");
    // Every target takes at least 25 bytes, which bounds the reservation.
    idx.seqs.reserve(static_cast<size_t>(std::min<uint64_t>(n_seqs, in.remaining() / 25)));
    std::string name;
    for (uint64_t i = 0; i < n_seqs; ++i) {
        TargetSequence t;
        const uint64_t name_len = read_le<uint64_t>(in, OWN_ERR, "a target name");
        std::vector<char> bytes;
        read_array(in, name_len, bytes, OWN_ERR, "a target name");
        t.name.assign(bytes.begin(), bytes.end());
        if (!is_valid_utf8(t.name))
            throw Error(ErrorKind::Io, OWN_ERR + "name of target " + std::to_string(i) +
                                           " is not valid UTF-8");
        t.len = read_le<uint64_t>(in, OWN_ERR, "a target length");
        t.offset = read_le<uint64_t>(in, OWN_ERR, "a target offset");
        t.is_alt = read_bool(in, "is_alt");
        idx.seqs.push_back(std::move(t));
    }
    const uint32_t variant = read_le<uint32_t>(in, OWN_ERR, "the lookup variant");
    if (variant != 0)
        throw Error(ErrorKind::Io, OWN_ERR + "invalid value: integer `" + std::to_string(variant) +
                                       "`, expected variant index 0 <= i < 1");
    BucketHashLookup bh;
    bh.bucket_bits = read_le<uint32_t>(in, OWN_ERR, "bucket_bits");
    const uint64_t n_buckets = read_le<uint64_t>(in, OWN_ERR, "the bucket count");
    // Checked before anything is sized by the count.
    if (bh.bucket_bits > MAX_BUCKET_BITS || n_buckets != (uint64_t{1} << bh.bucket_bits))
        throw Error(ErrorKind::Io, OWN_ERR + "bucket count " + std::to_string(n_buckets) +
                                       " does not match bucket bits " + std::to_string(bh.bucket_bits));
    if (n_buckets > in.remaining() / 8)
        throw Error(ErrorKind::Io, OWN_ERR + "unexpected end of input while reading the buckets");
    bh.buckets.resize(static_cast<size_t>(n_buckets));
    std::vector<uint64_t> words;
    for (Bucket& b : bh.buckets) {
        const uint64_t entries = read_le<uint64_t>(in, OWN_ERR, "a bucket size");
        if (entries > UINT32_MAX / 2)
            throw Error(ErrorKind::Io, OWN_ERR + "bucket of " + std::to_string(entries) + " entries");
        read_array(in, entries * 2, words, OWN_ERR, "bucket entries");
        b.reserve(static_cast<size_t>(entries));
        for (uint64_t e = 0; e < entries; ++e) b.insert(words[2 * e], words[2 * e + 1]);
    }
    const uint64_t n_pos = read_le<uint64_t>(in, OWN_ERR, "the position count");
    read_array(in, n_pos, bh.positions, OWN_ERR, "positions");
    idx.backend = std::move(bh);
    const uint64_t n_words = read_le<uint64_t>(in, OWN_ERR, "the packed word count");
    read_array(in, n_words, idx.packed_seqs, OWN_ERR, "packed bases");
    validate(idx, OWN_ERR);
    return idx;
}

// ---- foreign format decoding -------------------------------------------------------

Index decode_foreign(ByteInput& in) {
    const auto start = std::chrono::steady_clock::now();
    const uint32_t w = read_le<uint32_t>(in, FOREIGN_ERR, "the header");
    const uint32_t k = read_le<uint32_t>(in, FOREIGN_ERR, "the header");
    const uint32_t b = read_le<uint32_t>(in, FOREIGN_ERR, "the header");
    const uint32_t n_seq = read_le<uint32_t>(in, FOREIGN_ERR, "the header");
    const uint32_t flags = read_le<uint32_t>(in, FOREIGN_ERR, "the header");
    if (b > MAX_BUCKET_BITS)
        throw Error(ErrorKind::Io, FOREIGN_ERR + "bucket bits " + std::to_string(b) + " out of range");

    Index idx;
    idx.kmer_size = k;
    idx.window_size = w;
    idx.homopolymer_compressed = flags & 1;
    idx.index = 0;
    // Every target takes at least 5 bytes.
    idx.seqs.reserve(static_cast<size_t>(std::min<uint64_t>(n_seq, in.remaining() / 5)));
    uint64_t total = 0;
    for (uint32_t i = 0; i < n_seq; ++i) {
        TargetSequence t;
        const uint8_t len = read_le<uint8_t>(in, FOREIGN_ERR, "a target name");
        std::string raw(len, '\0');
        if (len && !in.read_exact(raw.data(), len))
            throw Error(ErrorKind::Io, FOREIGN_ERR + "unexpected end of input while reading a target name");
        t.name = utf8_lossy(raw);
        t.len = read_le<uint32_t>(in, FOREIGN_ERR, "a target length");
        t.offset = total;
        total += t.len;
        idx.seqs.push_back(std::move(t));
    }

    const uint64_t n_buckets = uint64_t{1} << b;
    // Every bucket takes at least 8 bytes.
    if (n_buckets > in.remaining() / 8)
        throw Error(ErrorKind::Io, FOREIGN_ERR + "unexpected end of input while reading the buckets");
    std::vector<BucketHashLookup::ForeignBucket> buckets(static_cast<size_t>(n_buckets));
    std::vector<uint64_t> words;
    for (auto& fb : buckets) {
        const uint32_t np = read_le<uint32_t>(in, FOREIGN_ERR, "a bucket");
        read_array(in, np, fb.positions, FOREIGN_ERR, "bucket positions");
        const uint32_t ne = read_le<uint32_t>(in, FOREIGN_ERR, "a bucket");
        read_array(in, uint64_t{ne} * 2, words, FOREIGN_ERR, "bucket entries");
        fb.entries.resize(ne);
        for (uint32_t e = 0; e < ne; ++e) fb.entries[e] = {words[2 * e], words[2 * e + 1]};
    }
    idx.backend = BucketHashLookup::from_foreign_buckets(b, buckets);

    if (!(flags & 2) && total > 0) {
        const uint64_t n_words = total / 8 + (total % 8 != 0);
        read_array(in, n_words, idx.packed_seqs, FOREIGN_ERR, "packed bases");
    }
    validate(idx, FOREIGN_ERR);

    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "[*] Index loaded: %u seqs, %lluM bases in %.1fs\n", n_seq,
                 static_cast<unsigned long long>(total / 1000000), secs);
    return idx;
}

// Reads the magic and the index after it. Returns false when the input
// holds fewer than four bytes.
bool decode_any(ByteInput& in, Index& out) {
    uint8_t magic[4];
    const size_t got = in.read_some(magic, 4);
    if (got < 4) return false;
    if (std::memcmp(magic, FOREIGN_MAGIC, 4) == 0) {
        out = decode_foreign(in);
    } else if (std::memcmp(magic, OWN_MAGIC, 4) == 0) {
        out = decode_own(in);
    } else {
        // Older files start directly with the record.
        in.unread(4);
        out = decode_own(in);
    }
    return true;
}

}  // namespace

void unpack_nt4_into(const std::vector<uint32_t>& packed, uint64_t start, uint8_t* out,
                     uint64_t count) {
    uint64_t i = 0;
    for (; i < count && (start + i) % 8 != 0; ++i) {
        const uint64_t p = start + i;
        out[i] = (packed[p / 8] >> (4 * (p % 8))) & 15;
    }
    for (; i + 8 <= count; i += 8) {
        const uint64_t bytes = spread_nibbles(packed[(start + i) / 8]);
        std::memcpy(out + i, &bytes, 8);
    }
    for (; i < count; ++i) {
        const uint64_t p = start + i;
        out[i] = (packed[p / 8] >> (4 * (p % 8))) & 15;
    }
}

Index Index::build(std::vector<TargetInput> inputs, uint64_t w, uint64_t k, bool is_hpc,
                   uint64_t max_occ) {
    Index idx;
    idx.kmer_size = k;
    idx.window_size = w;
    idx.homopolymer_compressed = is_hpc;
    idx.index = 0;
    if (inputs.size() > (uint64_t{1} << 32))
        throw Error(ErrorKind::InvalidInput, "too many targets: ids must fit in 32 bits");
    uint64_t total = 0;
    idx.seqs.reserve(inputs.size());
    for (TargetInput& in : inputs) {
        const uint64_t len = in.bytes().size();
        check_sequence_length(len);
        idx.seqs.push_back({std::move(in.name), len, total, false});
        total += len;
    }
    idx.packed_seqs.assign(static_cast<size_t>(total / 8 + (total % 8 != 0)), 0);

    const uint32_t b = std::min<uint32_t>(2 * static_cast<uint32_t>(k), 10);
    const uint64_t mask = (uint64_t{1} << b) - 1;
    std::vector<std::vector<HashRecord>> lists(size_t{1} << b);
    auto& pool = ThreadPool::global();

    for (size_t first = 0; first < inputs.size(); first += BUILD_BATCH) {
        const size_t n = std::min(BUILD_BATCH, inputs.size() - first);
        if (is_hpc) {
            // Homopolymer runs are found on raw bytes: make them case-blind.
            for (size_t r = first; r < first + n; ++r) {
                std::string& s = inputs[r].seq;
                if (s.empty()) s.assign(inputs[r].borrowed);
                for (char& c : s)
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            }
        }
        // One task per target sketches it; one more packs the whole batch
        // (targets share words at their ends, so packing stays in one task).
        std::vector<std::vector<Minimizer>> sketches(n);
        pool.parallel_for(n + 1, [&](size_t j) {
            if (j == n) {
                for (size_t r = first; r < first + n; ++r)
                    pack_target(idx.packed_seqs, idx.seqs[r].offset, inputs[r].bytes());
                return;
            }
            const size_t r = first + j;
            const std::string_view s = inputs[r].bytes();
            // about 2 / (w + 1) minimizers per base: reserve to skip regrowth
            sketches[j].reserve(s.size() * 2 / (w + 1) + 64);
            sketch_sequence_impl(reinterpret_cast<const uint8_t*>(s.data()), s.size(), w, k,
                                 static_cast<uint32_t>(r), is_hpc, sketches[j]);
        });
        // Count first so every list grows once.
        std::vector<size_t> add(lists.size(), 0);
        for (const auto& sk : sketches)
            for (const Minimizer& m : sk) ++add[(m.x >> 8) & mask];
        for (size_t i = 0; i < lists.size(); ++i) lists[i].reserve(lists[i].size() + add[i]);
        for (const auto& sk : sketches)
            for (const Minimizer& m : sk) lists[(m.x >> 8) & mask].emplace_back(m.x >> 8, m.y);
        for (size_t r = first; r < first + n; ++r) {
            std::string().swap(inputs[r].seq);
            inputs[r].borrowed = {};
        }
    }
    pool.parallel_for(lists.size(), [&](size_t i) { std::sort(lists[i].begin(), lists[i].end()); });
    idx.backend = BucketHashLookup::build(b, lists, max_occ);
    return idx;
}

uint64_t Index::cal_mid_occ(int32_t min_mid_occ, int32_t max_mid_occ, float frac) const {
    if (frac <= 0) return std::numeric_limits<uint64_t>::max();
    const uint64_t lower = min_mid_occ >= 2 ? static_cast<uint64_t>(min_mid_occ) : 1;
    std::vector<uint32_t> counts;
    lookup().occurrence_counts([&](uint32_t c) { counts.push_back(c); });
    if (counts.empty()) return lower;
    std::sort(counts.begin(), counts.end());
    const uint64_t n = counts.size();
    // The fraction keeps its float value: (1 - 0.2f) * 5 lies just below 4.
    const double x = (1.0 - static_cast<double>(frac)) * static_cast<double>(n);
    uint64_t i = !(x > 0) ? 0 : x >= 18446744073709551615.0 ? UINT64_MAX : static_cast<uint64_t>(x);
    i = std::min(i, n - 1);
    uint64_t t = std::max<uint64_t>(uint64_t{counts[i]} + 1, lower);
    if (max_mid_occ > min_mid_occ && static_cast<int64_t>(t) > max_mid_occ)
        t = max_mid_occ >= 1 ? static_cast<uint64_t>(max_mid_occ) : lower;
    return t;
}

std::optional<uint32_t> Index::find_target(std::string_view name) const {
    for (size_t i = 0; i < seqs.size(); ++i)
        if (seqs[i].name == name) return static_cast<uint32_t>(i);
    return std::nullopt;
}

std::vector<uint8_t> Index::get_region_nt4(uint32_t rid, uint64_t st, uint64_t en) const {
    if (rid >= seqs.size())
        throw Error(ErrorKind::InvalidInput, "target id " + std::to_string(rid) + " out of range");
    const TargetSequence& t = seqs[rid];
    if (st > en || en > t.len)
        throw Error(ErrorKind::InvalidInput, "region " + std::to_string(st) + ".." +
                                                 std::to_string(en) + " lies outside target '" +
                                                 t.name + "' of length " + std::to_string(t.len));
    if (!has_sequences())
        throw Error(ErrorKind::InvalidInput,
                    "Sequences were stripped from the index: target bases are not available");
    std::vector<uint8_t> out(static_cast<size_t>(en - st));
    unpack_nt4_into(packed_seqs, t.offset + st, out.data(), en - st);
    return out;
}

void Index::save(const std::string& path) const {
    FileWriter out(path, "Failed to create index '" + path + "': ",
                   "Failed to write index '" + path + "': ");
    encode(*this, out);
    out.finish();
}

Index Index::load(const std::string& path) {
    FileReader in(path, "Failed to open index '" + path + "': ",
                  "Failed to read index '" + path + "': ");
    Index idx;
    if (!decode_any(in, idx)) throw Error(ErrorKind::Io, "Empty index file");
    return idx;
}

void Index::save_part(std::vector<uint8_t>& buffer) const {
    VectorWriter out(buffer);
    encode(*this, out);
}

std::optional<Index> Index::load_part(MemoryReader& reader) {
    Index idx;
    if (!decode_any(reader, idx)) return std::nullopt;
    return idx;
}

size_t Index::memory_bytes() const {
    size_t bytes = sizeof(Index) + seqs.capacity() * sizeof(TargetSequence) +
                   packed_seqs.capacity() * sizeof(uint32_t) + lookup().memory_bytes();
    for (const TargetSequence& t : seqs)
        if (t.name.capacity() > 15) bytes += t.name.capacity() + 1;
    return bytes;
}

}  // namespace tessiq
