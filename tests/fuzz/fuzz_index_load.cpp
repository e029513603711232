// libFuzzer target for both index loaders (own format, with or without
// magic, and foreign files), through the memory reader and the buffered
// file reader. A load must either fail with tessiq::Error or give an index
// whose every lookup range and region read stays inside its arrays (ASan
// checks that) and which saves and loads back to the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "align/index.h"

using namespace tessiq;

namespace {

void exercise(const Index& idx) {
    const BucketHashLookup& bh = idx.lookup();
    uint64_t sink = 0;
    for (const Bucket& b : bh.buckets) {
        b.for_each([&](uint64_t key, uint64_t value) {
            uint64_t found = 0;
            if (!b.find(key, found) || found != value) std::abort();
            const uint64_t n = static_cast<uint32_t>(value), s = value >> 32;
            for (uint64_t j = s; j < s + n; ++j) sink += bh.positions[j];
        });
    }
    if (idx.has_sequences()) {
        for (uint32_t rid = 0; rid < idx.seqs.size(); ++rid) {
            const uint64_t len = idx.seqs[rid].len;
            const uint64_t en = len < (1u << 16) ? len : (1u << 16);
            for (uint8_t c : idx.get_region_nt4(rid, en / 3, en))
                if (c > 4) std::abort();
        }
    }
    sink += idx.cal_mid_occ(10, 1000, 2e-4f);
    if (sink == 42) std::fputc(' ', stdout);  // keep the reads alive
}

std::vector<uint8_t> saved(const Index& idx) {
    std::vector<uint8_t> out;
    idx.save_part(out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> from_memory;
    bool memory_ok = false;
    try {
        MemoryReader reader(data, size);
        std::optional<Index> idx = Index::load_part(reader);
        if (!idx) return 0;
        exercise(*idx);
        from_memory = saved(*idx);
        MemoryReader again(from_memory.data(), from_memory.size());
        if (saved(*Index::load_part(again)) != from_memory) std::abort();
        memory_ok = true;
    } catch (const Error&) {
    }
    // The file loader must agree with the memory loader.
    static int fd = memfd_create("fuzz-index", 0);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    try {
        Index idx = Index::load("/proc/self/fd/" + std::to_string(fd));
        if (!memory_ok || saved(idx) != from_memory) std::abort();
    } catch (const Error&) {
        if (memory_ok) std::abort();
    }
    return 0;
}
