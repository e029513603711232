// Process-wide kernel switches: environment overrides, CPU features and the
// preset-controlled level cap. The DP and chaining dispatchers consult these
// on every call, so each is computed once and then read for free.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "util/error.h"

namespace tessiq {

// A switch that is on when its environment variable is present with a value
// that is valid UTF-8, whatever the value ("0" and "" included). Read on
// first use and fixed for the life of the process.
class TESSIQ_API EnvSwitch {
public:
    explicit constexpr EnvSwitch(const char* variable) : variable_(variable) {}
    bool on() const;
    explicit operator bool() const { return on(); }
    const char* variable() const { return variable_; }

private:
    const char* variable_;
    mutable std::once_flag once_;
    mutable bool value_ = false;
};

extern TESSIQ_API const EnvSwitch FORCE_SCALAR;        // every DP dispatcher runs scalar
extern TESSIQ_API const EnvSwitch COMPARE_SCALAR;      // with FORCE_SCALAR: dual-affine compare mode
extern TESSIQ_API const EnvSwitch FORCE_SSE;           // no AVX2 or AVX-512 variants
extern TESSIQ_API const EnvSwitch FORCE_AVX2;          // no AVX-512 variants
extern TESSIQ_API const EnvSwitch FORCE_AVX512;        // the level cap no longer excludes AVX-512
extern TESSIQ_API const EnvSwitch FORCE_SCALAR_CHAIN;  // chaining runs the scalar reference

// Instruction sets the CPU offers and the operating system has enabled (the
// wider register states must be saved across context switches).
struct CpuFeatures {
    bool sse41 = false;
    bool avx2 = false;
    bool avx512f = false;
    bool avx512bw = false;
};
// Queried once per process.
TESSIQ_API const CpuFeatures& cpu_features();

// Ceiling on the vector level of the DP and chaining kernels, written by
// every preset application (0, or 1 for the short-read and all-vs-all
// presets). Process-wide: the last preset applied decides for everyone.
// 1..3 excludes AVX-512 (unless FORCE_AVX512), 2..3 also excludes AVX2.
extern TESSIQ_API std::atomic<uint8_t> SIMD_CAP;

enum class SimdLevel { Scalar, Sse2, Sse41, Avx2, Avx512 };
TESSIQ_API const char* simd_level_name(SimdLevel level);

// The variant a DP dispatcher runs (scalar only with FORCE_SCALAR).
TESSIQ_API SimdLevel select_dp_level();

// The variant the chaining dispatcher runs for inputs the vector chainers
// serve: Scalar (FORCE_SCALAR_CHAIN), Avx512, Avx2, or Sse2 for the SSE chainer.
TESSIQ_API SimdLevel select_chain_level();

}  // namespace tessiq
