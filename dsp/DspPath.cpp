#include "dsp/DspKernels.h"

#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64)
#define TALVOR_X86_64 1
#include <cpuid.h>
#endif

#if defined(TALVOR_X86_64)
// Defined by the per-instruction-set files.
extern const DspKernels kSse2Kernels;
extern const DspKernels kAvx2Kernels;
extern const DspKernels kAvx512Kernels;
#elif defined(__aarch64__)
// Defined by DspKernelsNeon.cpp.
extern const DspKernels kNeonKernels;
#endif

namespace
{
struct CpuSupport
{
  bool avx2 = false;
  bool avx512 = false;
};

#if defined(TALVOR_X86_64)
uint64_t EnabledRegisterState()
{
  uint32_t eax, edx;
  __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return ((uint64_t)edx << 32) | eax;
}

// The processor must have the instructions and the operating system must
// save the wider registers on a thread switch (XCR0): the YMM state for AVX2,
// and the opmask and ZMM states as well for AVX-512.
CpuSupport Detect()
{
  CpuSupport s;
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return s;
  const bool osSavesState = (c & (1u << 27)) != 0;  // OSXSAVE
  const bool avx = (c & (1u << 28)) != 0;
  if (!osSavesState || !avx || __get_cpuid_max(0, nullptr) < 7) return s;
  const uint64_t xcr0 = EnabledRegisterState();
  __cpuid_count(7, 0, a, b, c, d);
  const bool ymmState = (xcr0 & 0x06) == 0x06;
  const bool zmmState = (xcr0 & 0xE6) == 0xE6;
  s.avx2 = ymmState && (b & (1u << 5)) != 0;
  const uint32_t avx512Needed = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);  // F, DQ, BW, VL
  s.avx512 = s.avx2 && zmmState && (b & avx512Needed) == avx512Needed;
  return s;
}

const CpuSupport& Support()
{
  static const CpuSupport support = Detect();
  return support;
}
#endif
}  // namespace

const char* DspPathName(DspPath path)
{
  switch (path)
  {
    case DspPath::Scalar: return "scalar";
    case DspPath::Sse2: return "sse2";
    case DspPath::Avx2: return "avx2";
    case DspPath::Avx512: return "avx512";
    case DspPath::Neon: return "neon";
  }
  return "?";
}

bool DspPathSupported(DspPath path) { return path == DspPath::Scalar || KernelsFor(path) != nullptr; }

// TALVOR_DSP_PATH_LIMIT caps the choice at that path (a DspPath value): the
// benchmarks build modules with it to time a slower path on a processor that
// has a faster one. The delivered modules leave it undefined.
#if defined(TALVOR_DSP_PATH_LIMIT)
constexpr int kPathLimit = TALVOR_DSP_PATH_LIMIT;
#else
constexpr int kPathLimit = kDspPathCount - 1;
#endif

DspPath FastestDspPath()
{
  auto allowed = [](DspPath p) { return (int)p <= kPathLimit && DspPathSupported(p); };
  static const DspPath fastest = allowed(DspPath::Neon)     ? DspPath::Neon
                                 : allowed(DspPath::Avx512) ? DspPath::Avx512
                                 : allowed(DspPath::Avx2) ? DspPath::Avx2
                                 : allowed(DspPath::Sse2) ? DspPath::Sse2
                                                          : DspPath::Scalar;
  return fastest;
}

const DspKernels* KernelsFor(DspPath path)
{
#if defined(TALVOR_X86_64)
  switch (path)
  {
    case DspPath::Sse2: return &kSse2Kernels;
    case DspPath::Avx2: return Support().avx2 ? &kAvx2Kernels : nullptr;
    case DspPath::Avx512: return Support().avx512 ? &kAvx512Kernels : nullptr;
    default: return nullptr;
  }
#elif defined(__aarch64__)
  return path == DspPath::Neon ? &kNeonKernels : nullptr;
#else
  (void)path;
  return nullptr;
#endif
}
