// libFuzzer harness for the sequence readers: the FASTA/FASTQ reader over
// plain and gzip input (both inflaters), parse_fasta_bytes and both
// streamers. Inputs are read through a source that hands out a few bytes at
// a time into a tiny buffer, so every refill, compaction and growth path is
// reached with small inputs. The streamers must give the same records for
// any chunking. Build and run with tests/fuzz/run_fuzz_fastx.sh.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fasta/gzip.h"
#include "fasta/reader.h"
#include "fasta/stream.h"

namespace {

class PieceSource final : public tessiq::ByteSource {
public:
    PieceSource(std::string data, size_t piece) : data_(std::move(data)), piece_(piece) {}
    size_t read(uint8_t* dst, size_t cap) override {
        const size_t n = std::min({cap, piece_, data_.size() - pos_});
        std::memcpy(dst, data_.data() + pos_, n);
        pos_ += n;
        return n;
    }

private:
    std::string data_;
    size_t pos_ = 0;
    size_t piece_;
};

void read_all(std::string data, size_t piece, size_t buffer, bool gzip, uint64_t batch) {
    std::unique_ptr<tessiq::ByteSource> src = std::make_unique<PieceSource>(std::move(data), piece);
    if (gzip) src = tessiq::make_gzip_source(std::move(src), std::string());
    tessiq::Reader reader(std::move(src), buffer);
    try {
        if (batch == 0) {
            tessiq::Record rec;
            while (reader.read_next(rec)) {
            }
        } else {
            while (!reader.read_batch(batch - 1).second) {
            }
        }
    } catch (const tessiq::FastxError&) {
    }
}

template <typename S>
std::vector<tessiq::NamedSequence> stream(const std::string& data, const std::vector<size_t>& cuts,
                                          bool rna) {
    S s(rna);
    std::vector<tessiq::NamedSequence> out;
    size_t pos = 0;
    for (size_t c : cuts) {
        s.push(std::string_view(data).substr(pos, c - pos));
        pos = c;
        while (auto r = s.next_record()) out.push_back(std::move(*r));
    }
    s.push(std::string_view(data).substr(pos));
    s.finalize();
    while (auto r = s.next_record()) out.push_back(std::move(*r));
    return out;
}

template <typename S>
void check_streamer(const std::string& data, const uint8_t* ctl, bool rna) {
    std::vector<size_t> cuts;
    for (int i = 0; i < 6; ++i) cuts.push_back(data.empty() ? 0 : ctl[i] % (data.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    if (stream<S>(data, {}, rna) != stream<S>(data, cuts, rna)) {
        std::fprintf(stderr, "chunking changed the records\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p, size_t n) {
    if (n < 8) return 0;
    const uint8_t* ctl = p;
    std::string data(reinterpret_cast<const char*>(p + 8), n - 8);
    const size_t piece = 1 + ctl[1] % 64;
    const size_t buffer = 1 + ctl[2] % 32;
    tessiq::set_force_zlib(ctl[3] & 1);
    switch (ctl[0] % 5) {
        case 0:
            read_all(data, piece, buffer, false, ctl[4] % 3 == 0 ? 0 : ctl[5] % 16 + 1);
            break;
        case 1:  // arbitrary bytes as gzip data
            read_all(data, piece, buffer, true, 0);
            break;
        case 2:
            tessiq::parse_fasta_bytes(data);
            try {
                tessiq::gunzip(data);
            } catch (const tessiq::FastxError&) {
            }
            break;
        case 3:
            check_streamer<tessiq::FastaStreamer>(data, ctl + 2, ctl[1] & 1);
            break;
        case 4:
            check_streamer<tessiq::FastqStreamer>(data, ctl + 2, ctl[1] & 1);
            break;
    }
    return 0;
}
