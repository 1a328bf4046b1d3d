// Channels and blocks: the channel configuration, the per-channel buffers,
// attaching host arrays, running the plug-in on them, the bypass delay line and
// the host-block helpers through which the bindings process.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "framework/IPlugBase.h"

namespace
{
// More channels than this in a configuration text is a typing error, not a
// plug-in; refusing it keeps a stray digit from allocating gigabytes.
constexpr int kMaxChannels = 256;

// Reads an integer the way "%d" does (leading white space, optional sign,
// decimal digits), saturating instead of overflowing. Advances `s` on success.
bool ReadInt(const char*& s, int32_t* out)
{
  char* end = nullptr;
  const long long v = std::strtoll(s, &end, 10);
  if (end == s) return false;
  *out = (int32_t)std::max<long long>(INT32_MIN, std::min<long long>(INT32_MAX, v));
  s = end;
  return true;
}

// The channel range [begin, end) that a (first, count) request covers.
void ChannelRange(int first, int count, int nChannels, int* begin, int* end)
{
  const int64_t last = std::min<int64_t>((int64_t)first + count, nChannels);
  *begin = std::max(first, 0);
  *end = (int)std::max<int64_t>(last, *begin);
}

// Hands the host arrays, in order, to the connected channels of a (first,
// count) request: `attach` (channel, array) runs for each of them, with a null
// array when `hostArrays` is null. Unconnected channels take none.
template <typename Channel, typename Sample, typename Attach>
void AttachInOrder(std::vector<Channel>& channels, int first, int count, Sample** hostArrays,
                   Attach attach)
{
  int begin, end;
  ChannelRange(first, count, (int)channels.size(), &begin, &end);
  int next = 0;
  for (int i = begin; i < end; ++i)
  {
    Channel& ch = channels[i];
    if (!ch.connected) continue;
    attach(ch, hostArrays ? hostArrays[next] : nullptr);
    ++next;
  }
}

const std::string& EmptyText()
{
  static const std::string empty;
  return empty;
}
}  // namespace

// ---- Channel configuration -------------------------------------------------------------

void IPlugBase::SetUpChannels(const char* channelIOStr)
{
  // Tokens are "%d-%d" separated by single spaces. Every space starts a new
  // token, so a doubled space reads the next token twice and a trailing space
  // adds an empty (0, 0) pair; both are kept as they are read.
  const char* text = channelIOStr ? channelIOStr : "";
  int nIn = 0, nOut = 0;
  for (const char* token = text;;)
  {
    ChannelPair pair;
    const char* s = token;
    if (ReadInt(s, &pair.inputs) && *s == '-')
    {
      ++s;
      ReadInt(s, &pair.outputs);
    }
    channelPairs.push_back(pair);
    nIn = std::max(nIn, pair.inputs);
    nOut = std::max(nOut, pair.outputs);
    const char* space = std::strchr(token, ' ');
    if (!space) break;
    token = space + 1;
  }
  nIn = std::min(nIn, kMaxChannels);
  nOut = std::min(nOut, kMaxChannels);

  // The pointer arrays never change size again: every channel keeps the address
  // of its own entry.
  inputPointers.assign(nIn, nullptr);
  outputPointers.assign(nOut, nullptr);
  inputChannels.resize(nIn);
  outputChannels.resize(nOut);
  for (int i = 0; i < nIn; ++i) inputChannels[i].sourceSlot = &inputPointers[i];
  for (int i = 0; i < nOut; ++i) outputChannels[i].destinationSlot = &outputPointers[i];
  pieceIn32.assign(nIn, nullptr);
  pieceIn64.assign(nIn, nullptr);
  pieceOut32.assign(nOut, nullptr);
  pieceOut64.assign(nOut, nullptr);
  channelIn32.assign(nIn, nullptr);
  channelOut32.assign(nOut, nullptr);

  ResizeScratch(0);
}

bool IPlugBase::LegalIO(int nIn, int nOut) const
{
  for (const ChannelPair& pair : channelPairs)
    if ((nIn < 0 || pair.inputs == nIn) && (nOut < 0 || pair.outputs == nOut)) return true;
  return false;
}

void IPlugBase::ConnectInputs(int first, int count, bool connected)
{
  int begin, end;
  ChannelRange(first, count, NInChannels(), &begin, &end);
  for (int i = begin; i < end; ++i)
  {
    InputChannel& ch = inputChannels[i];
    // A channel that stops being fed reads silence, not the last host block
    // that the 32-bit path converted into its scratch buffer.
    if (!connected && ch.connected) std::fill(ch.scratch.begin(), ch.scratch.end(), 0.0);
    ch.connected = connected;
    if (!connected) *ch.sourceSlot = ch.scratch.data();
  }
}

