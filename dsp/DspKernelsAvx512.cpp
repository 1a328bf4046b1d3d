// The kernels built for AVX-512 F, DQ, BW and VL (eight doubles per instruction).
#include "dsp/DspKernelsImpl.h"

extern const DspKernels kAvx512Kernels;
const DspKernels kAvx512Kernels = kKernels;
