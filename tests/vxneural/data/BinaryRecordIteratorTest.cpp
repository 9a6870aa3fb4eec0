// The temporary-file record source: whole records read in blocks, on either
// side of a block boundary; the end found whether or not it falls on one; a
// damaged tail that ends the data in error after the whole records before
// it; and rewinding.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DataTestHelpers.h"
#include "vxneural/data/BinaryRecordIterator.h"

using VXNeural::BinaryRecordIterator;

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

}  // namespace
