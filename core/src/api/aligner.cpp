#include "api/aligner.h"

#include "align/index.h"

namespace tessiq {

std::vector<CigarElement> parse_cigar_string(std::string_view text) {
    std::vector<CigarElement> out;
    uint32_t count = 0;
    // Byte by byte: every character that matters is ASCII, and the bytes of
    // other UTF-8 characters are skipped like the characters themselves.
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            count = count * 10u + static_cast<uint32_t>(c - '0');
            continue;
        }
        bam::CigarOp op;
        switch (c) {
            case 'M': op = bam::CigarOp::M; break;
            case 'I': op = bam::CigarOp::I; break;
            case 'D': op = bam::CigarOp::D; break;
            case 'N': op = bam::CigarOp::N; break;
            case 'S': op = bam::CigarOp::S; break;
            case 'H': op = bam::CigarOp::H; break;
            case '=': op = bam::CigarOp::EQ; break;
            case 'X': op = bam::CigarOp::X; break;
            default: continue;
        }
        if (count > 0) out.push_back({count, op});
        count = 0;
    }
    return out;
}

std::vector<uint8_t> encode_nt4(std::string_view bytes) {
    std::vector<uint8_t> out(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i)
        out[i] = static_cast<uint8_t>(NT4_TABLE[static_cast<unsigned char>(bytes[i])]);
    return out;
}

}  // namespace tessiq
