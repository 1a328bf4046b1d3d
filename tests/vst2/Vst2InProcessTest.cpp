// The VST2 binding compiled into the test: drives the editor's mouse handling
// and the plug-in base's host queries, and checks what reaches the host.

#include <gtest/gtest.h>

#include <climits>

#include "graphics/IControl.h"
#include "plugin/TALVOR.h"
#include "tests/vst2/Vst2TestHost.h"
#include "vst2/VstEntry.h"

namespace
{
struct InProcess
{
  TestHost host;
  HostedEffect fx{CreateTalvorEffect(TestHost::Callback), &host};
  TALVOR* Plug() { return static_cast<TALVOR*>(static_cast<IPlugVST*>(fx.effect->object)); }
  IControl* ControlFor(int paramIdx)
  {
    IGraphics* editor = Plug()->Editor();
    for (int i = 0; editor && i < editor->NControls(); ++i)
      if (editor->GetControl(i)->ParamIdx() == paramIdx) return editor->GetControl(i);
    return nullptr;
  }
};

IMouseMod LeftButton()
{
  IMouseMod mod;
  mod.L = true;
  return mod;
}
}  // namespace

TEST(Vst2Editor, GesturesReachTheHostAndHostValuesReachTheControls)
{
  InProcess in;
  AEffect* e = in.fx.effect;
  IGraphics* editor = in.Plug()->Editor();
  IControl* knob = in.ControlFor(kInput);
  ASSERT_TRUE(editor && knob);
  const int x = (knob->Rect().L + knob->Rect().R) / 2, y = (knob->Rect().T + knob->Rect().B) / 2;
  editor->HandleMouseDown(x, y, LeftButton());
  editor->HandleMouseDrag(x, y - 20, LeftButton());
  editor->HandleMouseDrag(x, y - 40, LeftButton());
  editor->HandleMouseUp(x, y - 40, LeftButton());

  const std::vector<RecordedCall>& calls = in.host.calls;
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls.front().opcode, audioMasterBeginEdit);
  EXPECT_EQ(calls.back().opcode, audioMasterEndEdit);
  for (const RecordedCall& c : calls) EXPECT_EQ(c.index, kInput);
  for (size_t i = 1; i + 1 < calls.size(); ++i) EXPECT_EQ(calls[i].opcode, audioMasterAutomate);
  const RecordedCall& last = calls[calls.size() - 2];
  EXPECT_GT(last.opt, 0.5f) << "dragging up raises the input gain";
  EXPECT_FLOAT_EQ(e->getParameter(e, kInput), last.opt);

  // A switch: one press, one toggle, one gesture.
  in.host.calls.clear();
  IControl* bypass = in.ControlFor(kBypass);
  ASSERT_NE(bypass, nullptr);
  editor->HandleMouseDown(bypass->Rect().L + 2, bypass->Rect().T + 2, LeftButton());
  editor->HandleMouseUp(bypass->Rect().L + 2, bypass->Rect().T + 2, LeftButton());
  EXPECT_EQ(in.host.Opcodes(), (std::vector<VstInt32>{audioMasterBeginEdit, audioMasterAutomate, audioMasterEndEdit}));
  EXPECT_EQ(e->getParameter(e, kBypass), 0.0f);

  // Host-side changes show on the controls: automation, typed text, a chunk.
  e->setParameter(e, kMidGain, 1.0f);
  EXPECT_DOUBLE_EQ(in.ControlFor(kMidGain)->Value(), 1.0);
  in.fx.Dispatch(effString2Parameter, kOutput, 0, const_cast<char*>("6"));
  EXPECT_DOUBLE_EQ(in.ControlFor(kOutput)->Value(), 0.75);
  void* data = nullptr;
  std::vector<uint8_t> chunk;
  VstIntPtr n = in.fx.Dispatch(effGetChunk, 1, 0, &data);
  chunk.assign((uint8_t*)data, (uint8_t*)data + n);
  e->setParameter(e, kMidGain, 0.0f);
  EXPECT_EQ(in.fx.Dispatch(effSetChunk, 1, n, chunk.data()), 1);
  EXPECT_DOUBLE_EQ(in.ControlFor(kMidGain)->Value(), 1.0);
}

