// Passes over records allocate nothing per record. This file replaces the
// global operator new of the test program with one that counts, and compares
// the counts of the same work over few and many records.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "DataTestHelpers.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/data/BinaryRecordIterator.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/variables/NNVarList.h"

namespace {
std::atomic<long> gNews{0};
}  // namespace

void* operator new(std::size_t n) {
  ++gNews;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;

namespace {

NNVarList List() {
  NNVarList list;
  list.AddContVar("x", "", 0.0, 10.0, 5.0, 4.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 4, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddCatVar("y", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  return list;
}

std::vector<Record> Raw(int n) {
  std::vector<Record> records;
  for (int i = 0; i < n; ++i)
    records.emplace_back(std::vector<double>{i % 10 + 0.5, double(i % 4), double(i % 2)});
  return records;
}

// Allocations made by f.
template <typename F>
long News(F&& f) {
  const long before = gNews.load();
  f();
  return gNews.load() - before;
}

// Reads source to its end, rewinding first.
void Pass(MultiPassRecordIter& source) {
  source.Rewind();
  while (source.Next() != nullptr) {
  }
}

class PassAllocationTest : public datatest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    fNames = std::make_unique<VXCommon_1_2::VXDefaultTempFileNameMaker>(fDir.string());
  }
  // Allocations of a whole Prepare of n records under the given budget; the
  // settings ask for 2000 records, more than any source here holds.
  long PrepareNews(int n, long budget) {
    datatest::CountingSource train(Raw(n));
    MLPSettings s(fList, 2000);
    s.SetMaxRecordsInMemory(budget);
    s.SetTempFileNameMaker(fNames.get());
    NNDataPreparator p(fList, s, &train, nullptr);
    const long news = News([&] { EXPECT_TRUE(p.Prepare(s).IsOK()); });
    EXPECT_EQ(p.GetNTrainRecordsWritten(), n);
    return news;
  }
  std::unique_ptr<VXCommon_1_2::VXDefaultTempFileNameMaker> fNames;
  NNVarList fList = List();
};

}  // namespace

TEST_F(PassAllocationTest, ReadingEitherSourceAllocatesNothing) {
  const MLPSettings s(fList, 500);
  NNDataPreparator p(fList, s, nullptr, nullptr);
  VXNeural::RecordBufferIter buffer(7, 500);
  Record encoded;
  for (const Record& raw : Raw(500)) {
    p.EncodeRecord(raw, encoded);
    buffer.Add(encoded);
  }
  EXPECT_EQ(News([&] { Pass(buffer); }), 0);

  datatest::CountingSource source(Raw(500));
  MultiPassRecordIter* file = nullptr;
  int written = 0;
  ASSERT_TRUE(p.EncodeToTempFile(source, 500, file, written).IsOK());
  std::unique_ptr<MultiPassRecordIter> owned(file);
  Pass(*owned);
  EXPECT_EQ(News([&] { Pass(*owned); }), 0);

  // Refilling an emptied buffer reuses its records.
  EXPECT_EQ(News([&] {
              buffer.Empty();
              owned->Rewind();
              buffer.Fill(*owned, 500);
            }),
            0);
  EXPECT_EQ(buffer.GetCount(), 500);
}

TEST_F(PassAllocationTest, EncodingReusesTheTargetRecord) {
  const MLPSettings s(fList, 10);
  NNDataPreparator p(fList, s, nullptr, nullptr);
  const std::vector<Record> raw = Raw(100);
  Record encoded;
  p.EncodeRecord(raw[0], encoded);
  EXPECT_EQ(News([&] {
              for (const Record& r : raw) {
                p.EncodeRecord(r, encoded);
                p.EncodeInputs(r, encoded);
              }
            }),
            0);
}

TEST_F(PassAllocationTest, PrepareCostDoesNotGrowWithTheRecordsRead) {
  // To a file: the same allocations for 20 and for 1000 records. (That the
  // library's allocations are seen at all is shown by the count not being 0.)
  const long few = PrepareNews(20, 10);
  EXPECT_GT(few, 0);
  EXPECT_EQ(few, PrepareNews(1000, 10));
  // In memory the buffer is made for the settings' 2000 records up front,
  // so reading 20 or 1000 of them costs the same.
  EXPECT_EQ(PrepareNews(20, 5000), PrepareNews(1000, 5000));
}
