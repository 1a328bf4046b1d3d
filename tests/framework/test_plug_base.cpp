#include <gtest/gtest.h>

#include <vector>

#include "graphics/IControl.h"
#include "graphics/IGraphics.h"
#include "tests/framework/TestPlug.h"

TEST(PlugBase, ChannelConfigurationText)
{
  struct Case
  {
    const char* text;
    std::vector<std::pair<int, int>> pairs;
    int nIn, nOut;
  };
  const Case cases[] = {
    {"1-1 2-2", {{1, 1}, {2, 2}}, 2, 2},
    {"2-2", {{2, 2}}, 2, 2},
    {"1-1  2-2", {{1, 1}, {2, 2}, {2, 2}}, 2, 2},
    {"1-1 ", {{1, 1}, {0, 0}}, 1, 1},
    {"", {{0, 0}}, 0, 0},
    {"x 3", {{0, 0}, {3, 0}}, 3, 0},
    {"99999999999-1", {{INT32_MAX, 1}}, 256, 1},
  };
  for (const Case& c : cases)
  {
    TestPlug plug(c.text, 0);
    std::vector<std::pair<int, int>> got;
    for (const ChannelPair& p : plug.ChannelPairs()) got.push_back({p.inputs, p.outputs});
    EXPECT_EQ(got, c.pairs) << '"' << c.text << '"';
    EXPECT_EQ(plug.NInChannels(), c.nIn) << c.text;
    EXPECT_EQ(plug.NOutChannels(), c.nOut) << c.text;
  }

  TestPlug plug;
  const int io[][3] = {{1, -1, 1}, {2, 2, 1}, {-1, 2, 1}, {1, 2, 0}, {2, 1, 0}};
  for (const auto& c : io) EXPECT_EQ(plug.LegalIO(c[0], c[1]), c[2] == 1) << c[0] << ' ' << c[1];
  EXPECT_FALSE(TestPlug("2-2", 0).LegalIO(1, -1));
  EXPECT_EQ(plug.ParamAt(-1), nullptr);
  EXPECT_EQ(plug.ParamAt(11), nullptr);
  EXPECT_EQ(plug.DecimalVersion(), 20000);

  TestPlug wide("4-4", 0);
  wide.RestrictToStereo();
  for (int c = 0; c < 4; ++c)
  {
    EXPECT_EQ(wide.IsInChannelConnected(c), c < 2);
    EXPECT_EQ(wide.IsOutChannelConnected(c), c < 2);
  }
  wide.ConnectInputs(-5, 100, false);  // ranges are clipped to the channels
  EXPECT_FALSE(wide.IsInChannelConnected(0));
}

TEST(PlugBase, BufferAttachmentAndDefaultProcessing)
{
  // One input, two outputs: output 0 copies, output 1 is silenced.
  TestPlug mono("1-2", 0);
  std::vector<double> in = {1, 2, 3}, out0(3, 9.0), out1(3, 9.0);
  double* ins[] = {in.data()};
  double* outs[] = {out0.data(), out1.data()};
  mono.AttachInputs(0, 1, ins, 3);
  mono.AttachOutputs(0, 2, outs);
  mono.RunProcess(3);
  EXPECT_EQ(out0, in);
  EXPECT_EQ(out1, std::vector<double>(3, 0.0));

  // An unconnected first channel does not use up a host array.
  TestPlug plug;
  plug.ConnectInputs(0, 1, false);
  std::fill(out0.begin(), out0.end(), 9.0);
  plug.AttachInputs(0, 2, ins, 3);
  plug.AttachOutputs(0, 2, outs);
  plug.RunProcess(3);
  EXPECT_EQ(out1, in);
  EXPECT_EQ(out0, std::vector<double>(3, 0.0)) << "unconnected input reads its silent scratch";

  // 32-bit: conversion in, conversion out, and accumulation adds.
  TestPlug p32;
  std::vector<float> fin(4, 0.25f), fout0(4, 1.0f), fout1(4, 1.0f);
  float* fins[] = {fin.data(), fin.data()};
  float* fouts[] = {fout0.data(), fout1.data()};
  p32.AttachInputs(0, 2, fins, 4);
  p32.AttachOutputs(0, 2, fouts);
  p32.RunProcessAccumulating(4);
  EXPECT_EQ(fout0, std::vector<float>(4, 1.25f));
  p32.AttachOutputs(0, 2, fouts);
  p32.RunProcess(4);
  EXPECT_EQ(fout1, std::vector<float>(4, 0.25f));
  std::fill(fout0.begin(), fout0.end(), 9.0f);
  p32.RunProcess(4);
  EXPECT_EQ(fout0, std::vector<float>(4, 9.0f)) << "a run never writes to an earlier block's array";
}