void IPlugBase::ConnectOutputs(int first, int count, bool connected)
{
  int begin, end;
  ChannelRange(first, count, NOutChannels(), &begin, &end);
  for (int i = begin; i < end; ++i)
  {
    OutputChannel& ch = outputChannels[i];
    ch.connected = connected;
    if (!connected)
    {
      *ch.destinationSlot = ch.scratch.data();
      ch.floatDestination = nullptr;
    }
  }
}

void IPlugBase::RestrictToStereo()
{
  // Channels beyond the first two are disconnected on both sides: a host that
  // asked for stereo hands over two arrays each way and no more.
  if (NInChannels() > 2) ConnectInputs(2, NInChannels() - 2, false);
  if (NOutChannels() > 2) ConnectOutputs(2, NOutChannels() - 2, false);
}

bool IPlugBase::IsInChannelConnected(int idx) const
{
  return idx >= 0 && idx < NInChannels() && inputChannels[idx].connected;
}

bool IPlugBase::IsOutChannelConnected(int idx) const
{
  return idx >= 0 && idx < NOutChannels() && outputChannels[idx].connected;
}

const std::string& IPlugBase::InChannelLabel(int idx) const
{
  return (idx >= 0 && idx < NInChannels()) ? inputChannels[idx].label : EmptyText();
}

const std::string& IPlugBase::OutChannelLabel(int idx) const
{
  return (idx >= 0 && idx < NOutChannels()) ? outputChannels[idx].label : EmptyText();
}

// ---- Audio buffers ---------------------------------------------------------------------

void IPlugBase::ResizeScratch(int nFrames)
{
  const int frames = std::max(nFrames, (int)kMinScratchFrames);
  // Every pointer entry is reset to its own scratch: the old buffers, and any
  // host arrays attached before, are no longer to be touched.
  for (InputChannel& ch : inputChannels)
  {
    ch.scratch.assign((size_t)frames, 0.0);
    *ch.sourceSlot = ch.scratch.data();
  }
  for (OutputChannel& ch : outputChannels)
  {
    ch.scratch.assign((size_t)frames, 0.0);
    *ch.destinationSlot = ch.scratch.data();
    ch.floatDestination = nullptr;
  }
  scratchFrames = frames;
}

void IPlugBase::ClearScratch()
{
  for (InputChannel& ch : inputChannels) std::fill(ch.scratch.begin(), ch.scratch.end(), 0.0);
  for (OutputChannel& ch : outputChannels) std::fill(ch.scratch.begin(), ch.scratch.end(), 0.0);
}

template <typename Sample>
void IPlugBase::AttachInputs(int first, int count, Sample** hostArrays, int nFrames)
{
  static_assert(std::is_same_v<Sample, double> || std::is_same_v<Sample, float>, "float or double samples");
  const int n = std::clamp(nFrames, 0, scratchFrames);
  AttachInOrder(inputChannels, first, count, hostArrays, [n](InputChannel& ch, Sample* source) {
    if constexpr (std::is_same_v<Sample, double>)
    {
      if (source)
      {
        *ch.sourceSlot = source;
        return;
      }
    }
    // A 32-bit array is converted; a missing one reads silence.
    double* scratch = ch.scratch.data();
    if (source)
      std::copy_n(source, n, scratch);
    else
      std::fill_n(scratch, n, 0.0);
    *ch.sourceSlot = scratch;
  });
}

template <typename Sample>
void IPlugBase::AttachOutputs(int first, int count, Sample** hostArrays)
{
  static_assert(std::is_same_v<Sample, double> || std::is_same_v<Sample, float>, "float or double samples");
  AttachInOrder(outputChannels, first, count, hostArrays, [](OutputChannel& ch, Sample* destination) {
    if constexpr (std::is_same_v<Sample, double>)
    {
      *ch.destinationSlot = destination ? destination : ch.scratch.data();
      ch.floatDestination = nullptr;
    }
    else
    {
      // The block runs into scratch; WriteFloatOutputs converts it afterwards.
      ch.floatDestination = destination;
      *ch.destinationSlot = ch.scratch.data();
    }
  });
}

template void IPlugBase::AttachInputs<double>(int, int, double**, int);
template void IPlugBase::AttachInputs<float>(int, int, float**, int);
template void IPlugBase::AttachOutputs<double>(int, int, double**);
template void IPlugBase::AttachOutputs<float>(int, int, float**);

