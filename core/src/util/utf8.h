// UTF-8 checks shared by every reader of names and texts: strict validation
// (no overlong forms, surrogates or code points above U+10FFFF) and lossy
// decoding with U+FFFD, as Python's "replace" error handler does.
#pragma once

#include <string>
#include <string_view>

#include "util/error.h"

namespace tessiq {

TESSIQ_API bool is_valid_utf8(std::string_view s);

// Each maximal invalid subsequence becomes one U+FFFD.
TESSIQ_API std::string utf8_lossy(std::string_view bytes);

}  // namespace tessiq
