// Both Windows modules loaded with LoadLibrary and driven as a host drives
// them: entry points, instances, audio, state, and the editor in a real window
// with mouse input, host edit callbacks and the painted pixels checked. The
// small hosts are in ModuleHosts.h.

#include <gtest/gtest.h>

#include <cmath>

#include "public.sdk/source/common/memorystream.h"
#include "tests/vst2/HostileProgramme.h"
#include "tests/vst3/ModuleInfoCheck.h"
#include "tests/win64/ModuleHosts.h"

using namespace wintest;
using namespace modulehosts;
using namespace Steinberg;

TEST(Vst3Module, ExportsAFactoryWithTheOneEffectClass)
{
  Vst3Module m;
  ASSERT_NE(m.module, nullptr) << Vst3Path();
  auto init = Export<BoolProc>(m.module, "InitDll");
  auto exitDll = Export<BoolProc>(m.module, "ExitDll");
  ASSERT_NE(init, nullptr);
  ASSERT_NE(exitDll, nullptr);
  EXPECT_TRUE(init());
  EXPECT_TRUE(exitDll());
  EXPECT_TRUE(init());
  ASSERT_NE(m.factory, nullptr);

  PFactoryInfo fi;
  ASSERT_EQ(m.factory->getFactoryInfo(&fi), kResultOk);
  EXPECT_STREQ(fi.vendor, "SilverMeadowLab");
  EXPECT_EQ(fi.flags, 16);
  ASSERT_EQ(m.factory->countClasses(), 1);
  PClassInfo ci;
  ASSERT_EQ(m.factory->getClassInfo(0, &ci), kResultOk);
  EXPECT_STREQ(ci.name, "TALVOR");
  EXPECT_STREQ(ci.category, "Audio Module Class");
  // The bytes that stored projects rely on, printed as on Linux.
  const unsigned char cid[16] = {0x0D, 0xE7, 0xAE, 0xF2, 0xDE, 0x00, 0x4E, 0x4F, 'S', 'm', 'l', 'b', 'T', 'l', 'v', '1'};
  EXPECT_EQ(std::memcmp(ci.cid, cid, 16), 0);
  EXPECT_EQ(vst3test::CidText(ci.cid), vst3test::kTalvorCidText);

  IPluginFactory2* f2 = nullptr;
  ASSERT_EQ(m.factory->queryInterface(IPluginFactory2::iid, reinterpret_cast<void**>(&f2)), kResultOk);
  PClassInfo2 ci2;
  ASSERT_EQ(f2->getClassInfo2(0, &ci2), kResultOk);
  EXPECT_STREQ(ci2.subCategories, "Fx|EQ");
  EXPECT_STREQ(ci2.version, "2.0.0");
  // The bundle around the module says what its factory says.
  for (const std::string& mismatch : vst3test::ModuleInfoMismatches(vst3test::ModuleInfoPath(Vst3Path()), fi, ci2))
    ADD_FAILURE() << mismatch;
  f2->release();
  IPluginFactory3* f3 = nullptr;
  ASSERT_EQ(m.factory->queryInterface(IPluginFactory3::iid, reinterpret_cast<void**>(&f3)), kResultOk);
  PClassInfoW ciw;
  ASSERT_EQ(f3->getClassInfoUnicode(0, &ciw), kResultOk);
  EXPECT_EQ(Narrow(ciw.name), "TALVOR");
  f3->release();
}

