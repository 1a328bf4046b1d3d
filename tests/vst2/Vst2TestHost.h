#pragma once
// A recording VST 2.4 host for the binding's tests: it answers the requests the
// plug-in makes (product string, vendor version, time, process level, events)
// and keeps every call so that tests can check what reached the host.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vst2/VstInterface.h"

struct RecordedCall
{
  VstInt32 opcode;
  VstInt32 index;
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
  std::vector<VstMidiEvent> midiEvents;
  std::vector<std::vector<uint8_t>> sysexDumps;

  // Calls made before the host knew the record (during creation) or for a
  // record without a host.
  static int& OrphanCalls()
  {
    static int n = 0;
    return n;
  }

  static VstIntPtr VSTCALLBACK Callback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                        VstIntPtr value, void* ptr, float opt)
  {
    TestHost* host = effect ? static_cast<TestHost*>(effect->user) : nullptr;
    if (!host)
    {
      ++OrphanCalls();
      return 0;
    }
    return host->Answer(opcode, index, value, ptr, opt);
  }

  VstIntPtr Answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
  {
    calls.push_back({opcode, index, value, opt});
    switch (opcode)
    {
      case audioMasterGetProductString:
        std::memcpy(ptr, product.c_str(), std::min<size_t>(product.size() + 1, 256));
        return 1;
      case audioMasterGetVendorVersion:
        return vendorVersion;
      case audioMasterGetCurrentProcessLevel:
        return processLevel;
      case audioMasterGetTime:
        return answerTime ? reinterpret_cast<VstIntPtr>(&time) : 0;
      case audioMasterProcessEvents:
      {
        const VstEvents* list = static_cast<const VstEvents*>(ptr);
        for (int i = 0; i < list->numEvents; ++i)
        {
          const VstEvent* ev = list->events[i];
          if (ev->type == kVstMidiType)
            midiEvents.push_back(*reinterpret_cast<const VstMidiEvent*>(ev));
          else if (ev->type == kVstSysExType)
          {
            const auto* sx = reinterpret_cast<const VstMidiSysexEvent*>(ev);
            EXPECT_EQ(sx->byteSize, 48);
            sysexDumps.emplace_back(sx->sysexDump, sx->sysexDump + sx->dumpBytes);
          }
        }
        return eventsAnswer;
      }
      default:
        return 0;
    }
  }

  std::vector<VstInt32> Opcodes() const
  {
    std::vector<VstInt32> ops;
    for (const RecordedCall& c : calls) ops.push_back(c.opcode);
    return ops;
  }
};

// Drives one effect record as a host would.
class HostedEffect
{
public:
  HostedEffect(AEffect* effect, TestHost* host) : effect(effect)
  {
    if (effect) effect->user = host;
  }
  ~HostedEffect() { Close(); }
  HostedEffect(const HostedEffect&) = delete;
  HostedEffect& operator=(const HostedEffect&) = delete;

  VstIntPtr Dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f)
  {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
  }

  std::string Text(VstInt32 opcode, VstInt32 index = 0)
  {
    char buf[256];
    std::memset(buf, 0, sizeof(buf));
    Dispatch(opcode, index, 0, buf);
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

  void Close()
  {
    if (effect) effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    effect = nullptr;
  }

  AEffect* effect;
};
