// The shared binary writer and reader: exact byte layout, and refusal of
// hostile input before anything is allocated for it.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

#include "persist/BinaryIO.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/VXNNCommon.h"

using VXNeural::IOException;
using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;

namespace {

std::string Bytes(const std::stringstream& s) { return s.str(); }

// Runs a read that must fail: checks the message on standard error and that
// an IOException was thrown by pointer.
template <typename F>
void ExpectReadFailure(F&& read, const std::string& message) {
  testing::internal::CaptureStderr();
  bool thrown = false;
  try {
    read();
  } catch (IOException* e) {
    delete e;
    thrown = true;
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(thrown);
  EXPECT_EQ(err, message);
}

}  // namespace

TEST(BinaryLayout, IntsAndDoublesAreLittleEndian) {
  std::stringstream s;
  BinWriter w(s);
  w.Tag("AB").Int(0x01020304).Int(-1).Double(1.0).Bool(true).Bool(false);
  const std::string b = Bytes(s);
  ASSERT_EQ(b.size(), 2u + 4 + 4 + 8 + 4 + 4);
  EXPECT_EQ(w.Bytes(), 26);
  EXPECT_EQ(b.substr(0, 2), "AB");
  EXPECT_EQ(b.substr(2, 4), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(b.substr(6, 4), std::string("\xff\xff\xff\xff", 4));
  // 1.0 is 0x3FF0000000000000.
  EXPECT_EQ(b.substr(10, 8), std::string("\0\0\0\0\0\0\xf0\x3f", 8));
  EXPECT_EQ(b.substr(18, 4), std::string("\x01\0\0\0", 4));
  EXPECT_EQ(b.substr(22, 4), std::string("\0\0\0\0", 4));
}

TEST(BinaryLayout, StringIsLengthThenBytesWithoutTerminator) {
  std::stringstream s;
  BinWriter w(s);
  w.String("h\xc3\xa9").String("");
  EXPECT_EQ(Bytes(s), std::string("\x03\0\0\0h\xc3\xa9\0\0\0\0", 11));
}

TEST(BinaryRoundTrip, EveryPrimitiveReadsBackExactly) {
  const double values[] = {0.0, -0.0, 1e-310, -DBL_MAX, DBL_MAX, VXMV::gMissingValue,
                           std::numeric_limits<double>::infinity(), 0.1};
  std::stringstream s;
  BinWriter w(s);
  w.Tag("TAG1").Int(std::numeric_limits<int32_t>::min()).String(std::string("a\0b", 3));
  w.Doubles(values, 8).Ints({7, -7});
  double nan = std::nan("0x7");
  w.Double(nan);

  BinReader r(s, "Thing");
  r.ExpectTag("TAG1");
  EXPECT_EQ(r.Int(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(r.String(), std::string("a\0b", 3));
  const std::vector<double> back = r.Doubles(8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(std::memcmp(&back[i], &values[i], 8), 0) << i;
  }
  EXPECT_EQ(r.Ints(2), (std::vector<int>{7, -7}));
  const double nanBack = r.Double();
  EXPECT_EQ(std::memcmp(&nanBack, &nan, 8), 0);
  EXPECT_EQ(r.Bytes(), w.Bytes());
}

TEST(BinaryRoundTrip, OnlyOneReadsAsTrue) {
  std::stringstream s;
  BinWriter(s).Int(1).Int(2).Int(0).Int(-1);
  BinReader r(s, "Flags");
  EXPECT_TRUE(r.Bool());
  EXPECT_FALSE(r.Bool());
  EXPECT_FALSE(r.Bool());
  EXPECT_FALSE(r.Bool());
}

TEST(BinaryRefusal, WrongTagNamesTheClass) {
  std::stringstream s("VARX");
  ExpectReadFailure(
      [&] {
        BinReader r(s, "NNVarList");
        r.ExpectTag("VARL");
      },
      "Error reading NNVarList!\n");
}

TEST(BinaryRefusal, TruncatedValuesFail) {
  std::stringstream full;
  BinWriter(full).Int(5).Double(2.5).String("abc");
  const std::string bytes = full.str();
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    std::stringstream s(bytes.substr(0, cut));
    ExpectReadFailure(
        [&] {
          BinReader r(s, "Cut");
          r.Int();
          r.Double();
          r.String();
        },
        "Error reading Cut!\n");
  }
}

TEST(BinaryRefusal, ImplausibleCountsFailBeforeAllocating) {
  // A string length of 2^31-1 with three bytes behind it.
  std::stringstream huge;
  BinWriter(huge).Int(std::numeric_limits<int32_t>::max()).Tag("abc");
  ExpectReadFailure([&] { BinReader(huge, "S").String(); }, "Error reading S!\n");

  std::stringstream negative;
  BinWriter(negative).Int(-3);
  ExpectReadFailure([&] { BinReader(negative, "N").Count(100, 8); }, "Error reading N!\n");

  // 10 doubles claimed, room for only 9.
  std::stringstream shortVec;
  BinWriter w(shortVec);
  w.Int(10);
  for (int i = 0; i < 9; ++i) w.Double(i);
  ExpectReadFailure(
      [&] {
        BinReader r(shortVec, "V");
        r.Doubles(r.Count(1000, 8));
      },
      "Error reading V!\n");

  std::stringstream overMax;
  BinWriter(overMax).Int(101);
  ExpectReadFailure([&] { BinReader(overMax, "M").Count(100, 0); }, "Error reading M!\n");
}

TEST(BinaryRefusal, CountWithinBoundsIsAccepted) {
  std::stringstream s;
  BinWriter w(s);
  w.Int(2).Double(1).Double(2);
  BinReader r(s, "V");
  const int n = r.Count(10, 8);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(r.Doubles(n), (std::vector<double>{1, 2}));
  EXPECT_EQ(r.Remaining(), 0u);
}