TEST(Vst3Module, ProcessesAudioAndRoundTripsItsState)
{
  Vst3Module m;
  ASSERT_NE(m.factory, nullptr);
  Vst3Instance p(m.factory);
  ASSERT_NE(p.processor, nullptr);
  ASSERT_NE(p.controller, nullptr);

  Vst::SpeakerArrangement stereo = Vst::SpeakerArr::kStereo;
  EXPECT_EQ(p.processor->setBusArrangements(&stereo, 1, &stereo, 1), kResultTrue);
  Vst::ProcessSetup setup{Vst::kRealtime, Vst::kSample32, 512, 48000.0};
  ASSERT_EQ(p.processor->setupProcessing(setup), kResultOk);
  p.component->activateBus(Vst::kAudio, Vst::kInput, 0, true);
  p.component->activateBus(Vst::kAudio, Vst::kOutput, 0, true);
  ASSERT_EQ(p.component->setActive(true), kResultOk);
  p.processor->setProcessing(true);

  std::vector<float> inL(512), inR(512), outL(512, 9.f), outR(512, 9.f);
  for (int i = 0; i < 512; ++i) inL[(size_t)i] = inR[(size_t)i] = 0.25f * std::sin(2.0f * 3.14159265f * 440.f * i / 48000.f);
  float* ins[2] = {inL.data(), inR.data()};
  float* outs[2] = {outL.data(), outR.data()};
  Vst::AudioBusBuffers inBus, outBus;
  inBus.numChannels = outBus.numChannels = 2;
  inBus.channelBuffers32 = ins;
  outBus.channelBuffers32 = outs;
  Vst::ProcessData data;
  data.processMode = Vst::kRealtime;
  data.symbolicSampleSize = Vst::kSample32;
  data.numSamples = 512;
  data.numInputs = data.numOutputs = 1;
  data.inputs = &inBus;
  data.outputs = &outBus;
  ASSERT_EQ(p.processor->process(data), kResultOk);
  double energy = 0.0;
  for (int i = 0; i < 512; ++i)
  {
    ASSERT_TRUE(std::isfinite(outL[(size_t)i]) && std::isfinite(outR[(size_t)i]));
    ASSERT_NE(outL[(size_t)i], 9.f) << "every output sample is written";
    energy += outL[(size_t)i] * outL[(size_t)i];
  }
  EXPECT_GT(energy, 1.0) << "the signal passes";
  p.processor->setProcessing(false);
  p.component->setActive(false);

  MemoryStream saved;
  ASSERT_EQ(p.component->getState(&saved), kResultOk);
  int64 size = 0;
  saved.seek(0, IBStream::kIBSeekEnd, &size);
  EXPECT_EQ(size, 88 + 4);
  double lowGain = -1.0;
  std::memcpy(&lowGain, saved.getData(), 8);
  EXPECT_DOUBLE_EQ(lowGain, 5.0);

  // A truncated or hostile stream is refused without harm.
  MemoryStream shortStream;
  int32 written = 0;
  shortStream.write(const_cast<char*>(saved.getData()), 20, &written);
  shortStream.seek(0, IBStream::kIBSeekSet, nullptr);
  EXPECT_EQ(p.component->setState(&shortStream), kResultFalse);
  EXPECT_NEAR(p.controller->getParamNormalized(kLowGain), 0.5, 1e-9);
}

