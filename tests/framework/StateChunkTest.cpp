#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "framework/StateChunk.h"

TEST(StateChunk, WritesLittleEndianAndReadsBack)
{
  StateChunk c;
  EXPECT_EQ(c.PutInt32(0x01020304), 4);
  EXPECT_EQ(c.PutDouble(5.0), 12);
  EXPECT_EQ(c.PutBool(true), 13);
  EXPECT_EQ(c.PutString("-"), 18);
  const uint8_t expected[] = {4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0x14, 0x40, 1, 1, 0, 0, 0, '-'};
  ASSERT_EQ(c.Size(), 18);
  EXPECT_EQ(std::memcmp(c.Data(), expected, 18), 0);

  int32_t i = 0;
  double d = 0;
  bool b = false;
  std::string s;
  EXPECT_EQ(c.GetInt32(&i, 0), 4);
  EXPECT_EQ(c.GetDouble(&d, 4), 12);
  EXPECT_EQ(c.GetBool(&b, 12), 13);
  EXPECT_EQ(c.GetString(&s, 13), 18);
  EXPECT_EQ(i, 0x01020304);
  EXPECT_EQ(d, 5.0);
  EXPECT_TRUE(b);
  EXPECT_EQ(s, "-");

  // Reads that do not lie wholly inside fail and leave their output alone.
  i = 7;
  EXPECT_EQ(c.GetInt32(&i, 15), -1);
  EXPECT_EQ(c.GetInt32(&i, -1), -1);
  EXPECT_EQ(c.GetInt32(&i, INT_MAX), -1);
  EXPECT_EQ(c.GetDouble(&d, 11), -1);
  EXPECT_EQ(c.GetBool(&b, 18), -1);
  EXPECT_EQ(i, 7);

  c.PutChunk(c);  // appending a chunk to itself copies what it held
  ASSERT_EQ(c.Size(), 36);
  EXPECT_EQ(std::memcmp(c.Data() + 18, expected, 18), 0);
}

TEST(StateChunk, StringLengthOddities)
{
  StateChunk c;
  c.PutInt32(0);                                     // 0: empty text
  c.PutInt32(-8);                                    // 4: negative length
  c.PutInt32(5);                                     // 8: "ab\0cd"
  c.PutBytes("ab\0cd", 5);
  c.PutInt32(INT32_MAX);                             // 17: huge
  c.PutInt32(4);                                     // 21: runs past the end
  c.PutBytes("xy", 2);
  std::string s = "kept";
  EXPECT_EQ(c.GetString(&s, 0), 4);
  EXPECT_EQ(s, "");
  s = "kept";
  EXPECT_EQ(c.GetString(&s, 4), -1) << "negative lengths never move a reader back";
  EXPECT_EQ(s, "kept");
  EXPECT_EQ(c.GetString(&s, 8), 17);
  EXPECT_EQ(s, "ab") << "text stops at a zero byte, position does not";
  s = "kept";
  EXPECT_EQ(c.GetString(&s, 17), -1);
  EXPECT_EQ(c.GetString(&s, 21), -1);
  EXPECT_EQ(c.GetString(&s, 26), -1);
  EXPECT_EQ(s, "kept");
}

TEST(StateChunk, GrowthClearAndResize)
{
  StateChunk c;
  c.PutInt32(1);
  EXPECT_EQ(c.Capacity(), 4000);
  const uint8_t* before = c.Data();
  c.Resize(4000);
  EXPECT_EQ(c.Data(), before) << "no growth while the capacity suffices";
  c.Resize(5000);
  EXPECT_EQ(c.Capacity(), 8096);
  EXPECT_EQ(c.Data()[4999], 0);
  c.Resize(20000000);
  EXPECT_EQ(c.Capacity(), 24190880) << "headroom capped at 4 MiB";
  EXPECT_EQ((c.Capacity() + 96) % 4096, 0);
  EXPECT_EQ(c.GetInt32(nullptr, 0), 4);

  EXPECT_FALSE(c.Resize(-1));
  EXPECT_EQ(c.Size(), 20000000);
  EXPECT_EQ(c.PutBytes("x", INT_MAX), 20000000) << "a write past 2 GiB is refused, not wrapped";
  c.Resize(2);
  EXPECT_EQ(c.Size(), 2);
  c.Clear();
  EXPECT_EQ(c.Size(), 0);
  EXPECT_EQ(c.Capacity(), 0);
  EXPECT_EQ(c.Data(), nullptr);
  EXPECT_EQ(c.PutString(nullptr), 4);
}
