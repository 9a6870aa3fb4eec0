// Passes over records allocate nothing per record: encoding, reading either
// encoded source, and preparing cost the same for few and many records.
#include <gtest/gtest.h>

#include <memory>

#include "DataTestHelpers.h"
#include "common/alloc_counter.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/data/RecordBufferIter.h"

using alloc_counter::Allocations;
using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;

namespace {

// Reads source to its end, rewinding first.
void Pass(MultiPassRecordIter& source) {
  source.Rewind();
  while (source.Next() != nullptr) {
  }
}

class PassAllocationTest : public datatest::PreparatorTest {
 protected:
  // Allocations of a whole Prepare of n records under the given budget; the
  // settings ask for 2000 records, more than any source here holds.
  long PrepareAllocations(int n, long budget) {
    datatest::CountingSource train(datatest::Generate(0, n));
    const MLPSettings s = Settings(2000, 0, budget);
    NNDataPreparator p(fList, s, &train, nullptr);
    const long count = Allocations([&] { EXPECT_TRUE(p.Prepare(s).IsOK()); });
    EXPECT_EQ(p.GetNTrainRecordsWritten(), n);
    return count;
  }
};

TEST_F(PassAllocationTest, EncodingAndReadingEitherSourceAllocateNothing) {
  const MLPSettings s = Settings(500, 0, 1000);
  NNDataPreparator p(fList, s, nullptr, nullptr);
  const std::vector<Record> raw = datatest::Generate(0, 500);
  VXNeural::RecordBufferIter buffer(6, 500);
  Record encoded;
  p.EncodeRecord(raw[0], encoded);
  EXPECT_EQ(Allocations([&] {
              for (const Record& r : raw) {
                p.EncodeInputs(r, encoded);
                p.EncodeRecord(r, encoded);
                buffer.Add(encoded);
              }
              Pass(buffer);
            }),
            0);

  datatest::CountingSource source(raw);
  MultiPassRecordIter* file = nullptr;
  int written = 0;
  ASSERT_TRUE(p.EncodeToTempFile(source, 500, file, written).IsOK());
  std::unique_ptr<MultiPassRecordIter> owned(file);
  Pass(*owned);
  // Refilling an emptied buffer reuses its records.
  EXPECT_EQ(Allocations([&] {
              Pass(*owned);
              buffer.Empty();
              owned->Rewind();
              buffer.Fill(*owned, 500);
            }),
            0);
  EXPECT_EQ(buffer.GetCount(), 500);
}

}  // namespace
