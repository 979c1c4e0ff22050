#include "socket/send_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace dovrik {
namespace {

std::string Unsent(TBuffer& b) {
  int len = 0;
  void* p = b.Peek(len);
  return p == nullptr ? std::string()
                      : std::string(static_cast<char*>(p), static_cast<size_t>(len));
}

TEST(TBuffer, WritePeekRemoveKeepTheInvariant) {
  TBuffer b(8);
  EXPECT_EQ(b.Write("abcdef", 6), 6);
  EXPECT_EQ(b.Write("ghijk", 5), 2);  // only what fits
  EXPECT_EQ(b.Write("z", 1), 0);      // full
  EXPECT_EQ(Unsent(b), "abcdefgh");
  EXPECT_EQ(b.Remove(3), 3);
  EXPECT_EQ(Unsent(b), "defgh");
  EXPECT_EQ(b.Write("z", 1), 0);  // freed front space isn't reused before the block drains
  EXPECT_EQ(b.Remove(100), 5);
  EXPECT_EQ(b.ReadPos(), 0);
  EXPECT_EQ(b.WritePos(), 0);
  int len = -1;
  EXPECT_EQ(b.Peek(len), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(b.Remove(1), 0);
}

TEST(TBuffer, SetSizeDefaultsAndKeepsContent) {
  TBuffer b(0);
  EXPECT_EQ(b.Size(), 1514);
  b.Write("hello", 5);
  b.Remove(1);
  b.SetSize(16);
  EXPECT_EQ(b.Size(), 16);
  EXPECT_EQ(Unsent(b), "ello");
  b.SetSize(3);  // below the written bytes: clipped, never past the end
  EXPECT_EQ(b.WritePos(), 3);
  EXPECT_EQ(Unsent(b), "el");
}

}  // namespace
}  // namespace dovrik