TEST(Vst2HostQueries, TimeInformationIsFilteredAndChecked)
{
  InProcess in;
  TALVOR* plug = in.Plug();
  VstTimeInfo& t = in.host.time;
  t.samplePos = 1000.5;
  EXPECT_EQ(plug->SamplePosition(), 1001);
  EXPECT_EQ(in.host.calls.back().value, 0);
  t.samplePos = -3.0;
  EXPECT_EQ(plug->SamplePosition(), 0);
  t.samplePos = 1e13;
  EXPECT_EQ(plug->SamplePosition(), INT32_MAX);

  t.tempo = 132.0;
  EXPECT_EQ(plug->Tempo(), 0.0) << "tempo without its valid flag";
  t.flags = kVstTempoValid | kVstTimeSigValid;
  EXPECT_EQ(plug->Tempo(), 132.0);
  EXPECT_EQ(in.host.calls.back().value, kVstTempoValid);
  t.timeSigNumerator = 7;
  t.timeSigDenominator = 8;
  int num = -1, den = -1;
  plug->TimeSignature(&num, &den);
  EXPECT_EQ(in.host.calls.back().value, kVstTimeSigValid);
  EXPECT_EQ(num * 100 + den, 708);
  t.timeSigDenominator = -8;
  plug->TimeSignature(&num, &den);
  EXPECT_EQ(num * 100 + den, 0);
  plug->TimeSignature(nullptr, nullptr);

  TimeInfo info;
  info.ppqPos = info.lastBar = info.cycleStart = 99.0;
  info.numerator = 99;
  t.flags = kVstTransportPlaying;  // none of the queried fields valid: nothing is taken
  plug->TransportInfo(&info);
  EXPECT_EQ(in.host.calls.back().value, 0x3E00);
  EXPECT_EQ(info.samplePos, 0.0);
  EXPECT_FALSE(info.transportIsRunning);

  t.samplePos = 480.0;
  t.ppqPos = -1.0;  // flagged but negative: kept out
  t.barStartPos = 4.0;
  t.cycleStartPos = 8.0;
  t.cycleEndPos = 16.0;
  t.timeSigNumerator = 3;
  t.timeSigDenominator = 4;
  t.tempo = 0.0;
  t.flags = kVstTransportPlaying | kVstTransportCycleActive | kVstPpqPosValid | kVstTempoValid |
            kVstBarsValid | kVstCyclePosValid | kVstTimeSigValid;
  plug->TransportInfo(&info);
  EXPECT_EQ(info.samplePos, 480.0);
  EXPECT_EQ(info.ppqPos, 99.0);
  EXPECT_EQ(info.tempo, 0.0);
  EXPECT_EQ(info.lastBar, 4.0);
  EXPECT_EQ(info.cycleEnd, 16.0);
  EXPECT_EQ(info.numerator * 100 + info.denominator, 304);
  EXPECT_TRUE(info.transportIsRunning && info.transportLoopEnabled);

  in.host.answerTime = false;
  info.samplePos = 5.0;
  plug->TransportInfo(&info);
  EXPECT_EQ(info.samplePos, 5.0);
  EXPECT_EQ(plug->SamplePosition(), 0);
  EXPECT_EQ(plug->Tempo(), 0.0);
}

TEST(Vst2HostQueries, ProcessLevelEventsProgramsAndLatency)
{
  InProcess in;
  TALVOR* plug = in.Plug();
  in.host.processLevel = kVstProcessLevelOffline;
  EXPECT_TRUE(plug->IsOfflineRender());
  in.host.processLevel = kVstProcessLevelRealtime;
  EXPECT_FALSE(plug->IsOfflineRender());

  IMidiMsg msg;
  msg.offset = 5;
  msg.status = 0xB0;
  msg.data1 = 7;
  msg.data2 = 127;
  EXPECT_TRUE(plug->MidiOut(msg));
  ASSERT_EQ(in.host.midiEvents.size(), 1u);
  const VstMidiEvent& ev = in.host.midiEvents[0];
  EXPECT_EQ(ev.byteSize, 32);
  EXPECT_EQ(ev.deltaFrames, 5);
  EXPECT_EQ((uint8_t)ev.midiData[0], 0xB0);
  EXPECT_EQ((uint8_t)ev.midiData[2], 127);
  const uint8_t dump[] = {0xF0, 0x7E, 0x01, 0xF7};
  ISysEx sx;
  sx.size = 4;
  sx.data = dump;
  in.host.eventsAnswer = 0;
  EXPECT_FALSE(plug->SysExOut(sx));
  ASSERT_EQ(in.host.sysexDumps.size(), 1u);
  EXPECT_EQ(in.host.sysexDumps[0], std::vector<uint8_t>(dump, dump + 4));

  plug->SendProgramChangeToHost();
  EXPECT_EQ(in.host.calls.back().opcode, audioMasterUpdateDisplay);
  plug->ChangeLatency(64);
  EXPECT_EQ(in.fx.effect->initialDelay, 64);
  plug->ChangeLatency(0);
  EXPECT_EQ(in.fx.effect->initialDelay, 0);
}

TEST(Vst2HostQueries, UnterminatedProductStringAndMissingHost)
{
  InProcess in;
  in.host.product = std::string(300, 'x');  // the host fills all 256 bytes
  in.fx.Dispatch(effOpen);
  EXPECT_EQ(in.Plug()->HostId(), 0);

  // A host that gave no callback: every query answers "nothing known".
  HostedEffect bare(CreateTalvorEffect(nullptr), nullptr);
  ASSERT_NE(bare.effect, nullptr);
  bare.Start();
  TALVOR* plug = static_cast<TALVOR*>(static_cast<IPlugVST*>(bare.effect->object));
  EXPECT_EQ(plug->HostId(), 0);
  EXPECT_EQ(plug->Tempo(), 0.0);
  EXPECT_FALSE(plug->IsOfflineRender());
  EXPECT_FALSE(plug->MidiOut(IMidiMsg()));
  plug->SetParamFromEditor(kLowGain, 1.0);
  EXPECT_EQ(bare.effect->getParameter(bare.effect, kLowGain), 1.0f);
}
