#pragma once
// A recording VST 2.4 host for the binding's tests: it answers what the plug-in
// asks (product string, vendor version, time, process level, events) and keeps
// every call so that tests can check what reached the host.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "vst2/VstInterface.h"

struct RecordedCall
{
  VstInt32 opcode, index;
  VstIntPtr value;
  float opt;
};

struct TestHost
{
  std::vector<RecordedCall> calls;
  std::string product = "REAPER";
  VstIntPtr vendorVersion = 60020;
  VstIntPtr processLevel = kVstProcessLevelRealtime;
  bool answerTime = true;
  VstTimeInfo time = {};
  VstIntPtr eventsAnswer = 1;
  std::vector<std::vector<uint8_t>> events;  // MIDI bytes or SysEx dumps received

  static inline int orphanCalls = 0;  // calls for a record the host does not know yet

  static VstIntPtr VSTCALLBACK Callback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                        VstIntPtr value, void* ptr, float opt)
  {
    TestHost* host = effect ? static_cast<TestHost*>(effect->user) : nullptr;
    if (!host) return ++orphanCalls, 0;
    host->calls.push_back({opcode, index, value, opt});
    switch (opcode)
    {
      case audioMasterGetProductString:
        std::memcpy(ptr, host->product.c_str(), std::min<size_t>(host->product.size() + 1, 256));
        return 1;
      case audioMasterGetVendorVersion: return host->vendorVersion;
      case audioMasterGetCurrentProcessLevel: return host->processLevel;
      case audioMasterGetTime: return host->answerTime ? reinterpret_cast<VstIntPtr>(&host->time) : 0;
      case audioMasterProcessEvents:
      {
        const VstEvent* ev = static_cast<const VstEvents*>(ptr)->events[0];
        if (ev->type == kVstMidiType)
        {
          EXPECT_EQ(ev->byteSize, 32);
          const char* b = reinterpret_cast<const VstMidiEvent*>(ev)->midiData;
          host->events.push_back({(uint8_t)ev->deltaFrames, (uint8_t)b[0], (uint8_t)b[1], (uint8_t)b[2]});
        }
        else
        {
          EXPECT_EQ(ev->byteSize, 48);
          const auto* sx = reinterpret_cast<const VstMidiSysexEvent*>(ev);
          host->events.emplace_back(sx->sysexDump, sx->sysexDump + sx->dumpBytes);
        }
        return host->eventsAnswer;
      }
      default: return 0;
    }
  }

  std::vector<VstInt32> Opcodes() const
  {
    std::vector<VstInt32> ops;
    for (const RecordedCall& c : calls) ops.push_back(c.opcode);
    return ops;
  }
};

// Drives one effect record as a host would; closes it when done.
struct HostedEffect
{
  AEffect* effect;
  HostedEffect(AEffect* e, TestHost* host) : effect(e) { if (e) e->user = host; }
  ~HostedEffect() { if (effect) Dispatch(effClose); }
  HostedEffect(const HostedEffect&) = delete;
  HostedEffect& operator=(const HostedEffect&) = delete;

  VstIntPtr Dispatch(VstInt32 op, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f)
  {
    return effect->dispatcher(effect, op, index, value, ptr, opt);
  }
  VstIntPtr Dispatch(VstInt32 op, VstInt32 index, const char* text)
  {
    return Dispatch(op, index, 0, const_cast<char*>(text));
  }
  std::string Text(VstInt32 op, VstInt32 index = 0)
  {
    char buf[256] = {};
    Dispatch(op, index, 0, buf);
    return buf;
  }
  // Open, sample rate, block size, resume: the order hosts use.
  void Start(float sampleRate = 48000.0f, int blockSize = 512)
  {
    Dispatch(effOpen);
    Dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
    Dispatch(effSetBlockSize, 0, blockSize);
    Dispatch(effMainsChanged, 0, 1);
  }
};