namespace
{
// A 64-bit sample into a host's float buffer: beyond the float range it
// becomes the largest float of its sign instead of infinity, which would
// poison everything a host sums after it. Samples in range (and NaN) convert
// as a plain conversion does. Two at a time as well (GCC vector extensions:
// one SSE2 or NEON instruction each), the same steps on each sample.
typedef double DoublePair __attribute__((vector_size(16)));
typedef float FloatPair __attribute__((vector_size(8)));

template <class T, class Limit>
inline T Saturate(T x, Limit limit)
{
  const T high = x > limit ? limit : x;
  return high < -limit ? -limit : high;
}
inline float SaturateToFloat(double x) { return (float)Saturate(x, (double)FLT_MAX); }
inline FloatPair SaturateToFloat(DoublePair x)
{
#if defined(__SSE2__)
  // MINPD and MAXPD return their second operand where either is NaN: the
  // same as the comparisons above, in one instruction each.
  const __m128d limit = _mm_set1_pd((double)FLT_MAX);
  x = (DoublePair)_mm_max_pd(-limit, _mm_min_pd(limit, (__m128d)x));
  return __builtin_convertvector(x, FloatPair);
#else
  return __builtin_convertvector(Saturate(x, DoublePair{} + (double)FLT_MAX), FloatPair);
#endif
}

// The same for a host's own float sum.
inline float SaturateSum(float sum) { return Saturate(sum, FLT_MAX); }
inline FloatPair SaturateSum(FloatPair sum) { return Saturate(sum, FloatPair{} + FLT_MAX); }

template <bool kAccumulate>
void WriteFloats(float* destination, const double* source, int nFrames)
{
  int f = 0;
  for (; f + 2 <= nFrames; f += 2)
  {
    DoublePair x;
    std::memcpy(&x, source + f, sizeof x);
    FloatPair y = SaturateToFloat(x);
    if (kAccumulate)
    {
      FloatPair before;
      std::memcpy(&before, destination + f, sizeof before);
      y = SaturateSum(before + y);
    }
    std::memcpy(destination + f, &y, sizeof y);
  }
  for (; f < nFrames; ++f)
    destination[f] = kAccumulate ? SaturateSum(destination[f] + SaturateToFloat(source[f])) : SaturateToFloat(source[f]);
}
}  // namespace

void IPlugBase::WriteFloatOutputs(int nFrames, bool accumulate)
{
  for (int i = 0; i < NOutChannels(); ++i)
  {
    OutputChannel& ch = outputChannels[i];
    float* destination = ch.floatDestination;
    // Forgotten after every run, so no later run writes into an earlier block's array.
    ch.floatDestination = nullptr;
    const double* source = outputPointers[i];
    if (!ch.connected || !destination || !source) continue;
    if (accumulate)
      WriteFloats<true>(destination, source, nFrames);
    else
      WriteFloats<false>(destination, source, nFrames);
  }
}

void IPlugBase::RunProcess(int nFrames)
{
  const int n = std::clamp(nFrames, 0, scratchFrames);
  ProcessBlock(inputPointers.data(), outputPointers.data(), n);
  WriteFloatOutputs(n, false);
}

// The host arrays of a replacing 32-bit piece to the connected channels in
// order, as AttachInputs and AttachOutputs hand them, for ProcessBlock32; an
// unconnected channel reads silence and is not written.
bool IPlugBase::RunProcess32(float** in, float** out, int nFrames)
{
  const int n = std::clamp(nFrames, 0, scratchFrames);
  std::fill(channelIn32.begin(), channelIn32.end(), nullptr);
  std::fill(channelOut32.begin(), channelOut32.end(), nullptr);
  AttachInOrder(inputChannels, 0, NInChannels(), in,
                [&](InputChannel& ch, float* array) { channelIn32[(size_t)(&ch - inputChannels.data())] = array; });
  AttachInOrder(outputChannels, 0, NOutChannels(), out,
                [&](OutputChannel& ch, float* array) { channelOut32[(size_t)(&ch - outputChannels.data())] = array; });
  return ProcessBlock32(channelIn32.data(), channelOut32.data(), n);
}

void IPlugBase::RunProcessAccumulating(int nFrames)
{
  const int n = std::clamp(nFrames, 0, scratchFrames);
  ProcessBlock(inputPointers.data(), outputPointers.data(), n);
  WriteFloatOutputs(n, true);
}

void IPlugBase::PassThrough(int nFrames)
{
  const int n = std::clamp(nFrames, 0, scratchFrames);
  if (latency != 0 && bypassDelay && bypassDelay->delay > 0)
    RunBypassDelay(n);
  else
    IPlugBase::ProcessBlock(inputPointers.data(), outputPointers.data(), n);
  WriteFloatOutputs(n, false);
}

// ---- Block size, latency and the bypass delay line -------------------------------------

void IPlugBase::ChangeBlockSize(int nFrames)
{
  if (nFrames < 0) return;
  nFrames = std::min(nFrames, (int)kMaxBlockSize);
  if (nFrames == blockSize) return;
  ResizeScratch(nFrames);
  blockSize = nFrames;
}

