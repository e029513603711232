// libFuzzer target for both junction loaders. The input is written to an
// in-memory file and loaded as BED and as SPSC against three small targets;
// a load must either fail with tessiq::Error or give a database whose
// entries hold the loaders' promises and whose region reads stay inside the
// output array (ASan checks that).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "align/junc.h"

using namespace tessiq;

namespace {

const TargetNameMap NAMES = {{"chr1", 0}, {"chr2", 1}, {"c", 2}};
const std::vector<uint64_t> LENGTHS = {5000, 300, 2};

void check(bool ok) {
    if (!ok) std::abort();
}

void read_regions(const JunctionDb& db, uint64_t seed) {
    std::vector<uint8_t> out;
    for (int i = 0; i < 8; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const uint32_t tid = (seed >> 60) % 4;  // one id past the targets
        const int64_t a = static_cast<int64_t>((seed >> 20) % 6000) - 100;
        const int64_t b = a + static_cast<int64_t>((seed >> 40) % 3000);
        out.assign(static_cast<size_t>(b - a), 0xAB);
        get_junc(db, tid, a, b, (seed >> 3) & 1, out.data());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("junc", 0);
    if (fd < 0) return 0;
    if (size && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        JunctionDb db = load_bed_junctions(path, NAMES, 3);
        const auto& lists = std::get<JunctionDb::Bed>(db.data);
        check(lists.size() == 3);
        for (const auto& l : lists)
            for (size_t i = 0; i < l.size(); ++i) {
                check(0 <= l[i].start && l[i].start < l[i].end);
                check(l[i].strand >= -1 && l[i].strand <= 1);
                if (i) check(l[i - 1].start < l[i].start || (l[i - 1].start == l[i].start && l[i - 1].end < l[i].end));
            }
        read_regions(db, size);
    } catch (const Error&) {
    }
    try {
        JunctionDb db = load_spsc_scores(path, NAMES, 3, LENGTHS, 0.7f, 20);
        const auto& lists = std::get<JunctionDb::Spsc>(db.data);
        check(lists.size() == 6);
        for (size_t li = 0; li < lists.size(); ++li)
            for (size_t i = 0; i < lists[li].entries.size(); ++i) {
                const uint64_t e = lists[li].entries[i], pos = e >> 8, field = (e >> 1) & 127;
                check(pos >= 1 && pos < LENGTHS[li / 2]);
                check(field >= 64 - 20 && field <= 64 + 20);
                if (i) check(lists[li].entries[i - 1] <= e);
            }
        read_regions(db, size * 31);
    } catch (const Error&) {
    }
    close(fd);
    return 0;
}
