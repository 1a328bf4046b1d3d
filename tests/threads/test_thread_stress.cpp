// One instance and three threads, as a host drives it: the audio thread
// processes blocks with parameter changes, the host's user-interface thread
// saves and loads state and reads and writes parameters and their texts, and
// the editor thread repaints dirty controls and drags them, as its window
// host's timer and mouse would. Built once per binding; under ThreadSanitizer
// any unsynchronised access among them is a failure.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "graphics/IControl.h"
#include "graphics/IGraphics.h"
#include "plugin/TALVOR.h"

#if defined(TALVOR_VST3)
#include "tests/vst3/HostObjects.h"
#else
#include "tests/vst2/Vst2TestHost.h"
#include "vst2/VstEntry.h"
#endif

namespace
{
constexpr int kFrames = 64;

struct Audio
{
  float in[2][kFrames], out[2][kFrames];
  float* ins[2] = {in[0], in[1]};
  float* outs[2] = {out[0], out[1]};
  bool finite = true;
  explicit Audio(int n)
  {
    for (int i = 0; i < kFrames; ++i)
      in[0][i] = in[1][i] = (float)(0.4 * std::sin(0.05 * (n * kFrames + i)));
  }
  void Check()
  {
    for (int c = 0; c < 2; ++c)
      for (float v : out[c])
        finite = finite && std::isfinite(v);
  }
};

double Position(int n) { return (n % 9) / 8.0; }

#if defined(TALVOR_VST3)
using namespace vst3test;

// The VST3 binding as a host reaches it: processor calls on the audio thread,
// controller calls on the user-interface thread.
struct Driver
{
  TALVOR* plug = new TALVOR(IPlugInstanceInfo());
  ComponentHandler handler;
  Driver()
  {
    EXPECT_EQ(kResultOk, plug->initialize(nullptr));
    plug->setComponentHandler(&handler);
    ProcessSetup setup = {kRealtime, kSample32, kFrames, 48000.0};
    EXPECT_EQ(kResultOk, plug->setupProcessing(setup));
    plug->activateBus(kAudio, Steinberg::Vst::kOutput, 0, true);
    plug->setActive(true);
  }
  ~Driver()
  {
    plug->setActive(false);
    plug->setComponentHandler(nullptr);
    plug->terminate();
    plug->release();
  }
  bool AudioBlock(int n)
  {
    ParamChanges changes{{(ParamID)(n % kNumParams), {Position(n)}},
                         {kVST3BypassParamId, {n % 17 == 0 ? 1.0 : 0.0}}};
    Audio audio(n);
    ProcessOneBus<float>(plug, audio.ins, 2, audio.outs, 2, kFrames, &changes);
    audio.Check();
    return audio.finite;
  }
  void HostCall(int n)
  {
    const ParamID id = (ParamID)(n % kNumParams);
    String128 text = {};
    ParamValue v = 0.0;
    switch (n % 6)
    {
      case 0:
      {
        ByteStream saved;
        plug->getState(&saved);
        ByteStream load(saved.bytes);
        plug->setState(&load);
        break;
      }
      case 1: plug->setParamNormalized(id, Position(n)); break;
      case 2: plug->setParamNormalized(kVST3BypassParamId, n % 4 == 2 ? 1.0 : 0.0); break;
      case 3: plug->getParamStringByValue(id, plug->getParamNormalized(id), text); break;
      case 4:
        plug->getParamStringByValue(id, Position(n), text);
        plug->getParamValueByString(id, text, v);
        break;
      default: plug->normalizedParamToPlain(id, plug->getParamNormalized(kVST3BypassParamId)); break;
    }
  }
};
#else
// The VST2 binding through its effect record: process functions and host
// automation on the audio thread, the dispatcher on the user-interface thread.
struct Driver
{
  TestHost host;
  HostedEffect fx{CreateTalvorEffect(TestHost::Callback), &host};
  AEffect* e = fx.effect;
  TALVOR* plug = static_cast<TALVOR*>(static_cast<IPlugVST*>(e->object));
  Driver() { fx.Start(48000.0f, kFrames); }
  bool AudioBlock(int n)
  {
    e->setParameter(e, n % kNumParams, (float)Position(n));
    Audio audio(n);
    e->processReplacing(e, audio.ins, audio.outs, kFrames);
    audio.Check();
    return audio.finite;
  }
  void HostCall(int n)
  {
    const int idx = n % kNumParams;
    char text[64] = {};
    switch (n % 6)
    {
      case 0:
      {
        void* data = nullptr;
        const VstIntPtr size = fx.Dispatch(effGetChunk, n % 2, 0, &data);
        std::vector<uint8_t> copy((uint8_t*)data, (uint8_t*)data + size);
        fx.Dispatch(effSetChunk, n % 2, (VstIntPtr)copy.size(), copy.data());
        break;
      }
      case 1: e->setParameter(e, idx, (float)Position(n)); break;
      case 2: e->getParameter(e, idx); break;
      case 3: fx.Dispatch(effGetParamDisplay, idx, 0, text); break;
      case 4:
        fx.Dispatch(effGetParamDisplay, idx, 0, text);
        fx.Dispatch(effString2Parameter, idx, text);
        break;
      default: fx.Dispatch(effGetProgramName, 0, 0, text); break;
    }
  }
};
#endif

#if defined(TALVOR_VST3)
#define TALVOR_THREADS_SUITE Vst3Threads
#else
#define TALVOR_THREADS_SUITE Vst2Threads
#endif

double StressSeconds()
{
  const char* text = std::getenv("TALVOR_STRESS_SECONDS");
  return text ? std::atof(text) : 0.5;
}
}  // namespace

TEST(TALVOR_THREADS_SUITE, AudioHostAndEditorThreadsShareOneInstance)
{
  Driver driver;
  IGraphics* editor = driver.plug->Editor();
  ASSERT_TRUE(editor && editor->NControls() > 0);
  std::atomic<bool> stop{false}, finite{true};
  std::atomic<int> blocks{0}, calls{0}, frames{0};

  std::thread audio([&] {
    for (int n = 0; !stop; ++n, ++blocks)
      if (!driver.AudioBlock(n))
        finite = false;
  });
  std::thread host([&] {
    for (int n = 0; !stop; ++n, ++calls)
      driver.HostCall(n);
  });
  std::thread editorThread([&] {
    IMouseMod left;
    left.L = true;
    for (int n = 0; !stop; ++n, ++frames)
    {
      IRect dirty;
      if (editor->CollectDirtyRect(&dirty))
        editor->Redraw(dirty);
      const IRect& r = editor->GetControl(n % editor->NControls())->Rect();
      const int x = (r.L + r.R) / 2, y = (r.T + r.B) / 2;
      editor->HandleMouseDown(x, y, left);
      editor->HandleMouseDrag(x, y - 4 * (n % 7) + 12, left);
      editor->HandleMouseUp(x, y, left);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  std::this_thread::sleep_for(std::chrono::duration<double>(StressSeconds()));
  stop = true;
  audio.join();
  host.join();
  editorThread.join();
  EXPECT_TRUE(finite);
  EXPECT_GT(blocks, 0);
  EXPECT_GT(calls, 0);
  EXPECT_GT(frames, 0);
}
