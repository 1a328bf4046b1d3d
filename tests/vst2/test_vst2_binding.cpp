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
  AEffect* e = fx.effect;
  TALVOR* plug = static_cast<TALVOR*>(static_cast<IPlugVST*>(e->object));
  IControl* ControlFor(int paramIdx)
  {
    for (int i = 0; plug->Editor() && i < plug->Editor()->NControls(); ++i)
      if (plug->Editor()->GetControl(i)->ParamIdx() == paramIdx) return plug->Editor()->GetControl(i);
    return nullptr;
  }
};
}  // namespace

TEST(Vst2Editor, GesturesReachTheHostAndHostValuesReachTheControls)
{
  InProcess in;
  IGraphics* editor = in.plug->Editor();
  IControl* knob = in.ControlFor(kInput);
  ASSERT_TRUE(editor && knob);
  IMouseMod left;
  left.L = true;
  const int x = (knob->Rect().L + knob->Rect().R) / 2, y = (knob->Rect().T + knob->Rect().B) / 2;
  editor->HandleMouseDown(x, y, left);
  editor->HandleMouseDrag(x, y - 20, left);
  editor->HandleMouseDrag(x, y - 40, left);
  editor->HandleMouseUp(x, y - 40, left);
  const std::vector<RecordedCall>& calls = in.host.calls;
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls.front().opcode, audioMasterBeginEdit);
  EXPECT_EQ(calls.back().opcode, audioMasterEndEdit);
  for (size_t i = 0; i < calls.size(); ++i)
  {
    EXPECT_EQ(calls[i].index, kInput);
    if (i > 0 && i + 1 < calls.size())
    {
      EXPECT_EQ(calls[i].opcode, audioMasterAutomate);
    }
  }
  const float last = calls[calls.size() - 2].opt;
  EXPECT_GT(last, 0.5f) << "dragging up raises the input gain";
  EXPECT_FLOAT_EQ(in.e->getParameter(in.e, kInput), last);

  in.host.calls.clear();  // a switch: one press, one toggle, one gesture
  const IRect& sw = in.ControlFor(kBypass)->Rect();
  editor->HandleMouseDown(sw.L + 2, sw.T + 2, left);
  editor->HandleMouseUp(sw.L + 2, sw.T + 2, left);
  EXPECT_EQ(in.host.Opcodes(), (std::vector<VstInt32>{audioMasterBeginEdit, audioMasterAutomate, audioMasterEndEdit}));
  EXPECT_EQ(in.e->getParameter(in.e, kBypass), 0.0f);

  // Host-side changes show on the controls: automation, typed text, a chunk.
  in.e->setParameter(in.e, kMidGain, 1.0f);
  EXPECT_DOUBLE_EQ(in.ControlFor(kMidGain)->Value(), 1.0);
  in.fx.Dispatch(effString2Parameter, kOutput, "6");
  EXPECT_DOUBLE_EQ(in.ControlFor(kOutput)->Value(), 0.75);
  void* data = nullptr;
  VstIntPtr n = in.fx.Dispatch(effGetChunk, 1, 0, &data);
  std::vector<uint8_t> chunk((uint8_t*)data, (uint8_t*)data + n);
  in.e->setParameter(in.e, kMidGain, 0.0f);
  EXPECT_EQ(in.fx.Dispatch(effSetChunk, 1, n, chunk.data()), 1);
  EXPECT_DOUBLE_EQ(in.ControlFor(kMidGain)->Value(), 1.0);
}