TEST(Vst3Module, EditorPaintsAndTurnsDragsIntoHostEdits)
{
  Vst3Module m;
  ASSERT_NE(m.factory, nullptr);
  Vst3Instance p(m.factory);
  ASSERT_NE(p.controller, nullptr);
  HWND host = CreateHostWindow(20, 20, false);
  ASSERT_NE(host, nullptr);

  IPlugView* probe = p.controller->createView("editor");
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->isPlatformTypeSupported(kPlatformTypeHWND), kResultTrue);
  EXPECT_EQ(probe->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultFalse);
  // A type the view does not support is refused and opens nothing.
  EXPECT_EQ(probe->attached(host, kPlatformTypeX11EmbedWindowID), kResultFalse);
  EXPECT_EQ(FindEditorChild(host), nullptr);
  ViewRect r;
  ASSERT_EQ(probe->getSize(&r), kResultOk);
  EXPECT_EQ(r.getWidth(), kW);
  EXPECT_EQ(r.getHeight(), kH);
  probe->release();
  EXPECT_EQ(p.controller->createView("other"), nullptr);

  HWND child = p.OpenEditor(host);
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(ClassRegisteredIn(m.module));
  Image shown;
  EXPECT_EQ(WaitForPicture(child, p.Values(), &shown), 0);
  SavePng(shown, BuildPath("editor-win64.png"));

  const ControlBox& lg = Box(kLowGain);
  const int x = lg.cx(), y = lg.y + 10;
  PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, Point(x, y));
  for (int step = 1; step <= 6; ++step) PostMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, Point(x, y - 9 * step));
  PostMessageA(child, WM_LBUTTONUP, 0, Point(x, y - 54));
  PumpUntil([&] { return p.handler.Count('e', kLowGain) > 0; }, 5000);
  EXPECT_EQ(p.handler.Count('b', kLowGain), 1);
  EXPECT_EQ(p.handler.Count('p', kLowGain), 6);
  EXPECT_EQ(p.handler.Count('e', kLowGain), 1);
  ASSERT_FALSE(p.handler.events.empty());
  EXPECT_EQ(p.handler.events.front().kind, 'b');
  EXPECT_EQ(p.handler.events.back().kind, 'e');
  EXPECT_NEAR(p.handler.events[p.handler.events.size() - 2].value, 0.5 + 54.0 / 107.0 / 2.5, 1e-6);
  EXPECT_NEAR(p.controller->getParamNormalized(kLowGain), 0.7, 0.01);
  EXPECT_EQ(WaitForPicture(child, p.Values()), 0);

  // Under VST3 a right press on a parameter belongs to the host's context menu.
  p.handler.events.clear();
  const ControlBox& fl = Box(kFilter);
  SendPress(child, fl.cx(), fl.cy(), MK_RBUTTON);
  SendMessageA(child, WM_RBUTTONUP, 0, Point(fl.cx(), fl.cy()));
  EXPECT_EQ(p.handler.Count('b', kFilter), 0);
  EXPECT_NEAR(p.controller->getParamNormalized(kFilter), 0.0, 1e-9);

  // The state follows the editor's edit, and restoring it shows on the knob.
  MemoryStream saved;
  ASSERT_EQ(p.component->getState(&saved), kResultOk);
  double lowGain = -1.0;
  std::memcpy(&lowGain, saved.getData(), 8);
  EXPECT_DOUBLE_EQ(lowGain, 7.0);
  double state[11] = {5, 0, 5, 0, 0, 0, 0, 0, 1, 0, 0};  // "High Gain" at 0
  MemoryStream restore;
  int32 n = 0;
  restore.write(state, sizeof state, &n);
  int32 bypass = 0;
  restore.write(&bypass, 4, &n);
  restore.seek(0, IBStream::kIBSeekSet, nullptr);
  ASSERT_EQ(p.component->setState(&restore), kResultOk);
  restore.seek(0, IBStream::kIBSeekSet, nullptr);
  p.controller->setComponentState(&restore);
  EXPECT_NEAR(p.controller->getParamNormalized(kHighGain), 0.0, 1e-9);
  EXPECT_EQ(WaitForPicture(child, p.Values()), 0);

  EXPECT_EQ(p.view->removed(), kResultOk);
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(ClassRegisteredIn(m.module));
  // Attach again, as hosts do when the editor is shown again.
  ASSERT_EQ(p.view->attached(host, kPlatformTypeHWND), kResultTrue);
  child = FindEditorChild(host);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(WaitForPicture(child, p.Values()), 0);
  DestroyWindow(host);  // the host tears its window down before removing the view
  EXPECT_EQ(p.view->removed(), kResultOk);
  EXPECT_FALSE(ClassRegisteredIn(m.module));
}

TEST(Vst3Module, AttachingToAVanishedWindowFailsAndLeavesTheViewUsable)
{
  Vst3Module m;
  ASSERT_NE(m.factory, nullptr);
  Vst3Instance p(m.factory);
  ASSERT_NE(p.controller, nullptr);
  p.view = p.controller->createView("editor");
  ASSERT_NE(p.view, nullptr);

  HWND gone = CreateHostWindow(20, 20, false);
  ASSERT_NE(gone, nullptr);
  DestroyWindow(gone);
  EXPECT_EQ(p.view->attached(gone, kPlatformTypeHWND), kResultFalse) << "no window could be made: the host is told";
  EXPECT_FALSE(ClassRegisteredIn(m.module));

  HWND host = CreateHostWindow(20, 20, false);
  ASSERT_NE(host, nullptr);
  ASSERT_EQ(p.view->attached(host, kPlatformTypeHWND), kResultTrue);
  HWND child = FindEditorChild(host);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(WaitForPicture(child, p.Values()), 0);
  EXPECT_EQ(p.view->removed(), kResultOk);
  EXPECT_FALSE(ClassRegisteredIn(m.module));
  DestroyWindow(host);
}

