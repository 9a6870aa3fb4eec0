// The shared binary writer and reader: exact byte layout, and refusal of
// hostile input before anything is allocated for it; the XML reader's
// counts are bounded by the stream as well.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>

#include "common/stream_faults.h"
#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"

using stream_faults::ReadFrom;
using stream_faults::RefusedWith;
using VXNeural::detail::BinReader;
using VXNeural::detail::BinWriter;

namespace {

std::string Written(const std::function<void(BinWriter&)>& write) {
  std::stringstream s;
  BinWriter w(s);
  write(w);
  return s.str();
}

// Little-endian fields without padding or terminators, read back bit for
// bit; every truncation of the stream is refused.
TEST(BinaryIO, LayoutRoundTripAndTruncation) {
  const double values[] = {0.0,      -0.0, 1e-310,         -DBL_MAX, DBL_MAX, VXMV::gMissingValue,
                           HUGE_VAL, 0.1,  std::nan("0x7")};
  const std::string nul("h\0\xe9", 3);
  const std::string bytes = Written([&](BinWriter& w) {
    w.Tag("AB").Int(0x01020304).Int(INT32_MIN).Double(1.0).Bool(true).Bool(false);
    w.String(nul).String("").Doubles(values, 9).Ints({2, -1, 7});
    EXPECT_EQ(w.Bytes(), 37 + 72 + 12);
  });
  // 1.0 is 0x3FF0000000000000; a string is its length, then its bytes.
  EXPECT_EQ(bytes.substr(0, 37), std::string("AB\x04\x03\x02\x01\0\0\0\x80\0\0\0\0\0\0\xf0\x3f"
                                             "\x01\0\0\0\0\0\0\0\x03\0\0\0h\0\xe9\0\0\0\0",
                                             37));
  const auto readAll = [&](std::istream& in) {
    BinReader r(in, "Thing");
    r.ExpectTag("AB");
    EXPECT_EQ(r.Int(), 0x01020304);
    EXPECT_EQ(r.Int(), INT32_MIN);
    EXPECT_EQ(r.Double(), 1.0);
    EXPECT_TRUE(r.Bool());
    EXPECT_FALSE(r.Bool());
    EXPECT_EQ(r.String(), nul);
    EXPECT_EQ(r.String(), "");
    const std::vector<double> back = r.Doubles(9);
    EXPECT_EQ(std::memcmp(back.data(), values, sizeof values), 0);
    EXPECT_FALSE(r.Bool() || r.Bool()) << "only 1 reads as true";
    EXPECT_EQ(r.Ints(1), std::vector<int>{7});
    EXPECT_EQ(r.Bytes(), 37 + 72 + 12);
    EXPECT_EQ(r.Remaining(), 0u);
  };
  EXPECT_FALSE(ReadFrom(bytes, readAll).threw);
  stream_faults::ExpectTruncationsRefused(
      bytes, {"Error reading Thing!\n"},
      [&](const std::string& cut) { return ReadFrom(cut, readAll); });
}

TEST(BinaryRefusal, HostileInputNamesTheClass) {
  struct Case {
    const char* what;
    std::string bytes;
    std::function<void(BinReader&)> read;
  };
  const Case cases[] = {
      {"wrong tag", "VARX", [](BinReader& r) { r.ExpectTag("VARL"); }},
      {"string longer than the ceiling", Written([](BinWriter& w) { w.Int(INT32_MAX).Tag("abc"); }),
       [](BinReader& r) { r.String(); }},
      {"negative count", Written([](BinWriter& w) { w.Int(-3); }),
       [](BinReader& r) { r.Count(100, 8); }},
      {"count above the ceiling", Written([](BinWriter& w) { w.Int(101); }),
       [](BinReader& r) { r.Count(100, 0); }},
      {"10 doubles counted, 9 present",
       Written([](BinWriter& w) { w.Int(10).Doubles(std::vector<double>(9, 1.0)); }),
       [](BinReader& r) { r.Count(1000, 8); }},
  };
  for (const Case& c : cases) {
    const auto outcome = ReadFrom(c.bytes, [&](std::istream& in) {
      BinReader r(in, "NNVarList");
      c.read(r);
    });
    EXPECT_TRUE(RefusedWith(outcome, {"Error reading NNVarList!\n"})) << c.what;
  }
  // The same count within bounds is accepted.
  std::stringstream s(Written([](BinWriter& w) { w.Int(2).Double(1).Double(2); }));
  BinReader r(s, "V");
  EXPECT_EQ(r.Doubles(r.Count(10, 8)), (std::vector<double>{1, 2}));
}

// A count is refused when the rest of the stream cannot hold that many
// values, before a reader sizes anything by it: 9 values cannot back 1000.
TEST(XmlRefusal, ACountBeyondTheStreamIsRefused) {
  for (const int count : {2, 1000}) {
    std::stringstream s;
    VXNeural::detail::XmlWriter w(s, "Thing", 0);
    w.Int(count).Doubles(std::vector<double>(9, 1.0)).End();
    const auto outcome = ReadFrom(s.str(), [](std::istream& in) {
      VXNeural::detail::XmlReader r(in, "Thing", "Thing");
      r.Count(1 << 20);
    });
    EXPECT_EQ(outcome.threw, count == 1000) << count;
    if (outcome.threw) {
      EXPECT_TRUE(RefusedWith(outcome, {"Failure reading Thing!\n"}));
    }
  }
}

}  // namespace
