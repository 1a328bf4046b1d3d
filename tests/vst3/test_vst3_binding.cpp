// The binding compiled into the test, on a probe plug-in with TALVOR's
// parameter layout and editor: what the module boundary hides (host code, the
// view list, transport, latency) and what TALVOR does not use (groups, display
// texts, negated displays).

#include <gtest/gtest.h>

#include "HostObjects.h"
#include "graphics/IControl.h"
#include "graphics/IGraphics.h"
#include "vst3/IPlugVST3.h"
#include "vst3/IPlugVST3View.h"

IGraphics* MakeTalvorEditor(IPlugBase* plug);  // the product's editor layout

using namespace vst3test;

namespace {

class Probe : public IPlugVST3
{
public:
  explicit Probe(bool grouped = false)
    : IPlugVST3(IPlugInstanceInfo(), 11, "1-1 2-2", 1, "Probe", "", "Maker", 0x00010000, 0x50726231,
                0x4D6B7231)
  {
    const char* names[11] = {"Low Gain", "Low Freq", "Mid Gain", "Mid Freq", "High Gain", "High Freq",
                             "Input",    "Output",   "Bypass",   "Filter",   "Link"};
    const int maxima[11] = {10, 4, 10, 4, 10, 4, 0, 0, 1, 1, 1};
    for (int i = 0; i < 11; ++i)
    {
      if (i == 6 || i == 7)
        ParamAt(i)->InitContinuous(names[i], 0.0, -12.0, 12.0, 0.01);
      else
        ParamAt(i)->InitInteger(names[i], maxima[i] == 10 ? 5 : 0, 0, maxima[i]);
    }
    if (grouped)
    {
      ParamAt(0)->SetGroup("Low");
      ParamAt(1)->SetGroup("Low");
      ParamAt(2)->SetGroup("Mid");
      ParamAt(4)->SetGroup("Low");
      ParamAt(3)->SetLabel("mode");
      ParamAt(3)->SetDisplayText(0, "Off");
      ParamAt(3)->SetDisplayText(1, "");
      ParamAt(3)->SetDisplayText(2, "Wide");
      ParamAt(5)->SetNegateDisplay(true);
      ParamAt(9)->SetCanAutomate(false);
    }
    AttachEditor(MakeTalvorEditor(this));
    FillDefaultPresets("-", 1);
  }
  void WindowResized() override { ++resizes; }
  void EditorOpened() override { ++opened; }
  void EditorClosed() override { ++closed; }
  int resizes = 0, opened = 0, closed = 0;
};

// Holds the creator's reference, as the factory hands it to a host.
struct ProbeRef
{
  explicit ProbeRef(bool grouped = false) : p(new Probe(grouped)) {}
  ~ProbeRef() { p->release(); }
  Probe* operator->() { return p; }
  Probe* p;
};

// One host block of two channels in either sample size.
template <class S, int N>
tresult ProcessBlock(IPlugVST3* plug, S (&in)[2][N], S (&out)[2][N], ParamChanges* changes,
                     ProcessContext* context = nullptr)
{
  S* inPtrs[2] = {in[0], in[1]};
  S* outPtrs[2] = {out[0], out[1]};
  return ProcessOneBus<S>(plug, inPtrs, 2, outPtrs, 2, N, changes, context);
}

std::string Text(IPlugVST3* plug, ParamID id, double v)
{
  String128 s = {};
  return plug->getParamStringByValue(id, v, s) == kResultOk ? Narrow(s) : "<refused>";
}

double Value(IPlugVST3* plug, ParamID id, const char* text)
{
  String128 w = {};
  for (int i = 0; text[i]; ++i)
    w[i] = (TChar)text[i];
  ParamValue v = -1.0;
  return plug->getParamValueByString(id, w, v) == kResultOk ? v : -99.0;
}

}  // namespace

