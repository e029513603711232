// The reference index: targets, their packed bases and the seed table, with
// the build from named sequences and the index file formats.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "align/index_bucket.h"
#include "align/sketch.h"
#include "util/byte_io.h"
#include "util/error.h"

namespace tessiq {

struct TargetSequence {
    std::string name;
    uint64_t len = 0;
    uint64_t offset = 0;  // global coordinate of the first base
    bool is_alt = false;
};

namespace detail {
constexpr std::array<uint32_t, 256> widen_base_encoding() {
    std::array<uint32_t, 256> t{};
    for (size_t i = 0; i < 256; ++i) t[i] = BASE_ENCODING[i];
    return t;
}
}  // namespace detail

// Base codes for packing: the sketcher's encoding (0 A, 1 C, 2 G, 3 T, 4
// anything else) at 32-bit width.
inline constexpr std::array<uint32_t, 256> NT4_TABLE = detail::widen_base_encoding();

// The seed table variants; there is one.
using LookupBackend = std::variant<BucketHashLookup>;

// One target handed to the build. The bytes are either owned (`seq`) or
// borrowed (`borrowed`, when `seq` is empty): a caller that keeps the bytes
// alive during the build need not copy them.
struct TargetInput {
    std::string name;
    std::string seq;
    std::string_view borrowed;
    std::string_view bytes() const { return seq.empty() ? borrowed : std::string_view(seq); }
};

// Writes the codes of global bases start .. start+count-1 into out[0..count).
TESSIQ_API void unpack_nt4_into(const std::vector<uint32_t>& packed_seqs, uint64_t start,
                                uint8_t* out, uint64_t count);

struct TESSIQ_API Index {
    uint64_t kmer_size = 0;
    uint64_t window_size = 0;
    bool homopolymer_compressed = false;
    uint64_t index = 0;
    std::vector<TargetSequence> seqs;
    LookupBackend backend;
    std::vector<uint32_t> packed_seqs;

    // Builds the index; the inputs are consumed batch by batch. Throws
    // Error(InvalidInput) for a target of 2^31 bases or more, FatalError for
    // w or k the sketcher refuses (when a non-empty target is sketched).
    static Index build(std::vector<TargetInput> seqs, uint64_t w, uint64_t k, bool is_hpc,
                       uint64_t max_occ);

    const BucketHashLookup& lookup() const { return std::get<BucketHashLookup>(backend); }

    // The occurrence threshold at which the top `frac` of distinct hashes
    // (by occurrence count) are left out.
    uint64_t cal_mid_occ(int32_t min_mid_occ, int32_t max_mid_occ, float frac) const;

    uint64_t total_length() const { return seqs.empty() ? 0 : seqs.back().offset + seqs.back().len; }
    // False after strip_sequences (or for a file saved without bases).
    bool has_sequences() const { return !packed_seqs.empty() || total_length() == 0; }
    // The first target, in id order, with this name.
    std::optional<uint32_t> find_target(std::string_view name) const;

    // Codes 0..4 of bases st .. en-1 of target rid. Throws Error(InvalidInput)
    // for a range outside the target and for an index without bases.
    std::vector<uint8_t> get_region_nt4(uint32_t rid, uint64_t st, uint64_t en) const;

    void strip_sequences() { std::vector<uint32_t>().swap(packed_seqs); }

    // Own file format. All failures throw Error(Io) with the message for the user.
    void save(const std::string& path) const;
    static Index load(const std::string& path);
    void save_part(std::vector<uint8_t>& buffer) const;
    // Nothing when fewer than four bytes are left.
    static std::optional<Index> load_part(MemoryReader& reader);

    // Heap bytes held by the index.
    size_t memory_bytes() const;
};

}  // namespace tessiq
