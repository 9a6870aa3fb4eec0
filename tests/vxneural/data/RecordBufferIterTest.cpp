// The in-memory record buffer: reading order and status, refusals, filling
// from a source, and its two saved forms including damaged streams.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "DataTestHelpers.h"
#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/data/RecordBufferIter.h"

using datatest::ExpectReadFailure;
using datatest::Values;
using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXNeural::RecordBufferIter;

namespace {

Record Rec(std::vector<double> v) { return Record(std::move(v)); }

// A buffer of width 2 and capacity 4 holding three records, its cursor
// after the first.
void FillThree(RecordBufferIter& b) {
  ASSERT_TRUE(b.Add(Rec({1.0, -1.0})));
  ASSERT_TRUE(b.Add(Rec({2.5, VXMV::gMissingValue})));
  ASSERT_TRUE(b.Add(Rec({-0.0, 1e-300})));
  ASSERT_NE(b.Next(), nullptr);
}

void ExpectSameContent(RecordBufferIter& a, RecordBufferIter& b) {
  EXPECT_EQ(a.GetWidth(), b.GetWidth());
  EXPECT_EQ(a.GetCapacity(), b.GetCapacity());
  EXPECT_EQ(a.GetCount(), b.GetCount());
  EXPECT_EQ(a.GetStatus(), b.GetStatus());
  for (int i = 0; i < a.GetCount(); ++i) {
    const std::vector<double> va = Values(*a.GetRecordAt(i)), vb = Values(*b.GetRecordAt(i));
    ASSERT_EQ(va.size(), vb.size());
    // Bitwise, so that -0.0 and the missing value count.
    EXPECT_EQ(std::memcmp(va.data(), vb.data(), va.size() * sizeof(double)), 0) << "record " << i;
  }
}

std::string Binary(const RecordBufferIter& b) {
  std::stringstream s;
  b.WriteObject(s);
  return s.str();
}

std::string Xml(const RecordBufferIter& b) {
  std::stringstream s;
  b.WriteObjectXML(s, 2);
  return s.str();
}

}  // namespace

TEST(RecordBufferIterReading, LastRecordEndsTheDataAsItIsHandedOut) {
  RecordBufferIter b(2, 3);
  EXPECT_EQ(b.GetStatus(), 1) << "a new buffer is empty";
  EXPECT_EQ(b.Next(), nullptr);
  ASSERT_TRUE(b.Add(Rec({1, 2})));
  ASSERT_TRUE(b.Add(Rec({3, 4})));
  EXPECT_TRUE(b.IsGood());
  EXPECT_EQ(Values(*b.Next()), (std::vector<double>{1, 2}));
  EXPECT_TRUE(b.IsGood());
  EXPECT_EQ(Values(*b.Next()), (std::vector<double>{3, 4}));
  EXPECT_FALSE(b.IsGood());
  EXPECT_EQ(b.GetStatus(), 1);
  EXPECT_EQ(b.Next(), nullptr);

  EXPECT_EQ(b.Rewind(), 0);
  EXPECT_EQ(Values(*b.Next()), (std::vector<double>{1, 2}));
  // A record added while the cursor is at the end makes the buffer readable
  // again from where it stands.
  b.Next();
  ASSERT_FALSE(b.IsGood());
  ASSERT_TRUE(b.Add(Rec({5, 6})));
  EXPECT_TRUE(b.IsGood());
  EXPECT_EQ(Values(*b.Next()), (std::vector<double>{5, 6}));
  EXPECT_FALSE(b.IsGood());
}

TEST(RecordBufferIterReading, RewindOfAnEmptyBufferStaysAtEnd) {
  RecordBufferIter b(4, 2);
  EXPECT_EQ(b.Rewind(), 1);
  EXPECT_EQ(b.Next(), nullptr);
}