TEST(Vst3Binding, IdentifiesTheHostFromItsApplicationName)
{
  struct Case
  {
    const char* name;
    int32_t code;
  } cases[] = {{"Cubase 12", 3}, {"VST3PluginTestHost", 27}, {"REAPER64 standalone", 1}, {"", 0}};
  for (const Case& c : cases)
  {
    ProbeRef p;
    HostApplication app(c.name);
    ASSERT_EQ(kResultOk, p->initialize(&app));
    EXPECT_EQ(c.code, p->HostId()) << c.name;
    p->terminate();
  }
  BareContext context;  // outlives the plug-in, which releases it when destroyed
  ProbeRef bare;
  ASSERT_EQ(kResultOk, bare->initialize(&context));
  EXPECT_EQ(-1, bare->HostId());
  HostApplication longName(std::string(300, 'x').append("cubase").c_str());
  ProbeRef cut;
  ASSERT_EQ(kResultOk, cut->initialize(&longName));
  EXPECT_EQ(0, cut->HostId());  // the match lies beyond the 127 characters passed on
}

TEST(Vst3Binding, EditorGesturesReachTheHostAndRightClickOpensItsMenu)
{
  ProbeRef p;
  ASSERT_EQ(kResultOk, p->initialize(nullptr));
  IGraphics* editor = p->Editor();
  ASSERT_NE(nullptr, editor);
  IMouseMod left, right;
  left.L = true;
  right.R = true;

  // Without a handler a gesture only changes the plug-in.
  editor->HandleMouseDown(110, 230, left);  // "Mid Gain", clear of "Mid Freq"
  editor->HandleMouseDrag(110, 203, left);
  editor->HandleMouseUp(110, 203, left);
  EXPECT_EQ(6.0, p->ParamAt(2)->Value());

  ComponentHandler handler;
  p->setComponentHandler(&handler);
  editor->HandleMouseDown(110, 230, left);
  editor->HandleMouseDrag(110, 176, left);  // 54 px up at gearing 2.5: two positions
  editor->HandleMouseUp(110, 176, left);
  ASSERT_GE(handler.edits.size(), 3u);
  EXPECT_EQ('b', handler.edits.front().kind);
  EXPECT_EQ('e', handler.edits.back().kind);
  for (const auto& e : handler.edits)
    EXPECT_EQ(2u, e.id);
  EXPECT_EQ('p', handler.edits[handler.edits.size() - 2].kind);
  EXPECT_NEAR(0.8, handler.edits[handler.edits.size() - 2].value, 1e-9);
  EXPECT_DOUBLE_EQ(0.8, p->getParamNormalized(2));

  // A right click asks the host for its menu on the first view, without an edit.
  handler.edits.clear();
  editor->HandleMouseDown(110, 230, right);  // no view yet: nothing
  EXPECT_TRUE(handler.menuRequests.empty());
  IPlugView* first = p->createView("editor");
  IPlugView* second = p->createView("editor");
  editor->HandleMouseDown(110, 230, right);
  editor->HandleMouseUp(110, 230, right);
  ASSERT_EQ(1u, handler.menuRequests.size());
  EXPECT_EQ(first, handler.menuRequests[0].first);
  EXPECT_EQ(2u, handler.menuRequests[0].second);
  ASSERT_EQ(1u, handler.menu.popups.size());
  EXPECT_EQ(std::make_pair(110, 230), handler.menu.popups[0]);
  EXPECT_EQ(1, handler.menu.refs);  // the plug-in released the menu it was given
  EXPECT_TRUE(handler.edits.empty());

  ComponentHandler noMenus(false);
  p->setComponentHandler(&noMenus);
  editor->HandleMouseDown(110, 230, right);
  EXPECT_TRUE(noMenus.menuRequests.empty());
  p->setComponentHandler(nullptr);
  EXPECT_EQ(1, handler.refs);
  EXPECT_EQ(1, noMenus.refs);
  second->release();
  first->release();
}

