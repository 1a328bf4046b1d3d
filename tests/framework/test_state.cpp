#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/framework/TestPlug.h"

namespace
{
const double kDefaults[11] = {5, 0, 5, 0, 5, 0, 0, 0, 1, 0, 0};

std::vector<uint8_t> Bytes(const StateChunk& c) { return {c.Data(), c.Data() + c.Size()}; }

std::vector<uint8_t> DefaultStateBytes()
{
  std::vector<uint8_t> out;
  for (double v : kDefaults)
  {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i) out.push_back((uint8_t)(u >> (8 * i)));
  }
  return out;
}

void ExpectValues(const IPlugBase& plug, const double (&values)[11])
{
  for (int i = 0; i < 11; ++i) EXPECT_EQ(plug.ParamAt(i)->Value(), values[i]) << "param " << i;
}
}  // namespace

TEST(State, ParameterStateRoundTripAndShortChunks)
{
  TestPlug plug;
  StateChunk state;
  ASSERT_TRUE(plug.SaveState(state));
  EXPECT_EQ(Bytes(state), DefaultStateBytes());

  // A full load: every value and every notification, under the lock.
  TestPlug other;
  other.ParamAt(3)->SetClamped(4);
  EXPECT_EQ(other.LoadState(state, 0), 88);
  ExpectValues(other, kDefaults);
  EXPECT_EQ(other.changed, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_TRUE(other.lockHeldDuringChange);

  // 87 bytes: the first ten load, the eleventh becomes 0.
  StateChunk shortState;
  for (int i = 0; i < 11; ++i) shortState.PutDouble(i == 10 ? 1.0 : i % 2);
  shortState.Resize(87);
  EXPECT_EQ(other.LoadState(shortState, 0), -1);
  const double loaded[11] = {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};
  ExpectValues(other, loaded);

  // From -1: nothing changes, everything is notified.
  other.changed.clear();
  other.ParamAt(10)->SetClamped(1);
  EXPECT_EQ(other.LoadState(state, -1), -1);
  EXPECT_EQ(other.ParamAt(10)->Value(), 1.0);
  EXPECT_EQ(other.changed.size(), 11u);

  // Hostile values: NaN takes the default, infinities and strays are clamped.
  StateChunk hostile;
  const double values[11] = {NAN, INFINITY, -INFINITY, 99, -3, 2.5, NAN, 1e9, NAN, 0.5, 7};
  for (double v : values) hostile.PutDouble(v);
  EXPECT_EQ(other.LoadState(hostile, 0), 88);
  const double expected[11] = {5, 4, 0, 4, 0, 2.5, 0, 12, 1, 0.5, 1};
  ExpectValues(other, expected);
}

TEST(State, BankAndVersionHeaderBytes)
{
  TestPlug plug;
  StateChunk bank;
  ASSERT_TRUE(plug.SerializePresets(bank));
  std::vector<uint8_t> expected = {1, 0, 0, 0, '-', 1};
  const std::vector<uint8_t> state = DefaultStateBytes();
  expected.insert(expected.end(), state.begin(), state.end());
  EXPECT_EQ(Bytes(bank), expected);

  StateChunk chunk;
  IPlugBase::WriteVersionHeader(chunk);
  EXPECT_EQ(Bytes(chunk), (std::vector<uint8_t>{0x74, 0x66, 0x66, 0x70, 0, 0, 1, 0}));
  chunk.PutChunk(bank);
  int pos = 0;
  EXPECT_EQ(IPlugBase::ReadVersionHeader(chunk, &pos), 0x00010000);
  EXPECT_EQ(pos, 8);
  pos = 0;
  EXPECT_EQ(IPlugBase::ReadVersionHeader(bank, &pos), 0) << "no header";
  EXPECT_EQ(pos, 0);
  chunk.Resize(6);
  EXPECT_EQ(IPlugBase::ReadVersionHeader(chunk, &pos), 0) << "magic without version";
  EXPECT_EQ(pos, -1);

  // A bank written after a change restores values and name in a fresh instance.
  plug.ParamAt(2)->SetClamped(8);
  plug.ModifyCurrentPreset("Bright");
  bank.Clear();
  plug.SerializePresets(bank);
  TestPlug restored;
  EXPECT_EQ(restored.UnserializePresets(bank, 0), bank.Size());
  EXPECT_STREQ(restored.PresetName(0), "Bright");
  EXPECT_EQ(restored.ParamAt(2)->Value(), 8.0);
}

TEST(State, PresetSlots)
{
  TestPlug plug;
  plug.ParamAt(0)->SetClamped(9);
  EXPECT_TRUE(plug.RecallPreset(0));
  EXPECT_EQ(plug.ParamAt(0)->Value(), 5.0);
  EXPECT_FALSE(plug.RecallPreset(1));
  EXPECT_FALSE(plug.RecallPreset(-1));

  plug.ModifyCurrentPreset("");
  EXPECT_STREQ(plug.PresetName(0), "-");
  plug.ModifyCurrentPreset(std::string(300, 'n').c_str());
  EXPECT_EQ(std::strlen(plug.PresetName(0)), 255u);

  TestPlug three("1-1 2-2", 3, false);
  EXPECT_STREQ(three.PresetName(2), "empty");
  EXPECT_TRUE(three.RecallPreset(2));
  EXPECT_STREQ(three.PresetName(2), "user preset 1");
  EXPECT_TRUE(three.RecallPreset(0));
  EXPECT_STREQ(three.PresetName(0), "user preset 2");
  EXPECT_EQ(three.CurrentPresetIndex(), 0);
  EXPECT_EQ(three.PresetAt(0)->state.Size(), 88);

  // A slot that a bank marked unused and then gets recalled stores the current
  // parameters, not the old bytes followed by new ones.
  StateChunk bank;
  bank.PutString("a");
  bank.PutBool(false);
  bank.PutString("b");
  bank.PutBool(false);
  bank.PutString("c");
  bank.PutBool(false);
  three.ParamAt(0)->SetClamped(2);
  EXPECT_EQ(three.UnserializePresets(bank, 0), bank.Size());
  EXPECT_STREQ(three.PresetName(0), "user preset 1") << "recalled after the load";
  ASSERT_EQ(three.PresetAt(0)->state.Size(), 88);
  three.ParamAt(0)->SetClamped(7);
  EXPECT_TRUE(three.RecallPreset(0));
  EXPECT_EQ(three.ParamAt(0)->Value(), 2.0);

  three.FillDefaultPresets(nullptr, 1 << 30);  // returns once every slot is used
  EXPECT_STREQ(three.PresetName(1), "Empty");
  EXPECT_STREQ(three.PresetName(2), "Empty");
  EXPECT_TRUE(three.PresetAt(2)->used);
}

TEST(State, HostileBanksStayInsideTheChunk)
{
  TestPlug plug("1-1 2-2", 3, false);
  plug.FillDefaultPresets("keep", 3);
  for (int32_t length : {-8, -100, INT32_MAX, INT32_MAX - 3, 50})
  {
    StateChunk bank;
    bank.PutString("first");
    bank.PutBool(false);
    bank.PutInt32(length);
    bank.PutBytes("xxxx", 4);
    EXPECT_EQ(plug.UnserializePresets(bank, 0), -1) << length;
    EXPECT_STREQ(plug.PresetName(1), "keep") << "an unreadable name is not replaced";
  }
  StateChunk longName;
  longName.PutString(std::string(300, 'q').c_str());
  longName.PutBool(true);
  EXPECT_EQ(plug.UnserializePresets(longName, 0), -1) << "no state follows the name";
  EXPECT_EQ(std::strlen(plug.PresetName(0)), 255u);

  // Random bytes, some behind a valid header or a valid bank prefix.
  std::mt19937 rng(20240607);
  TestPlug fuzz("1-1 2-2", 3);
  fuzz.probeLock = false;
  for (int iter = 0; iter < 3000; ++iter)
  {
    StateChunk chunk;
    if (iter % 3 == 0) IPlugBase::WriteVersionHeader(chunk);
    if (iter % 5 == 0) chunk.PutString("x");
    const int n = (int)(rng() % 200);
    for (int i = 0; i < n; ++i)
    {
      // Plenty of 0xFF and 0x7F bytes make negative and huge lengths.
      const uint8_t byte = (uint8_t)(rng() % 4 ? rng() : (rng() % 2 ? 0xFF : 0x7F));
      chunk.PutBytes(&byte, 1);
    }
    int pos = 0;
    IPlugBase::ReadVersionHeader(chunk, &pos);
    const int end = iter % 2 ? fuzz.UnserializePresets(chunk, pos) : fuzz.LoadState(chunk, pos);
    ASSERT_GE(end, -1);
    ASSERT_LE(end, chunk.Size());
    for (int i = 0; i < 11; ++i)
    {
      const ParamDef* p = fuzz.ParamAt(i);
      ASSERT_TRUE(p->Value() >= p->Min() && p->Value() <= p->Max()) << iter << ' ' << i;
    }
    for (int s = 0; s < 3; ++s) ASSERT_LT(std::strlen(fuzz.PresetName(s)), 256u);
  }
}
