// The kernels built for AVX2 (four doubles per instruction; no fused multiply-add).
#include "dsp/DspKernelsImpl.h"

extern const DspKernels kAvx2Kernels;
const DspKernels kAvx2Kernels = kKernels;