TEST(Vst3Binding, ViewListAndResizeRequests)
{
  ProbeRef p;
  IPlugView* a = p->createView("editor");
  IPlugView* b = p->createView("editor");
  ASSERT_EQ(2u, p->Views().size());
  PlugFrame frame;
  ASSERT_EQ(kResultOk, a->setFrame(&frame));

  ViewRect hostRect(0, 0, 10, 10);
  a->onSize(&hostRect);  // the host's own resize: stored, plug-in not told
  EXPECT_EQ(0, p->resizes);
  p->ResizeEditor(400, 300);
  ASSERT_EQ(1u, frame.requests.size());
  EXPECT_EQ(400, frame.requests[0].right);
  EXPECT_EQ(300, frame.requests[0].bottom);
  EXPECT_EQ(1, p->resizes);

  // No parent window: refused, and neither open nor close reaches the plug-in.
  EXPECT_EQ(kResultFalse, a->attached(nullptr, "X11EmbedWindowID"));
  EXPECT_EQ(kResultOk, a->removed());
  EXPECT_EQ(kResultOk, a->removed());
  EXPECT_EQ(0, p->opened);
  EXPECT_EQ(0, p->closed);

  // Destroying either view empties the list; later requests find no view.
  b->release();
  EXPECT_TRUE(p->Views().empty());
  p->ResizeEditor(500, 500);
  EXPECT_EQ(1u, frame.requests.size());
  a->release();
}

TEST(Vst3Binding, TransportLatencyAndDelayedBypass)
{
  ProbeRef p;
  ASSERT_EQ(kResultOk, p->initialize(nullptr));
  TimeInfo before;
  before.tempo = 1.0;
  p->TransportInfo(&before);
  EXPECT_EQ(0.0, before.tempo);

  ComponentHandler handler;
  p->setComponentHandler(&handler);
  p->ChangeLatency(3);
  ASSERT_EQ(1u, handler.restartFlags.size());
  EXPECT_EQ(kLatencyChanged, handler.restartFlags[0]);
  EXPECT_EQ(3u, p->getLatencySamples());

  ProcessSetup setup = {kOffline, kSample64, 32, 44100.0};
  ASSERT_EQ(kResultOk, p->setupProcessing(setup));
  EXPECT_TRUE(p->IsOfflineRender());
  p->activateBus(kAudio, Vst::kOutput, 0, true);

  ProcessContext ctx = {};
  ctx.state = ProcessContext::kPlaying | ProcessContext::kCycleActive;
  ctx.projectTimeSamples = (1LL << 32) + 5;
  ctx.tempo = 128.0;
  ctx.projectTimeMusic = 3.5;
  ctx.barPositionMusic = 2.0;
  ctx.cycleStartMusic = 1.0;
  ctx.cycleEndMusic = 9.0;
  ctx.timeSigNumerator = 7;
  ctx.timeSigDenominator = 8;
  ParamChanges bypass{{kVST3BypassParamId, {1.0}}};
  double in[2][8], out[2][8];
  for (int i = 0; i < 8; ++i)
    in[0][i] = in[1][i] = i + 1;
  ASSERT_EQ(kResultOk, ProcessBlock(p.p, in, out, &bypass, &ctx));
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(i < 3 ? 0.0 : i - 2, out[1][i]) << i;  // delayed by the latency

  EXPECT_EQ(5, p->SamplePosition());
  EXPECT_EQ(128.0, p->Tempo());
  int num = 0, den = 0;
  p->TimeSignature(&num, &den);
  EXPECT_EQ(7, num);
  EXPECT_EQ(8, den);
  p->TimeSignature(nullptr, nullptr);
  TimeInfo t;
  p->TransportInfo(&t);
  EXPECT_EQ(4294967301.0, t.samplePos);
  EXPECT_EQ(3.5, t.ppqPos);
  EXPECT_EQ(2.0, t.lastBar);
  EXPECT_EQ(1.0, t.cycleStart);
  EXPECT_EQ(9.0, t.cycleEnd);
  EXPECT_TRUE(t.transportIsRunning);
  EXPECT_TRUE(t.transportLoopEnabled);
  p->TransportInfo(nullptr);

  // The same delay in single precision, continuing where the block left off.
  setup.symbolicSampleSize = kSample32;
  ASSERT_EQ(kResultOk, p->setupProcessing(setup));  // clears the host bypass
  float fin[2][4] = {{9, 10, 11, 12}, {9, 10, 11, 12}}, fout[2][4];
  ASSERT_EQ(kResultOk, ProcessBlock(p.p, fin, fout, &bypass));
  const float expected[4] = {6, 7, 8, 9};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(expected[i], fout[0][i]) << i;
  EXPECT_EQ(5, p->SamplePosition());  // no context: the last one stays
  p->setComponentHandler(nullptr);
}