TEST(Vst2Module, EntryGivesAFilledEffectThatProcesses)
{
  Vst2Module m;
  ASSERT_NE(m.module, nullptr) << Vst2Path();
  ASSERT_NE(m.main, nullptr);
  Vst2Instance p(m.main);
  ASSERT_NE(p.e, nullptr);
  EXPECT_EQ(p.e->magic, 0x56737450);
  EXPECT_EQ(p.e->flags, 0x1019);
  EXPECT_EQ(p.e->numParams, 11);
  EXPECT_EQ(p.e->numInputs, 2);
  EXPECT_EQ(p.e->numOutputs, 2);
  EXPECT_EQ(p.e->uniqueID, 0x546C7631);
  EXPECT_EQ(p.e->version, 20000);
  char name[256] = {};
  EXPECT_EQ(p.Call(45, 0, 0, name), 1);
  EXPECT_STREQ(name, "TALVOR");

  std::vector<float> in(700), outL(700, 5.f), outR(700, 5.f);
  for (int i = 0; i < 700; ++i) in[(size_t)i] = 0.25f * std::sin(0.05f * i);
  float* ins[2] = {in.data(), in.data()};
  float* outs[2] = {outL.data(), outR.data()};
  p.e->processReplacing(p.e, ins, outs, 700);  // longer than the announced block
  double energy = 0.0;
  for (int i = 0; i < 700; ++i)
  {
    ASSERT_TRUE(std::isfinite(outL[(size_t)i]));
    ASSERT_NE(outR[(size_t)i], 5.f);
    energy += outL[(size_t)i] * outL[(size_t)i];
  }
  EXPECT_GT(energy, 1.0);

  ERect* rect = nullptr;
  ASSERT_EQ(p.Call(13, 0, 0, &rect), 1);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->right - rect->left, kW);
  EXPECT_EQ(rect->bottom - rect->top, kH);
}

TEST(Vst2Module, HostileProgrammeRendersTheReferenceBytes)
{
  // The same digests as the Linux module's (tests/vst2): both builds render
  // the same bytes, on whichever instruction set this processor offers.
  Vst2Module m;
  ASSERT_NE(m.main, nullptr);
  Vst2Instance f(m.main), d(m.main);
  ASSERT_TRUE(f.e && d.e);
  EXPECT_EQ(hostile::Render<float>(f.e), hostile::kFloatDigest);
  EXPECT_EQ(hostile::Render<double>(d.e), hostile::kDoubleDigest);
}

TEST(Vst2Module, EditorOpensClosesAndAutomatesTheHost)
{
  Vst2Module m;
  ASSERT_NE(m.main, nullptr);
  Vst2Instance p(m.main);
  ASSERT_NE(p.e, nullptr);
  gHostCalls.clear();
  HWND host = CreateHostWindow(20, 20, true);
  ASSERT_NE(host, nullptr);

  EXPECT_EQ(p.Call(14, 0, 0, nullptr), 0) << "no parent window: no editor";
  EXPECT_FALSE(ClassRegisteredIn(m.module));
  HWND child = p.OpenEditor(host);
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(ClassRegisteredIn(m.module));
  EXPECT_EQ(WaitForPicture(child, p.Values()), 0);

  // Horizontal selector: a drag of half its width moves it half its range.
  const ControlBox& mf = Box(kMidFreq);
  const int x = mf.x + 5, y = mf.y + 5;
  PostMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, Point(x, y));
  PostMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, Point(x + 40, y));
  PostMessageA(child, WM_MOUSEMOVE, MK_LBUTTON, Point(x + 78, y));
  PostMessageA(child, WM_LBUTTONUP, 0, Point(x + 78, y));
  PumpUntil([&] { return CountCalls(p.e, 44, kMidFreq) > 0; }, 5000);
  EXPECT_EQ(CountCalls(p.e, 43, kMidFreq), 1);
  EXPECT_EQ(CountCalls(p.e, 0, kMidFreq), 2);
  EXPECT_EQ(CountCalls(p.e, 44, kMidFreq), 1);
  ASSERT_FALSE(gHostCalls.empty());
  EXPECT_EQ(gHostCalls.front().opcode, 43);
  EXPECT_EQ(gHostCalls.back().opcode, 44);
  EXPECT_NEAR(p.e->getParameter(p.e, kMidFreq), 0.5, 1e-6);
  EXPECT_EQ(WaitForPicture(child, p.Values()), 0);

  // Wheel over "Input": -240 is two notches down.
  const ControlBox& in = Box(kInput);
  POINT sp = {in.cx(), in.cy()};
  ClientToScreen(child, &sp);
  PostMessageA(child, WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(SHORT)-240), Point(sp.x, sp.y));
  PumpUntil([&] { return p.e->getParameter(p.e, kInput) < 0.5f; }, 5000);
  EXPECT_NEAR(p.e->getParameter(p.e, kInput), 0.48, 1e-6);

  // Host automation shows on the knob.
  p.e->setParameter(p.e, kHighGain, 1.0f);
  EXPECT_EQ(WaitForPicture(child, p.Values()), 0);

  EXPECT_EQ(p.Call(15), 1);
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(ClassRegisteredIn(m.module));
  child = p.OpenEditor(host);
  ASSERT_NE(child, nullptr) << "reopens";
  EXPECT_EQ(WaitForPicture(child, p.Values()), 0);
  EXPECT_EQ(p.Call(15), 1);
  DestroyWindow(host);
}

