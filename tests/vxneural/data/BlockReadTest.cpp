// The temporary-file record source reads whole blocks of records at once:
// records on either side of a block boundary come back intact, the end is
// found whether or not it falls on a boundary, and a damaged tail still
// ends in error after the whole records before it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vxneural/data/BinaryRecordIterator.h"

namespace {

using VXNeural::BinaryRecordIterator;

// Record r of width w holds r * w + i at column i.
double Value(int r, int w, int i) { return static_cast<double>(r) * w + i; }

TEST(BlockRead, RecordsAcrossBlocksAndDamagedTails) {
  // 1000 doubles a record: a little over 32 records fit in a block.
  constexpr int kWidth = 1000;
  struct Case {
    int records, extraBytes, endStatus;
  } const cases[] = {{31, 0, 1}, {32, 0, 1}, {33, 0, 1}, {100, 0, 1}, {65, 13, 3}, {64, 8000, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.records) + " records, " + std::to_string(c.extraBytes));
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::vector<double> row(kWidth);
    for (int r = 0; r < c.records; ++r) {
      for (int i = 0; i < kWidth; ++i) row[static_cast<std::size_t>(i)] = Value(r, kWidth, i);
      std::fwrite(row.data(), sizeof(double), row.size(), file);
    }
    for (int b = 0; b < c.extraBytes; ++b) std::fputc(0x7f, file);
    std::rewind(file);
    // A whole extra record of 0x7f bytes is a record like any other.
    const int whole = c.records + c.extraBytes / (kWidth * 8);
    BinaryRecordIterator it(file, kWidth, "");
    for (int pass = 0; pass < 2; ++pass) {
      int n = 0;
      bool intact = true;
      while (it.IsGood()) {
        const VXCommon_1_2::Record* r = it.Next();
        ASSERT_NE(r, nullptr);
        if (n < c.records)
          for (int i = 0; i < kWidth; i += 97) intact = intact && (*r)[i] == Value(n, kWidth, i);
        ++n;
      }
      EXPECT_TRUE(intact);
      EXPECT_EQ(n, whole);
      EXPECT_EQ(it.GetStatus(), c.endStatus);
      EXPECT_EQ(it.Next(), nullptr);
      EXPECT_EQ(it.Rewind(), 0);
    }
  }
}

}  // namespace
