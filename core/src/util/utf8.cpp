#include "util/utf8.h"

namespace tessiq {

namespace {
// Length of the sequence led by byte c and the allowed range of its second
// byte, which excludes overlong forms, surrogates and values above
// U+10FFFF; 0 for a byte that cannot lead a sequence.
size_t lead(unsigned char c, unsigned char& lo, unsigned char& hi) {
    lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) {
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
        return 4;
    }
    return 0;
}

// Bytes of a valid sequence starting at i, or the length of the longest
// valid prefix (at least 1) negated.
long valid_run(std::string_view s, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    if (at(i) < 0x80) return 1;
    unsigned char lo, hi;
    const size_t len = lead(at(i), lo, hi);
    if (len == 0) return -1;
    size_t j = i + 1;
    if (j >= s.size() || at(j) < lo || at(j) > hi) return -1;
    for (++j; j < i + len; ++j)
        if (j >= s.size() || at(j) < 0x80 || at(j) > 0xBF) return -static_cast<long>(j - i);
    return static_cast<long>(len);
}
}  // namespace

bool is_valid_utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const long r = valid_run(s, i);
        if (r < 0) return false;
        i += static_cast<size_t>(r);
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const long r = valid_run(bytes, i);
        if (r > 0) {
            out.append(bytes.data() + i, static_cast<size_t>(r));
            i += static_cast<size_t>(r);
        } else {
            out += "\xEF\xBF\xBD";
            i += static_cast<size_t>(-r);
        }
    }
    return out;
}

}  // namespace tessiq