TEST(PlugBase, BlockSizeAndScratch)
{
  TestPlug plug;
  EXPECT_EQ(plug.MaxChunkFrames(), IPlugBase::kMinScratchFrames) << "safe before any announcement";
  std::vector<float> fin(8, 0.5f);
  float* fins[] = {fin.data(), fin.data()};
  std::vector<double> out(8, 9.0);
  double* outs[] = {out.data(), out.data()};

  // Scratch holding converted samples survives a same-size announcement...
  plug.AttachInputs(0, 2, fins, 8);
  plug.ChangeBlockSize(0);
  plug.AttachOutputs(0, 2, outs);
  plug.RunProcess(8);
  EXPECT_EQ(out, std::vector<double>(8, 0.5));
  // A channel that stops being fed reads silence, not the converted block.
  plug.ConnectInputs(1, 1, false);
  plug.AttachOutputs(0, 2, outs);
  plug.RunProcess(8);
  EXPECT_EQ(out, std::vector<double>(8, 0.0)) << "output 1 copies the disconnected input 1";
  plug.ConnectInputs(1, 1, true);
  plug.AttachInputs(0, 2, fins, 8);
  // ...and is zeroed by a new size.
  plug.ChangeBlockSize(512);
  plug.AttachOutputs(0, 2, outs);
  plug.RunProcess(8);
  EXPECT_EQ(out, std::vector<double>(8, 0.0));

  plug.ChangeBlockSize(-5);
  EXPECT_EQ(plug.BlockSize(), 512);
  plug.ChangeBlockSize(1 << 30);
  EXPECT_EQ(plug.MaxChunkFrames(), IPlugBase::kMaxBlockSize);
  plug.ChangeBlockSize(64);

  // A direct run longer than the scratch is cut to it rather than overrun.
  plug.RunProcess(5000);
  EXPECT_EQ(plug.largestBlock, IPlugBase::kMinScratchFrames);
}

TEST(PlugBase, HostBlocksAreProcessedInPieces)
{
  TestPlug plug;
  plug.gain = 2.0;
  const int n = 2 * IPlugBase::kMinScratchFrames + 100;
  std::vector<float> in(n), outL(n, 7.0f), outR(n, 7.0f);
  for (int f = 0; f < n; ++f) in[f] = (float)(f % 97) / 97.0f;
  float* ins[] = {in.data(), nullptr};  // a null host channel reads silence
  float* outs[] = {outL.data(), outR.data()};
  plug.ProcessHostBlock32(ins, 2, outs, 2, n, false);
  EXPECT_EQ(plug.blocks, 3);
  EXPECT_EQ(plug.largestBlock, IPlugBase::kMinScratchFrames);
  for (int f = 0; f < n; ++f)
  {
    ASSERT_EQ(outL[f], 2.0f * in[f]) << f;
    ASSERT_EQ(outR[f], 0.0f) << f;
  }
  plug.ProcessHostBlock32(ins, 2, outs, 2, n, true);
  EXPECT_EQ(outL[n - 1], 4.0f * in[n - 1]);

  // 64-bit, with fewer host arrays than channels and a discarded output.
  std::vector<double> in64(n, 0.5), out64(n, 0.0);
  double* ins64[] = {in64.data()};
  double* outs64[] = {out64.data(), nullptr};
  plug.ProcessHostBlock64(ins64, 1, outs64, 2, n);
  EXPECT_EQ(out64[0], 1.0);
  EXPECT_EQ(out64[n - 1], 1.0);

  // Nothing at all from the host is still safe.
  plug.blocks = 0;
  plug.ProcessHostBlock32(ins, 2, outs, 2, 0, false);
  plug.ProcessHostBlock32(ins, 2, outs, 2, -1, false);
  EXPECT_EQ(plug.blocks, 1) << "an empty block runs once, a negative one never";
  plug.ProcessHostBlock32(nullptr, 0, nullptr, 0, n, false);
  plug.ProcessHostBlock64(nullptr, 2, nullptr, 2, n);
  plug.PassThroughHostBlock32(nullptr, -1, nullptr, -1, -5);
}

