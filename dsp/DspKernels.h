#pragma once
// The engine's inner loops for each instruction set the processor may offer,
// chosen at run time. Every path runs the same IEEE operations in the same
// order on every value (no fused multiply-add, no reassociation), so every
// path renders the same bits; they differ only in how many values one
// instruction carries.

enum class DspPath : int
{
  Scalar,  // one value at a time, frame by frame: the reference
  Sse2,    // every x86-64 processor
  Avx2,
  Avx512,
  Neon,    // every AArch64 processor
};
constexpr int kDspPathCount = 5;
constexpr DspPath kDspPaths[kDspPathCount] = {DspPath::Scalar, DspPath::Sse2, DspPath::Avx2, DspPath::Avx512,
                                              DspPath::Neon};

const char* DspPathName(DspPath path);
// Whether this processor and its operating system can run the path.
bool DspPathSupported(DspPath path);
// The fastest supported path, found once.
DspPath FastestDspPath();

// Both channels' filter sections side by side, left in element 0 and right in
// element 1, as the kernels run them: coefficients, then state.
struct FilterLanes
{
  struct Biquad  // transposed direct form II
  {
    double b0[2], b1[2], b2[2], a1[2], a2[2];
    double z1[2], z2[2];
  };
  struct Parametric  // direct form I
  {
    double b0[2], b1[2], b2[2], a1[2], a2[2];
    double x1[2], x2[2], y1[2], y2[2];
  };
  struct Lowpass  // direct form I, 32-bit, four elements of which two are used
  {
    float b0[4], b1[4], b2[4], a1[4], a2[4];
    float x1[4], x2[4], y1[4], y2[4];
  };
  Biquad highpass, lowShelf, highShelf;
  Parametric mid;
  Lowpass lowpass;
  bool lowpassOn;
};

// One instruction set's kernels. Stereo values are interleaved, left first.
struct DspKernels
{
  // count values from in to out, each exactly as SaturateSample gives it; in
  // and out may be the same array.
  void (*saturate)(const double* in, double* out, int count);
  // frames stereo frames from the host's channels through the input stage
  // ((x + 1e-10) * gain, non-finite x read as silence; gains holds one gain
  // per value, left and right interleaved, or is null and gain serves every
  // value), the waveshaper (its output, interleaved, in work) and the
  // sections to the high shelf's output, interleaved, in out: rounded to 32
  // bits after every stage (limited to the 32-bit range, as the engine's
  // Round32 does; the output stage's rounding of the last). The sections'
  // state is carried in lanes. Returns whether a value was limited, the last stage's output
  // included, or the waveshaper's output reached the engine's absurd level
  // (1e32), as the engine's FilterChain notes them.
  bool (*shapeAndFilter)(FilterLanes& lanes, const double* inL, const double* inR, const double* gains,
                         double gain, double* work, float* out, int frames);
  // The output stage: (c - 1e-10) * gain * trim for each value c of the
  // sections' output, gains and gain as above; a null output channel is not
  // written.
  void (*output)(const float* in, const double* gains, double gain, double trim, double* outL, double* outR,
                 int frames);
  // The same two with a host's 32-bit buffers: the samples read as 64-bit
  // values, and each output limited to the float range (NaN passed) and
  // rounded to float, as a 64-bit block converted for such a host gives it.
  bool (*shapeAndFilter32)(FilterLanes& lanes, const float* inL, const float* inR, const double* gains,
                           double gain, double* work, float* out, int frames);
  void (*output32)(const float* in, const double* gains, double gain, double trim, float* outL, float* outR,
                   int frames);
};

// The kernels of a vector path; null for the scalar path and for a path this
// build or this processor cannot run.
const DspKernels* KernelsFor(DspPath path);
