#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "framework/StateChunk.h"

TEST(StateChunk, LittleEndianLayoutAndBoundedReads)
{
  StateChunk c;
  c.PutInt32(0x01020304);
  c.PutDouble(5.0);
  c.PutBool(true);
  EXPECT_EQ(c.PutString("-"), 18);
  const uint8_t expected[] = {4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0x14, 0x40, 1, 1, 0, 0, 0, '-'};
  ASSERT_EQ(c.Size(), 18);
  EXPECT_EQ(std::memcmp(c.Data(), expected, 18), 0);

  double d = 0;
  EXPECT_EQ(c.GetDouble(&d, 4), 12);
  EXPECT_EQ(d, 5.0);
  // Reads not wholly inside fail and leave their output alone.
  int32_t i = 7;
  for (int pos : {15, -1, INT_MAX}) EXPECT_EQ(c.GetInt32(&i, pos), -1) << pos;
  EXPECT_EQ(i, 7);
  EXPECT_EQ(c.GetBool(nullptr, 18), -1);

  c.PutChunk(c);  // appending a chunk to itself copies what it held
  ASSERT_EQ(c.Size(), 36);
  EXPECT_EQ(std::memcmp(c.Data() + 18, expected, 18), 0);
}

TEST(StateChunk, StringLengthOddities)
{
  StateChunk c;
  c.PutInt32(0);          // 0: empty text
  c.PutInt32(-8);         // 4: negative length
  c.PutInt32(5);          // 8: "ab\0cd"
  c.PutBytes("ab\0cd", 5);
  c.PutInt32(INT32_MAX);  // 17: huge
  c.PutInt32(4);          // 21: runs past the end
  c.PutBytes("xy", 2);
  std::string s = "kept";
  EXPECT_EQ(c.GetString(&s, 0), 4);
  EXPECT_EQ(s, "");
  EXPECT_EQ(c.GetString(&s, 8), 17);
  EXPECT_EQ(s, "ab") << "text stops at a zero byte, the position does not";
  s = "kept";
  // A negative length never moves a reader backwards.
  for (int pos : {4, 17, 21, 26}) EXPECT_EQ(c.GetString(&s, pos), -1) << pos;
  EXPECT_EQ(s, "kept");
}

TEST(StateChunk, GrowthClearAndResize)
{
  StateChunk c;
  c.PutInt32(1);
  EXPECT_EQ(c.Capacity(), 4000);
  const uint8_t* before = c.Data();
  EXPECT_TRUE(c.Resize(4000));
  EXPECT_EQ(c.Data(), before) << "no growth while the capacity suffices";
  EXPECT_TRUE(c.Resize(5000));
  EXPECT_EQ(c.Capacity(), 8096);
  EXPECT_EQ(c.Data()[4999], 0);
  EXPECT_TRUE(c.Resize(20000000));
  EXPECT_EQ(c.Capacity(), 24190880) << "headroom capped at 4 MiB";

  EXPECT_FALSE(c.Resize(-1));
  EXPECT_EQ(c.PutBytes("x", INT_MAX), 20000000) << "a write past 2 GiB is refused, not wrapped";
  c.Clear();
  EXPECT_EQ(c.Capacity(), 0);
  EXPECT_EQ(c.Data(), nullptr);
  EXPECT_EQ(c.PutString(nullptr), 4);
}
