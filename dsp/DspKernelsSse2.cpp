// The kernels built for SSE2, which every x86-64 processor has.
#include "dsp/DspKernelsImpl.h"

extern const DspKernels kSse2Kernels;
const DspKernels kSse2Kernels = kKernels;