TEST(PlugBase, PassThroughDelaysByTheLatency)
{
  TestPlug plug;
  plug.CreateBypassDelayLine(2, 2, 0);
  plug.ChangeLatency(3);
  EXPECT_EQ(plug.Latency(), 3);

  std::vector<double> a = {1, 2, 3, 4, 5, 6, 7, 8}, b = {11, 12, 13, 14, 15, 16, 17, 18}, outB(8);
  double* ins[] = {a.data(), b.data()};
  double* outs[] = {a.data(), outB.data()};  // channel 0 in place
  plug.PassThroughHostBlock64(ins, 2, outs, 2, 8);
  EXPECT_EQ(a, (std::vector<double>{0, 0, 0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(outB, (std::vector<double>{0, 0, 0, 11, 12, 13, 14, 15}));

  // The delay holds across the pieces of a long 32-bit block.
  const int n = IPlugBase::kMinScratchFrames + 10;
  plug.ChangeLatency(3);
  std::vector<float> in(n), out(n);
  for (int f = 0; f < n; ++f) in[f] = (float)(f + 1);
  float* fins[] = {in.data(), in.data()};
  float* fouts[] = {out.data(), nullptr};
  plug.PassThroughHostBlock32(fins, 2, fouts, 2, n);
  for (int f = 0; f < n; ++f) ASSERT_EQ(out[f], f < 3 ? 0.0f : (float)(f - 2)) << f;

  // Without a latency, or without a delay line, it is a plain copy.
  plug.ChangeLatency(-4);
  EXPECT_EQ(plug.Latency(), 0);
  TestPlug noLine;
  noLine.ChangeLatency(3);
  for (IPlugBase* p : {(IPlugBase*)&plug, (IPlugBase*)&noLine})
  {
    p->PassThroughHostBlock32(fins, 2, fouts, 2, n);
    EXPECT_EQ(out, in);
  }
}

namespace
{
class RecordingControl : public IControl
{
public:
  RecordingControl(TestPlug* plug, int paramIdx) : IControl(plug, IRect(0, 0, 1, 1), paramIdx), testPlug(plug) {}
  bool Paint(IGraphics*) override { return true; }
  void SetValueFromHost(double v) override
  {
    lockHeld = testPlug->LockHeldByThisThreadOnly();
    IControl::SetValueFromHost(v);
  }
  TestPlug* testPlug;
  bool lockHeld = false;
};

class TestEditor : public IGraphics
{
public:
  TestEditor(IPlugBase* plug, bool* destroyed) : IGraphics(plug, 20, 10, 25), destroyed(destroyed) {}
  ~TestEditor() override { *destroyed = true; }
  bool PresentRect(const IRect&) override { return true; }
  void* OpenWindow(void*) override { return nullptr; }
  void CloseWindow() override {}
  void* Window() override { return nullptr; }
  LICE_IBitmap* LoadImageResource(int, const char*) override { return nullptr; }
  bool* destroyed;
};
}  // namespace

TEST(PlugBase, EditorAttachmentAndEditorEdits)
{
  bool firstGone = false, secondGone = false;
  {
    TestPlug plug;
    plug.ParamAt(6)->SetClamped(6.0);
    auto* editor = new TestEditor(&plug, &firstGone);
    auto* input = new RecordingControl(&plug, 6);
    auto* mid = new RecordingControl(&plug, 2);
    editor->AttachControl(input);
    editor->AttachControl(mid);
    plug.AttachEditor(editor);
    EXPECT_EQ(plug.Editor(), editor);
    EXPECT_DOUBLE_EQ(input->Value(), 0.75);
    EXPECT_DOUBLE_EQ(mid->Value(), 0.5);
    EXPECT_TRUE(input->lockHeld);
    EXPECT_NE(editor->DrawBitmap(), nullptr) << "drawing prepared";
    plug.AttachEditor(nullptr);

    plug.ParamAt(6)->SetClamped(-12.0);
    plug.RefreshParamControls();
    EXPECT_DOUBLE_EQ(input->Value(), 0.0);

    // An edit rounds the parameter, tells the host the raw position, notifies.
    plug.SetParamFromEditor(2, 0.54);
    EXPECT_EQ(plug.ParamAt(2)->Value(), 5.0);
    ASSERT_EQ(plug.hostEvents.size(), 1u);
    EXPECT_EQ(plug.hostEvents[0].value, 0.54);
    EXPECT_EQ(plug.changed, std::vector<int>{2});
    EXPECT_TRUE(plug.lockHeldDuringChange);
    plug.SetParamFromEditor(11, 0.5);
    EXPECT_EQ(plug.hostEvents.size(), 1u);

    plug.AttachEditor(new TestEditor(&plug, &secondGone));
    EXPECT_TRUE(firstGone) << "a replaced editor is destroyed";
    EXPECT_FALSE(secondGone);
  }
  EXPECT_TRUE(secondGone) << "the base destroys its editor";
}
