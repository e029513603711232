// gzip decompression for the sequence readers: every member of a
// multi-member stream is inflated in turn, as one continuous byte stream.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "fasta/reader.h"

namespace tessiq {

// Inflates the gzip stream that `prefix` followed by the rest of `compressed`
// form (`prefix` holds bytes already taken from `compressed` to sniff the
// magic). Zero bytes after a member are padding; any other byte must start
// another member. Corrupt or truncated data throws FastxError (Io).
TESSIQ_API std::unique_ptr<ByteSource> make_gzip_source(std::unique_ptr<ByteSource> compressed,
                                                        std::string prefix);

// Decompresses a whole in-memory gzip stream (all members).
TESSIQ_API std::string gunzip(std::string_view data);

// "isa-l" when the faster inflater is built in and not disabled, else "zlib".
TESSIQ_API const char* inflater_name();
// Selects zlib even when the faster inflater is available (for tests that
// cover both code paths). Affects sources made afterwards.
TESSIQ_API void set_force_zlib(bool on);

}  // namespace tessiq
