// The record sources the preparator hands over. The temporary-file source:
// whole records read in blocks, on either side of a block boundary; the end
// found whether or not it falls on one; a damaged tail that ends the data in
// error after the whole records before it; and rewinding. The in-memory
// buffer: reading order and status, and its two saved forms including
// damaged streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DataTestHelpers.h"
#include "common/alloc_counter.h"
#include "common/saved_forms.h"
#include "persist/BinaryIO.h"
#include "persist/XmlIO.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/data/BinaryRecordIterator.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/record_fields.h"

using namespace saved_forms;
using datatest::Values;
using VXCommon_1_2::Record;
using VXNeural::BinaryRecordIterator;
using VXNeural::RecordBufferIter;

namespace {

// Record r of width w holds r * w + i at column i.
double Value(int r, int w, int i) { return static_cast<double>(r) * w + i; }

// A file of records and then extraBytes bytes of 0x7f, rewound, as the
// preparator hands it over.
std::FILE* WriteRecords(std::FILE* f, int width, int records, int extraBytes) {
  std::vector<double> row(static_cast<std::size_t>(width));
  for (int r = 0; r < records; ++r) {
    for (int i = 0; i < width; ++i) row[static_cast<std::size_t>(i)] = Value(r, width, i);
    std::fwrite(row.data(), sizeof(double), row.size(), f);
  }
  for (int b = 0; b < extraBytes; ++b) std::fputc(0x7f, f);
  std::rewind(f);
  return f;
}

TEST(BinaryRecordIterator, WholeRecordsAcrossBlocksThenEndOrError) {
  // Width 1000: a little over 32 records fit in a block.
  const struct {
    int width, records, extraBytes, endStatus;
  } cases[] = {{3, 3, 0, 1},      {3, 0, 0, 1},      {3, 2, 8, 3},       {3, 2, 23, 3},
               {3, 0, 20, 3},     {1000, 31, 0, 1},  {1000, 32, 0, 1},   {1000, 33, 0, 1},
               {1000, 100, 0, 1}, {1000, 65, 13, 3}, {1000, 64, 8000, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " wide, " + std::to_string(c.records) + " records, " +
                 std::to_string(c.extraBytes));
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    BinaryRecordIterator it(WriteRecords(file, c.width, c.records, c.extraBytes), c.width, "");
    // A whole extra record of 0x7f bytes is a record like any other. A
    // damaged file fails for good: after the first pass nothing is read.
    const int whole = c.records + c.extraBytes / (c.width * 8);
    const bool damaged = c.endStatus == 3;
    for (int pass = 0; pass < 2; ++pass) {
      int n = 0;
      bool intact = true;
      while (it.IsGood()) {
        const VXCommon_1_2::Record* r = it.Next();
        ASSERT_NE(r, nullptr);
        if (n < c.records)
          for (int i = 0; i<c.width; i += c.width> 97 ? 97 : 1)
            intact = intact && (*r)[i] == Value(n, c.width, i);
        ++n;
      }
      EXPECT_TRUE(intact);
      EXPECT_EQ(n, damaged && pass > 0 ? 0 : whole);
      EXPECT_EQ(it.GetStatus(), c.endStatus);
      EXPECT_EQ(it.Next(), nullptr);
      EXPECT_EQ(it.Rewind(), whole > 0 && !damaged ? 0 : c.endStatus);
    }
  }
}

TEST(BinaryRecordIterator, FewerRecordsThanWrittenFailForGood) {
  // The count the writer gave (negative: none), the whole records in the
  // file, and the status at the end of the first pass; a failure stays
  // through Rewind, an end of data does not.
  const struct {
    long long written;
    int inFile, endStatus;
  } cases[] = {{5, 5, 1}, {-1, 3, 1}, {5, 3, 3}, {5, 0, 3}, {5, 4, 3}, {3, 5, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.written) + " written, " + std::to_string(c.inFile) + " in file");
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    BinaryRecordIterator it(WriteRecords(file, 2, c.inFile, 0), 2, "", c.written);
    int n = 0;
    while (it.IsGood() && it.Next() != nullptr) ++n;
    EXPECT_EQ(n, c.inFile);
    EXPECT_EQ(it.GetStatus(), c.endStatus);
    const int rewound = it.Rewind();
    EXPECT_EQ(rewound, c.endStatus == 3 ? 3 : c.inFile > 0 ? 0 : 1);
    EXPECT_EQ(it.IsGood(), rewound == 0);
  }
}

// --- The in-memory buffer ---------------------------------------------------

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

// Blocks of rows from the cursor on, in place, then the end; a reader
// wanting wider records than the buffer's gets none and the buffer is read.
TEST(RecordBufferIter, RowsAreHandedOutInPlaceBlockByBlock) {
  RecordBufferIter b(2, 5);
  for (double v : {1.0, 2.0, 3.0}) ASSERT_TRUE(b.Add(Rec({v, -v})));
  ASSERT_EQ(b.Next()->GetAll()[0], 1.0);
  const double* rows[4] = {};
  ASSERT_EQ(b.NextRows(rows, 1, 2), 1);
  EXPECT_EQ(rows[0], b.GetRecordAt(1)->GetAll());
  ASSERT_EQ(b.NextRows(rows, 4, 1), 1);
  EXPECT_EQ(rows[0][1], -3.0);
  EXPECT_FALSE(b.IsGood());
  EXPECT_EQ(b.NextRows(rows, 4, 2), 0);
  b.Rewind();
  EXPECT_EQ(b.NextRows(rows, 4, 3), 0);
  EXPECT_FALSE(b.IsGood());
}

// A capacity alone (a damaged saved model's record count can be anything)
// makes no records: storage follows the records added, and a refill after
// Empty reuses it.
TEST(RecordBufferIter, StorageFollowsTheRecordsAddedNotTheCapacity) {
  using alloc_counter::Allocations;
  std::unique_ptr<RecordBufferIter> b;
  EXPECT_LE(Allocations([&] { b = std::make_unique<RecordBufferIter>(1, 1 << 30); }), 2);
  EXPECT_EQ(b->GetStatus(), 1);
  const Record r = Rec({7.0});
  EXPECT_EQ(Allocations([&] {
              for (int i = 0; i < 3; ++i) EXPECT_TRUE(b->Add(r));
            }),
            3);
  b->Empty();
  EXPECT_EQ(Allocations([&] {
              for (int i = 0; i < 3; ++i) EXPECT_TRUE(b->Add(r));
            }),
            0);
  EXPECT_EQ(b->GetCount(), 3);
}

// Width, capacity, count, cursor, status, then the records' values bitwise
// (-0.0 and the missing value included).
TEST(RecordBufferIterPersist, LayoutFieldByField) {
  record_fields::ExpectFields(
      *Three(), [] { return std::make_unique<RecordBufferIter>(5, 1); }, "RBI", "RecordBufferIter",
      [](auto& s) {
        s.I(2).I(4).I(3).I(1).I(0).D(1.0).D(-1.0).D(2.5).D(VXMV::gMissingValue).D(-0.0).D(1e-300);
      });
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