TEST(Vst3Binding, GroupsBecomeUnitsAndDisplayTextsRoundTrip)
{
  ProbeRef p(true);
  ASSERT_EQ(kResultOk, p->initialize(nullptr));
  ASSERT_EQ(3, p->getUnitCount());
  UnitInfo unit;
  ASSERT_EQ(kResultOk, p->getUnitInfo(1, unit));
  EXPECT_EQ(1, unit.id);
  EXPECT_EQ(0, unit.parentUnitId);
  EXPECT_EQ(-1, unit.programListId);
  EXPECT_EQ("Low", Narrow(unit.name));
  ASSERT_EQ(kResultOk, p->getUnitInfo(2, unit));
  EXPECT_EQ("Mid", Narrow(unit.name));
  EXPECT_EQ(kResultFalse, p->getUnitInfo(3, unit));
  EXPECT_EQ(kResultFalse, p->getUnitInfo(-1, unit));

  const int expectedUnits[11] = {1, 1, 2, 0, 1, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 11; ++i)
  {
    ParameterInfo info;
    ASSERT_EQ(kResultOk, p->getParameterInfo(i + 2, info));
    EXPECT_EQ(expectedUnits[i], info.unitId) << i;
    EXPECT_EQ(i == 9 ? 0 : ParameterInfo::kCanAutomate, info.flags) << i;
    // "Mid Freq" shows a text at its current value, so its unit label is empty.
    EXPECT_EQ("", Narrow(info.units)) << i;
  }
  p->ParamAt(3)->SetClamped(1.0);  // its entry for 1 is empty: the label shows
  EXPECT_STREQ("mode", p->ParamAt(3)->LabelForHost());

  EXPECT_EQ("Off", Text(p.p, 3, 0.0));
  EXPECT_EQ("1", Text(p.p, 3, 0.25));  // an empty entry counts as none
  EXPECT_EQ("Wide", Text(p.p, 3, 0.5));
  EXPECT_EQ("3", Text(p.p, 3, 0.75));
  EXPECT_EQ(0.5, Value(p.p, 3, "Wide"));
  EXPECT_EQ(0.75, Value(p.p, 3, "3"));
  EXPECT_EQ(-99.0, Value(p.p, 3, "wide"));  // texts match exactly

  EXPECT_EQ("-1", Text(p.p, 5, 0.25));
  EXPECT_EQ(0.25, Value(p.p, 5, "-1"));  // what the display shows reads back
}

// A stream cut before the bypass flag still loads the parameters; the editor
// must then show them, not the values from before the load.
TEST(Vst3Binding, TruncatedStateStillUpdatesTheEditor)
{
  ProbeRef p;
  ASSERT_EQ(kResultOk, p->initialize(nullptr));
  IControl* midGain = nullptr;
  for (int i = 0; i < p->Editor()->NControls(); ++i)
    if (p->Editor()->GetControl(i)->ParamIdx() == 2)
      midGain = p->Editor()->GetControl(i);
  ASSERT_NE(nullptr, midGain);
  ASSERT_EQ(0.5, midGain->Value());

  std::vector<uint8_t> bytes(88, 0);
  for (int i = 0; i < 11; ++i)
  {
    const double v = i == 2 ? 10.0 : p->ParamAt(i)->Value();
    std::memcpy(bytes.data() + 8 * i, &v, 8);
  }
  ByteStream stream(bytes);
  EXPECT_EQ(kResultFalse, p->setState(&stream));
  EXPECT_EQ(10.0, p->ParamAt(2)->Value());
  EXPECT_EQ(1.0, midGain->Value());
}