TEST(RecordBufferIterRefusals, FullNullWrongWidthAndUnusable) {
  RecordBufferIter b(2, 1);
  EXPECT_FALSE(b.Add(Rec({1, 2, 3})));
  EXPECT_FALSE(b.Add(static_cast<const Record*>(nullptr)));
  EXPECT_EQ(b.GetCount(), 0);
  const Record r = Rec({1, 2});
  EXPECT_TRUE(b.Add(&r));
  EXPECT_TRUE(b.IsFull());
  EXPECT_FALSE(b.Add(r));
  EXPECT_EQ(b.GetCount(), 1);

  for (auto [width, capacity] : {std::pair{-1, 2}, std::pair{2, -1}}) {
    RecordBufferIter bad(width, capacity);
    EXPECT_EQ(bad.GetStatus(), 3);
    EXPECT_FALSE(bad.Add(Rec({1, 2})));
    EXPECT_EQ(bad.Rewind(), 3);
    EXPECT_EQ(bad.Next(), nullptr);
  }
  RecordBufferIter zeroWidth(0, 3);
  EXPECT_FALSE(zeroWidth.Add(Record(0)));
}

TEST(RecordBufferIterFill, TakesOnlyWhatFitsAndLosesNothing) {
  std::vector<Record> src;
  for (int i = 0; i < 5; ++i) src.push_back(Rec({double(i), double(-i)}));
  VectorRecordIter source(src);
  RecordBufferIter b(2, 3);
  EXPECT_EQ(b.Fill(source, 2), 2);
  EXPECT_EQ(b.Fill(source, 10), 1) << "one slot was left";
  EXPECT_EQ(b.Fill(source, 10), 0) << "a full buffer reads nothing";
  // The fourth record is still the source's next one.
  EXPECT_EQ((*source.Next())[0], 3.0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ((*b.GetRecordAt(i))[0], double(i));
  EXPECT_EQ(b.GetRecordAt(3), nullptr);
  EXPECT_EQ(b.GetRecordAt(-1), nullptr);
}

TEST(RecordBufferIterFill, SkipAndEmpty) {
  RecordBufferIter b(1, 4);
  for (int i = 0; i < 4; ++i) b.Add(Rec({double(i)}));
  EXPECT_EQ(b.Skip(3), 3);
  EXPECT_EQ((*b.Next())[0], 3.0);
  EXPECT_EQ(b.Skip(1), 0);
  b.Rewind();
  EXPECT_EQ(b.Skip(10), 4);
  EXPECT_FALSE(b.IsGood());

  b.Empty();
  EXPECT_EQ(b.GetCount(), 0);
  EXPECT_EQ(b.GetStatus(), 1);
  EXPECT_EQ(b.Next(), nullptr);
  EXPECT_TRUE(b.Add(Rec({9})));
  EXPECT_EQ((*b.Next())[0], 9.0);
}

TEST(RecordBufferIterBinary, LayoutIsTagFiveIntsThenRecords) {
  RecordBufferIter b(2, 4);
  FillThree(b);
  const std::string bytes = Binary(b);
  ASSERT_EQ(bytes.size(), 3u + 5 * 4 + 3 * 2 * 8);
  EXPECT_EQ(bytes.substr(0, 3), "RBI");
  std::stringstream in(bytes.substr(3, 20));
  VXNeural::detail::BinReader r(in, "test");
  EXPECT_EQ(r.Int(), 2);  // width
  EXPECT_EQ(r.Int(), 4);  // capacity
  EXPECT_EQ(r.Int(), 3);  // count
  EXPECT_EQ(r.Int(), 1);  // cursor index
  EXPECT_EQ(r.Int(), 0);  // status
  double first;
  std::memcpy(&first, bytes.data() + 23, 8);
  EXPECT_EQ(first, 1.0);

  // A buffer without capacity writes width 0.
  const std::string empty = Binary(RecordBufferIter(7, 0));
  ASSERT_EQ(empty.size(), 23u);
  EXPECT_EQ(empty.substr(3, 4), std::string(4, '\0'));
}

TEST(RecordBufferIterBinary, RoundTripKeepsRecordsCursorAndStatus) {
  RecordBufferIter b(2, 4);
  FillThree(b);
  std::stringstream s;
  const int written = b.WriteObject(s);
  EXPECT_EQ(written, static_cast<int>(s.str().size()));

  // A reader of another shape takes the stored one.
  RecordBufferIter back(5, 1);
  EXPECT_EQ(back.ReadObject(s), written);
  ExpectSameContent(b, back);
  EXPECT_EQ(Values(*back.Next()), Values(*b.GetRecordAt(1)));
  // Room beyond the stored records is there to be used.
  EXPECT_TRUE(back.Add(Rec({7, 8})));
  EXPECT_FALSE(back.Add(Rec({9, 9})));
  EXPECT_EQ(Values(*back.GetRecordAt(3)), (std::vector<double>{7, 8}));
}

TEST(RecordBufferIterXml, RoundTripKeepsRecordsCursorAndStatus) {
  RecordBufferIter b(2, 4);
  FillThree(b);
  b.Next();
  b.Next();
  ASSERT_EQ(b.GetStatus(), 1);
  std::stringstream s(Xml(b));
  RecordBufferIter back(2, 4);
  EXPECT_EQ(back.ReadObjectXML(s), 5 + 6);
  ExpectSameContent(b, back);
  EXPECT_EQ(back.Next(), nullptr);
  EXPECT_EQ(back.Rewind(), 0);
  EXPECT_EQ(Values(*back.Next()), (std::vector<double>{1.0, -1.0}));
}

TEST(RecordBufferIterCorruption, WrongBinaryTag) {
  std::string bytes = Binary(RecordBufferIter(1, 1));
  bytes[2] = 'X';
  std::stringstream in(bytes);
  RecordBufferIter b(1, 1);
  ExpectReadFailure([&] { b.ReadObject(in); }, "Error reading RecordBufferIter!\n");
}

TEST(RecordBufferIterCorruption, EveryTruncationFailsAndLeavesTheBuffer) {
  RecordBufferIter source(2, 4);
  FillThree(source);
  const std::string bytes = Binary(source);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    RecordBufferIter b(2, 2);
    b.Add(Rec({42, 43}));
    std::stringstream in(bytes.substr(0, n));
    ExpectReadFailure([&] { b.ReadObject(in); }, "Error reading RecordBufferIter!\n");
    EXPECT_EQ(b.GetCount(), 1) << "prefix " << n;
    EXPECT_EQ(b.GetCapacity(), 2);
    EXPECT_EQ((*b.GetRecordAt(0))[1], 43.0);
  }
}