TEST(Vst2HostQueries, TimeInformationIsFilteredAndChecked)
{
  InProcess in;
  TALVOR* plug = in.plug;
  VstTimeInfo& t = in.host.time;
  auto lastFilter = [&] { return in.host.calls.back().value; };
  t.samplePos = 1000.5;
  EXPECT_EQ(plug->SamplePosition(), 1001);
  EXPECT_EQ(lastFilter(), 0);
  t.samplePos = -3.0;
  EXPECT_EQ(plug->SamplePosition(), 0);
  t.samplePos = 1e13;
  EXPECT_EQ(plug->SamplePosition(), INT32_MAX);

  t.tempo = 132.0;
  EXPECT_EQ(plug->Tempo(), 0.0) << "tempo without its valid flag";
  t.flags = kVstTempoValid | kVstTimeSigValid;
  EXPECT_EQ(plug->Tempo(), 132.0);
  EXPECT_EQ(lastFilter(), kVstTempoValid);
  t.timeSigNumerator = 7;
  t.timeSigDenominator = 8;
  int num = -1, den = -1;
  plug->TimeSignature(&num, &den);
  EXPECT_EQ(lastFilter(), kVstTimeSigValid);
  EXPECT_EQ(num * 100 + den, 708);
  t.timeSigDenominator = -8;
  plug->TimeSignature(&num, &den);
  EXPECT_EQ(num * 100 + den, 0);

  TimeInfo info;
  info.ppqPos = 99.0;
  t.flags = kVstTransportPlaying;  // none of the queried fields valid: nothing is taken
  plug->TransportInfo(&info);
  EXPECT_EQ(lastFilter(), 0x3E00);
  EXPECT_FALSE(info.transportIsRunning);
  t = {480.0, 0, 0, -1.0 /* ppq, flagged but negative */, 0.0, 4.0, 8.0, 16.0, 3, 4, 0, 0, 0,
       kVstTransportPlaying | kVstTransportCycleActive | kVstPpqPosValid | kVstTempoValid | kVstBarsValid |
         kVstCyclePosValid | kVstTimeSigValid};
  plug->TransportInfo(&info);
  EXPECT_EQ(info.samplePos + info.lastBar + info.cycleEnd, 500.0);
  EXPECT_EQ(info.ppqPos, 99.0);
  EXPECT_EQ(info.tempo, 0.0);
  EXPECT_EQ(info.numerator * 100 + info.denominator, 304);
  EXPECT_TRUE(info.transportIsRunning && info.transportLoopEnabled);

  in.host.answerTime = false;
  plug->TransportInfo(&info);
  EXPECT_EQ(info.samplePos, 480.0);
  EXPECT_EQ(plug->SamplePosition() + plug->Tempo(), 0.0);
}

TEST(Vst2HostQueries, ProcessLevelEventsProgramsAndLatency)
{
  InProcess in;
  in.host.processLevel = kVstProcessLevelOffline;
  EXPECT_TRUE(in.plug->IsOfflineRender());
  in.host.processLevel = kVstProcessLevelRealtime;
  EXPECT_FALSE(in.plug->IsOfflineRender());

  IMidiMsg msg;
  msg.offset = 5, msg.status = 0xB0, msg.data1 = 7, msg.data2 = 127;
  EXPECT_TRUE(in.plug->MidiOut(msg));
  const uint8_t dump[] = {0xF0, 0x7E, 0x01, 0xF7};
  ISysEx sx;
  sx.size = 4, sx.data = dump;
  in.host.eventsAnswer = 0;
  EXPECT_FALSE(in.plug->SysExOut(sx));
  EXPECT_EQ(in.host.events, (std::vector<std::vector<uint8_t>>{{5, 0xB0, 7, 127}, {0xF0, 0x7E, 0x01, 0xF7}}));

  in.plug->SendProgramChangeToHost();
  EXPECT_EQ(in.host.calls.back().opcode, audioMasterUpdateDisplay);
  in.plug->ChangeLatency(64);
  EXPECT_EQ(in.e->initialDelay, 64);
}

TEST(Vst2HostQueries, UnterminatedProductStringAndMissingHost)
{
  InProcess in;
  in.host.product = std::string(300, 'x');  // the host fills all 256 bytes
  in.fx.Dispatch(effOpen);
  EXPECT_EQ(in.plug->HostId(), 0);

  // A host that gave no callback: every query answers "nothing known".
  HostedEffect bare(CreateTalvorEffect(nullptr), nullptr);
  ASSERT_NE(bare.effect, nullptr);
  bare.Start();
  TALVOR* plug = static_cast<TALVOR*>(static_cast<IPlugVST*>(bare.effect->object));
  EXPECT_EQ(plug->HostId() + plug->Tempo(), 0.0);
  EXPECT_FALSE(plug->IsOfflineRender() || plug->MidiOut(IMidiMsg()));
  plug->SetParamFromEditor(kLowGain, 1.0);
  EXPECT_EQ(bare.effect->getParameter(bare.effect, kLowGain), 1.0f);
}
