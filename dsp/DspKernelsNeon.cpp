// The kernels built for AArch64's Advanced SIMD (NEON: two doubles per
// instruction; no fused multiply-add, which GCC would otherwise contract to).
#include "dsp/DspKernelsImpl.h"

extern const DspKernels kNeonKernels;
const DspKernels kNeonKernels = kKernels;
