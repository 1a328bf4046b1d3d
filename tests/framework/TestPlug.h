#pragma once
// A small plug-in for the framework tests: eleven parameters declared like the
// equaliser's, optional extra channels and preset slots, and a record of what
// the base called.

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/IPlugOffline.h"
#include "plugin/TalvorIdentity.h"

class TestPlug : public IPlugOffline
{
public:
  explicit TestPlug(const char* io = "1-1 2-2", int nPresets = 1, bool fillPreset = true)
    : IPlugOffline(IPlugInstanceInfo{}, 11, io, nPresets, TALVOR_NAME, TALVOR_PRODUCT_NAME, TALVOR_MAKER,
                   kTalvorVersion, kTalvorUniqueId, kTalvorMakerId)
  {
    const char* names[] = {"Low Gain", "Low Freq", "Mid Gain", "Mid Freq", "High Gain", "High Freq"};
    for (int i = 0; i < 6; ++i) ParamAt(i)->InitInteger(names[i], i % 2 ? 0 : 5, 0, i % 2 ? 4 : 10);
    ParamAt(6)->InitContinuous("Input", 0.0, -12.0, 12.0, 0.01);
    ParamAt(7)->InitContinuous("Output", 0.0, -12.0, 12.0, 0.01);
    ParamAt(10)->InitInteger("Link", 0, 0, 1);
    ParamAt(8)->InitInteger("Bypass", 1, 0, 1);
    ParamAt(9)->InitInteger("Filter", 0, 0, 1);
    if (fillPreset) FillDefaultPresets("-", 1);
  }

  void ParamChanged(int idx) override
  {
    changed.push_back(idx);
    if (probeLock) lockHeldDuringChange = LockHeldByThisThreadOnly();
  }

  void ProcessBlock(double** in, double** out, int n) override
  {
    largestBlock = std::max(largestBlock, n);
    ++blocks;
    if (gain == 0.0) return IPlugBase::ProcessBlock(in, out, n);
    for (int c = 0; c < NOutChannels(); ++c)
      for (int f = 0; f < n; ++f) out[c][f] = gain * (c < NInChannels() ? in[c][f] : 0.0);
  }

  // True when another thread cannot take the instance lock at this moment.
  bool LockHeldByThisThreadOnly()
  {
    bool other = false;
    std::thread t([&] {
      if (Mutex().try_lock()) { other = true; Mutex().unlock(); }
    });
    t.join();
    return !other;
  }

  std::vector<int> changed;
  bool lockHeldDuringChange = false;
  bool probeLock = true;  // off for long loops: every probe starts a thread
  double gain = 0.0;  // 0 = the base's copy
  int largestBlock = 0;
  int blocks = 0;
};
