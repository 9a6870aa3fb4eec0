// The in-memory record buffer: reading order and status, and its two saved
// forms including damaged streams.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "DataTestHelpers.h"
#include "common/layouts.h"
#include "common/saved_forms.h"
#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/data/RecordBufferIter.h"

using namespace saved_forms;
using datatest::Values;
using VXCommon_1_2::Record;
using VXNeural::RecordBufferIter;

namespace {

Record Rec(std::vector<double> v) { return Record(std::move(v)); }

// A buffer of width 2 and capacity 4 holding three records, its cursor
// after the first.
std::unique_ptr<RecordBufferIter> Three() {
  auto b = std::make_unique<RecordBufferIter>(2, 4);
  EXPECT_TRUE(b->Add(Rec({1.0, -1.0})));
  EXPECT_TRUE(b->Add(Rec({2.5, VXMV::gMissingValue})));
  EXPECT_TRUE(b->Add(Rec({-0.0, 1e-300})));
  EXPECT_NE(b->Next(), nullptr);
  return b;
}

const std::string kBinaryMessage = "Error reading RecordBufferIter!\n";
const std::string kXmlMessage = "Error restoring VXNeural::RecordBufferIter from XML.\n";

TEST(RecordBufferIter, LastRecordEndsTheDataAsItIsHandedOut) {
  RecordBufferIter b(2, 3);
  EXPECT_EQ(b.GetStatus(), 1) << "a new buffer is empty";
  EXPECT_EQ(b.Rewind(), 1);
  EXPECT_EQ(b.Next(), nullptr);
  ASSERT_TRUE(b.Add(Rec({1, 2})));
  ASSERT_TRUE(b.Add(Rec({3, 4})));
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_TRUE(b.IsGood());
    EXPECT_EQ(Values(*b.Next()), (std::vector<double>{1, 2}));
    EXPECT_TRUE(b.IsGood());
    EXPECT_EQ(Values(*b.Next()), (std::vector<double>{3, 4}));
    EXPECT_FALSE(b.IsGood());
    EXPECT_EQ(b.Next(), nullptr);
    EXPECT_EQ(b.Rewind(), 0);
  }
  // A record added while the cursor is at the end makes the buffer readable
  // again from where it stands.
  EXPECT_EQ(b.Skip(10), 2);
  ASSERT_TRUE(b.Add(Rec({5, 6})));
  EXPECT_TRUE(b.IsGood());
  EXPECT_EQ(Values(*b.Next()), (std::vector<double>{5, 6}));
  b.Rewind();
  EXPECT_EQ(b.Skip(1), 1);
  EXPECT_EQ((*b.Next())[0], 3.0);

  b.Empty();
  EXPECT_EQ(b.GetCount(), 0);
  EXPECT_EQ(b.GetStatus(), 1);
  EXPECT_TRUE(b.Add(Rec({9, 9})));
  EXPECT_EQ((*b.Next())[0], 9.0);
}

// Width, capacity, count, cursor, status, then the records' values bitwise
// (-0.0 and the missing value included).
TEST(RecordBufferIterPersist, LayoutFieldByField) {
  const auto values = [](auto& s) {
    s.I(2).I(4).I(3).I(1).I(0).D(1.0).D(-1.0).D(2.5).D(VXMV::gMissingValue).D(-0.0).D(1e-300);
  };
  layouts::Bytes b;
  layouts::Xml x;
  values(b.Tag("RBI"));
  values(x.Obj("RecordBufferIter"));
  layouts::ExpectLayout(
      *Three(), [] { return std::make_unique<RecordBufferIter>(5, 1); }, b, x.End());
}

TEST(RecordBufferIterPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  const auto three = Three();
  RecordBufferIter b(2, 2);
  b.Add(Rec({42, 43}));
  ExpectReadersRobust(*three, b, {kBinaryMessage}, {kXmlMessage});
  std::vector<std::string> damaged = {stream_faults::Replaced(Saved(*three, false), "RBI", "RBX")};
  // Width, capacity, count, index, status that no buffer has.
  const int headers[][5] = {
      {-2, 4, 1, 0, 0},             // negative width
      {2, -4, 0, 0, 1},             // negative capacity
      {2, 1, 2, 0, 0},              // more records than room
      {2, 4, 1, 2, 0},              // cursor beyond the records
      {2, 4, 1, -1, 0},             // negative cursor
      {2, 4, 1, 0, 2},              // no such status
      {0, 4, 3, 0, 0},              // records of width 0
      {2, 1 << 30, 1 << 30, 0, 0},  // far more records than the stream holds
  };
  for (const auto& h : headers) {
    std::stringstream s;
    VXNeural::detail::BinWriter w(s);
    w.Tag("RBI");
    for (int v : h) w.Int(v);
    w.Double(1.0).Double(2.0);
    damaged.push_back(s.str());
  }
  ExpectAllRefused(b, false, damaged, {kBinaryMessage});
  // A count above the capacity is refused in the XML form too.
  std::stringstream bad;
  VXNeural::detail::XmlWriter w(bad, "RecordBufferIter", 1);
  w.Int(1).Int(0).Int(1).Int(0).Int(0).Double(1.0);
  w.End();
  ExpectAllRefused(
      b, true,
      {bad.str(), stream_faults::Replaced(Saved(*three, true), "RecordBufferIter", "Buffer")},
      {kXmlMessage});
}

}  // namespace