TEST(RecordBufferIterCorruption, ImplausibleHeadersAreRefused) {
  // width, capacity, count, index, status
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
    RecordBufferIter b(2, 4);
    ExpectReadFailure([&] { b.ReadObject(s); }, "Error reading RecordBufferIter!\n");
    EXPECT_EQ(b.GetCount(), 0);
  }
}

TEST(RecordBufferIterCorruption, XmlTruncatedOrRenamed) {
  RecordBufferIter source(2, 4);
  FillThree(source);
  const std::string xml = Xml(source);
  const std::string message = "Error restoring VXNeural::RecordBufferIter from XML.\n";
  for (std::size_t n = 0; n < xml.size(); n += 7) {
    std::stringstream in(xml.substr(0, n));
    RecordBufferIter b(2, 4);
    ExpectReadFailure([&] { b.ReadObjectXML(in); }, message);
    EXPECT_EQ(b.GetCount(), 0);
  }
  std::string renamed = xml;
  renamed.replace(renamed.find("RecordBufferIter"), 6, "Buffer");
  std::stringstream in(renamed);
  RecordBufferIter b(2, 4);
  ExpectReadFailure([&] { b.ReadObjectXML(in); }, message);

  // A count above the capacity is refused in this form too.
  std::stringstream bad;
  {
    VXNeural::detail::XmlWriter w(bad, "RecordBufferIter", 2);
    w.Int(1).Int(0).Int(1).Int(0).Int(0).Double(1.0);
    w.End();
  }
  ExpectReadFailure([&] { b.ReadObjectXML(bad); }, message);
}

TEST(RecordBufferIterDisplay, NamesEveryField) {
  RecordBufferIter b(2, 2);
  b.Add(Rec({0.25, 3}));
  std::ostringstream out;
  b.Display(out);
  const std::string text = out.str();
  for (const char* label :
       {"Start of RecordBufferIter display\n", "fpBuffer = ", "fCapacity = 2\n", "fCount = 1\n",
        "fpCurRecord = ", "fIndCurRecord = 0\n", "fStatus = 0\n", "Rec.0: 0.25 3\n",
        "End of RecordBufferIter display\n"})
    EXPECT_NE(text.find(label), std::string::npos) << label;
}