void IPlugBase::ChangeLatency(int samples)
{
  samples = std::clamp(samples, 0, kMaxLatency);
  latency = samples;
  if (bypassDelay)
  {
    bypassDelay->delay = samples;
    bypassDelay->buffer.assign((size_t)samples * (size_t)bypassDelay->nInputs, 0.0);
    bypassDelay->writePos = 0;
  }
}

void IPlugBase::CreateBypassDelayLine(int nInputs, int nOutputs, int delay)
{
  auto line = std::make_unique<BypassDelayLine>();
  line->nInputs = std::clamp(nInputs, 0, NInChannels());
  line->nOutputs = std::clamp(nOutputs, 0, NOutChannels());
  line->delay = std::clamp(delay, 0, kMaxLatency);
  line->buffer.assign((size_t)line->delay * (size_t)line->nInputs, 0.0);
  bypassDelay = std::move(line);
}

// Every output channel that has a matching input gets that input delayed by
// exactly `delay` frames (silence until then). Outputs without a matching input
// are left as they are.
void IPlugBase::RunBypassDelay(int nFrames)
{
  BypassDelayLine& line = *bypassDelay;
  const int d = line.delay;
  int channels = std::min({line.nInputs, line.nOutputs, NInChannels(), NOutChannels()});
  if ((int64_t)channels * d > (int64_t)line.buffer.size()) channels = 0;
  if (line.writePos < 0 || line.writePos >= d) line.writePos = 0;
  for (int f = 0; f < nFrames; ++f)
  {
    for (int c = 0; c < channels; ++c)
    {
      const double* in = inputPointers[c];
      double* out = outputPointers[c];
      double& stored = line.buffer[(size_t)c * d + line.writePos];
      // Read the input first: host buffers may be processed in place.
      const double incoming = in ? in[f] : 0.0;
      if (out) out[f] = stored;
      stored = incoming;
    }
    if (++line.writePos >= d) line.writePos = 0;
  }
}

// ---- Host-block helpers ------------------------------------------------------------------

template <typename Sample>
void IPlugBase::RunHostBlock(Sample** in, int nIn, Sample** out, int nOut, int nFrames, HostBlockMode mode,
                             std::vector<Sample*>& pieceIn, std::vector<Sample*>& pieceOut)
{
  if (nFrames < 0) return;
  const int nInCh = NInChannels(), nOutCh = NOutChannels();
  // An empty block still runs once: hosts send them to deliver parameter changes.
  int done = 0;
  do
  {
    const int n = std::min(nFrames - done, scratchFrames);
    for (int j = 0; j < nInCh; ++j)
      pieceIn[j] = (in && j < nIn && in[j]) ? in[j] + done : nullptr;
    for (int j = 0; j < nOutCh; ++j)
      pieceOut[j] = (out && j < nOut && out[j]) ? out[j] + done : nullptr;
    if constexpr (std::is_same_v<Sample, float>)
    {
      if (mode == HostBlockMode::Replace && RunProcess32(pieceIn.data(), pieceOut.data(), n))
      {
        done += n;
        continue;
      }
    }
    AttachInputs(0, nInCh, pieceIn.data(), n);
    AttachOutputs(0, nOutCh, pieceOut.data());
    switch (mode)
    {
      case HostBlockMode::Replace: RunProcess(n); break;
      case HostBlockMode::Accumulate: RunProcessAccumulating(n); break;
      case HostBlockMode::PassThrough: PassThrough(n); break;
    }
    done += n;
  } while (done < nFrames);
}

void IPlugBase::ProcessHostBlock32(float** in, int nIn, float** out, int nOut, int nFrames,
                                   bool accumulate)
{
  RunHostBlock(in, nIn, out, nOut, nFrames, accumulate ? HostBlockMode::Accumulate : HostBlockMode::Replace,
               pieceIn32, pieceOut32);
}

void IPlugBase::ProcessHostBlock64(double** in, int nIn, double** out, int nOut, int nFrames)
{
  RunHostBlock(in, nIn, out, nOut, nFrames, HostBlockMode::Replace, pieceIn64, pieceOut64);
}

void IPlugBase::PassThroughHostBlock32(float** in, int nIn, float** out, int nOut, int nFrames)
{
  RunHostBlock(in, nIn, out, nOut, nFrames, HostBlockMode::PassThrough, pieceIn32, pieceOut32);
}

void IPlugBase::PassThroughHostBlock64(double** in, int nIn, double** out, int nOut, int nFrames)
{
  RunHostBlock(in, nIn, out, nOut, nFrames, HostBlockMode::PassThrough, pieceIn64, pieceOut64);
}
