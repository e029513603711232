#include "align/env_flags.h"

#include <cpuid.h>

#include <cstdlib>

#include "util/utf8.h"

namespace tessiq {

const EnvSwitch FORCE_SCALAR{"TESSIQ_FORCE_SCALAR"};
const EnvSwitch COMPARE_SCALAR{"TESSIQ_COMPARE_SCALAR"};
const EnvSwitch FORCE_SSE{"TESSIQ_FORCE_SSE"};
const EnvSwitch FORCE_AVX2{"TESSIQ_FORCE_AVX2"};
const EnvSwitch FORCE_AVX512{"TESSIQ_FORCE_AVX512"};
const EnvSwitch FORCE_SCALAR_CHAIN{"TESSIQ_FORCE_SCALAR_CHAIN"};

std::atomic<uint8_t> SIMD_CAP{0};

bool EnvSwitch::on() const {
    std::call_once(once_, [this] {
        const char* v = std::getenv(variable_);
        value_ = v != nullptr && is_valid_utf8(v);
    });
    return value_;
}

namespace {
CpuFeatures detect() {
    CpuFeatures f;
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return f;
    f.sse41 = (ecx & bit_SSE4_1) != 0;
    // The wider registers are usable only if the OS saves them: OSXSAVE set
    // and XCR0 enabling SSE+AVX state (bits 1, 2), plus opmask and upper
    // ZMM state (bits 5, 6, 7) for AVX-512.
    const bool osxsave = (ecx & bit_OSXSAVE) != 0;
    uint64_t xcr0 = 0;
    if (osxsave) {
        uint32_t lo, hi;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        xcr0 = (uint64_t{hi} << 32) | lo;
    }
    const bool ymm_state = (xcr0 & 0x6) == 0x6;
    const bool zmm_state = (xcr0 & 0xE6) == 0xE6;
    const bool avx = (ecx & bit_AVX) != 0 && ymm_state;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        f.avx2 = avx && (ebx & bit_AVX2) != 0;
        f.avx512f = avx && zmm_state && (ebx & bit_AVX512F) != 0;
        f.avx512bw = f.avx512f && (ebx & bit_AVX512BW) != 0;
    }
    return f;
}
}  // namespace

const CpuFeatures& cpu_features() {
    static const CpuFeatures features = detect();
    return features;
}

const char* simd_level_name(SimdLevel level) {
    switch (level) {
        case SimdLevel::Scalar: return "scalar";
        case SimdLevel::Sse2: return "sse2";
        case SimdLevel::Sse41: return "sse41";
        case SimdLevel::Avx2: return "avx2";
        case SimdLevel::Avx512: return "avx512";
    }
    return "?";
}

SimdLevel select_dp_level() {
    if (FORCE_SCALAR.on()) return SimdLevel::Scalar;
    const uint8_t cap = SIMD_CAP.load(std::memory_order_relaxed);
    const CpuFeatures& cpu = cpu_features();
    if (!FORCE_SSE.on() && !FORCE_AVX2.on() && (FORCE_AVX512.on() || cap < 1 || cap > 3) &&
        cpu.avx512bw)
        return SimdLevel::Avx512;
    if (!FORCE_SSE.on() && (cap < 2 || cap > 3) && cpu.avx2) return SimdLevel::Avx2;
    if (cpu.sse41) return SimdLevel::Sse41;
    return SimdLevel::Sse2;
}

SimdLevel select_chain_level() {
    if (FORCE_SCALAR_CHAIN.on()) return SimdLevel::Scalar;
    const uint8_t cap = SIMD_CAP.load(std::memory_order_relaxed);
    const CpuFeatures& cpu = cpu_features();
    if (!FORCE_SCALAR.on() && !FORCE_SSE.on() && !FORCE_AVX2.on() &&
        (FORCE_AVX512.on() || cap == 0 || cap > 3) && cpu.avx512f && cpu.avx512bw)
        return SimdLevel::Avx512;
    if (!FORCE_SCALAR.on() && !FORCE_SSE.on() && (cap < 2 || cap > 3) && cpu.avx2)
        return SimdLevel::Avx2;
    return SimdLevel::Sse2;
}

}  // namespace tessiq