TEST(BothModules, SeveralEditorsAtOnceEachModuleWithItsOwnClass)
{
  Vst2Module m2;
  Vst3Module m3;
  ASSERT_NE(m2.main, nullptr);
  ASSERT_NE(m3.factory, nullptr);
  Vst2Instance a(m2.main), b(m2.main);
  Vst3Instance c(m3.factory);
  ASSERT_TRUE(a.e && b.e && c.controller);
  gHostCalls.clear();
  HWND hostA = CreateHostWindow(0, 0, false);
  HWND hostB = CreateHostWindow(350, 0, false);
  HWND hostC = CreateHostWindow(700, 0, false);
  HWND ca = a.OpenEditor(hostA), cb = b.OpenEditor(hostB), cc = c.OpenEditor(hostC);
  ASSERT_TRUE(ca && cb && cc);
  EXPECT_TRUE(ClassRegisteredIn(m2.module));
  EXPECT_TRUE(ClassRegisteredIn(m3.module));
  EXPECT_EQ(WaitForPicture(ca, a.Values()), 0);
  EXPECT_EQ(WaitForPicture(cb, b.Values()), 0);
  EXPECT_EQ(WaitForPicture(cc, c.Values()), 0);

  // Closing one VST2 editor leaves the other (and its class) working.
  EXPECT_EQ(a.Call(15), 1);
  EXPECT_TRUE(ClassRegisteredIn(m2.module));
  const ControlBox& fl = Box(kFilter);
  SendPress(cb, fl.cx(), fl.cy());
  SendRelease(cb, fl.cx(), fl.cy());
  EXPECT_EQ(b.e->getParameter(b.e, kFilter), 1.0f);
  EXPECT_EQ(a.e->getParameter(a.e, kFilter), 0.0f) << "instances are independent";
  EXPECT_EQ(CountCalls(b.e, 43, kFilter), 1);
  EXPECT_EQ(CountCalls(a.e, 43, kFilter), 0);
  EXPECT_EQ(WaitForPicture(cb, b.Values()), 0);
  EXPECT_EQ(WaitForPicture(cc, c.Values()), 0);

  EXPECT_EQ(b.Call(15), 1);
  EXPECT_FALSE(ClassRegisteredIn(m2.module));
  EXPECT_TRUE(ClassRegisteredIn(m3.module));
  c.view->removed();
  c.view->release();
  c.view = nullptr;
  EXPECT_FALSE(ClassRegisteredIn(m3.module));
  DestroyWindow(hostA);
  DestroyWindow(hostB);
  DestroyWindow(hostC);
}

TEST(BothModules, CarryTheirImagesAndVersionAsResources)
{
  for (const std::string& path : {Vst3Path(), Vst2Path()})
  {
    HMODULE mod = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(mod, nullptr) << path;
    for (int id = 101; id <= 112; ++id)
      EXPECT_NE(FindResourceExA(mod, "PNG", MAKEINTRESOURCEA(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), nullptr)
          << path << " image " << id;
    FreeLibrary(mod);

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << path;
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    char* text = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductName", reinterpret_cast<void**>(&text), &len));
    EXPECT_STREQ(text, "TALVOR");
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\CompanyName", reinterpret_cast<void**>(&text), &len));
    EXPECT_STREQ(text, "SilverMeadowLab");
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductVersion", reinterpret_cast<void**>(&text), &len));
    EXPECT_STREQ(text, "2.0.0");
  }
}
