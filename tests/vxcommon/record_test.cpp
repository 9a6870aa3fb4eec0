// Records, the in-memory record source and temporary file names.
#include "vxcommon/Record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/VXMissing.h"

namespace {

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::RecordIterator;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXDefaultTempFileNameMaker;

std::vector<Record> ThreeRecords() {
  return {Record({1.0, 2.0}), Record({3.0, VXMV::gMissingValue}), Record({5.0, 6.0})};
}

// Reads a source to its end, returning the first field of each record and
// checking the status on the way.
std::vector<double> Drain(MultiPassRecordIter& source) {
  std::vector<double> firsts;
  while (source.IsGood()) {
    EXPECT_EQ(source.GetStatus(), RecordIterator::kGood);
    const Record* record = source.Next();
    if (record == nullptr) {
      ADD_FAILURE() << "null record while the source is good";
      break;
    }
    firsts.push_back((*record)[0]);
  }
  EXPECT_EQ(source.GetStatus(), RecordIterator::kEndOfData);
  EXPECT_EQ(source.Next(), nullptr);
  EXPECT_EQ(source.GetStatus(), 1);
  return firsts;
}

TEST(RecordTest, SizeResizeAndCopies) {
  Record r(3);
  EXPECT_EQ(r.Size(), 3);
  EXPECT_EQ(r[0], 0.0);
  r[1] = 2.5;
  r[2] = VXMV::gMissingValue;
  EXPECT_TRUE(VXMV::IsMissing(r[2]));
  EXPECT_EQ(r.GetAll()[1], 2.5);
  EXPECT_EQ(r.GetAll() + 2, &r[2]);

  EXPECT_TRUE(r.Resize(5));
  EXPECT_EQ(r.Size(), 5);
  EXPECT_EQ(r[1], 2.5);
  EXPECT_EQ(r[4], 0.0);
  EXPECT_TRUE(r.Resize(2));
  EXPECT_EQ(r.Size(), 2);
  EXPECT_FALSE(r.Resize(-1));
  EXPECT_EQ(r.Size(), 2);
  EXPECT_EQ(r[1], 2.5);

  Record copy = r;
  copy[1] = 9.0;
  EXPECT_EQ(r[1], 2.5);
  Record assigned;
  assigned = copy;
  EXPECT_EQ(assigned[1], 9.0);
  EXPECT_EQ(Record(-4).Size(), 0);
  EXPECT_EQ(Record().Size(), 0);
}

TEST(VectorRecordIterTest, CopyingSourceReadsAndRewinds) {
  std::vector<Record> records = ThreeRecords();
  VectorRecordIter source(records);
  records[0][0] = 100.0;  // the source holds its own copy
  EXPECT_EQ(source.Count(), 3u);
  EXPECT_EQ(Drain(source), (std::vector<double>{1.0, 3.0, 5.0}));
  EXPECT_FALSE(source.IsGood());
  EXPECT_EQ(source.Rewind(), RecordIterator::kGood);
  const Record* first = source.Next();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ((*first)[1], 2.0);
  EXPECT_TRUE(VXMV::IsMissing((*source.Next())[1]));
}

TEST(VectorRecordIterTest, BorrowingSourceReadsTheCallersRecords) {
  const std::vector<Record> records = ThreeRecords();
  VectorRecordIter source = VectorRecordIter::Borrow(records);
  EXPECT_EQ(source.Next(), &records[0]);
  EXPECT_EQ(source.Next(), &records[1]);
  EXPECT_EQ(source.Rewind(), 0);
  EXPECT_EQ(Drain(source), (std::vector<double>{1.0, 3.0, 5.0}));
}

TEST(VectorRecordIterTest, EmptySourceIsAtEndFromTheStart) {
  VectorRecordIter source(std::vector<Record>{});
  EXPECT_FALSE(source.IsGood());
  EXPECT_EQ(source.GetStatus(), RecordIterator::kEndOfData);
  EXPECT_EQ(source.Next(), nullptr);
  EXPECT_EQ(source.Rewind(), RecordIterator::kEndOfData);
}

TEST(VectorRecordIterTest, MovesKeepRecordsAndPosition) {
  VectorRecordIter owned(ThreeRecords());
  owned.Next();
  VectorRecordIter moved(std::move(owned));
  EXPECT_EQ(Drain(moved), (std::vector<double>{3.0, 5.0}));
  EXPECT_EQ(owned.Count(), 0u);
  EXPECT_EQ(owned.GetStatus(), RecordIterator::kEndOfData);

  const std::vector<Record> records = ThreeRecords();
  VectorRecordIter assigned(std::vector<Record>{Record(1)});
  assigned = VectorRecordIter::Borrow(records);
  EXPECT_EQ(assigned.Next(), &records[0]);
  VectorRecordIter again(ThreeRecords());
  again = std::move(moved);  // an owning source moved into another
  EXPECT_EQ(again.Rewind(), 0);
  EXPECT_EQ(Drain(again), (std::vector<double>{1.0, 3.0, 5.0}));
}

class TempNameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VXDefaultTempFileNameMaker names("", "vxcommon-dir");
    fDir = names.GetTempFileName();
    std::filesystem::create_directory(fDir);
  }
  void TearDown() override { std::filesystem::remove_all(fDir); }
  std::string fDir;
};

TEST_F(TempNameTest, NamesAreUniqueAndInTheDirectory) {
  VXDefaultTempFileNameMaker first(fDir, "run"), second(fDir, "run");
  std::set<std::string> seen;
  for (int k = 0; k < 1000; ++k) {
    for (VXDefaultTempFileNameMaker* maker : {&first, &second}) {
      const std::filesystem::path name = maker->GetTempFileName();
      EXPECT_EQ(name.parent_path(), std::filesystem::path(fDir));
      EXPECT_EQ(name.filename().string().rfind("run-", 0), 0u) << name;
      EXPECT_EQ(name.extension(), ".tmp");
      EXPECT_TRUE(seen.insert(name.string()).second) << name;
    }
  }
}

TEST_F(TempNameTest, ExistingFilesAreSkipped) {
  VXDefaultTempFileNameMaker names(fDir, "p");
  const std::string one = names.GetTempFileName();
  ASSERT_EQ(one.substr(one.size() - 6), "-1.tmp");
  const std::string stem = one.substr(0, one.size() - 6);
  std::ofstream(stem + "-2.tmp") << "taken";
  EXPECT_EQ(names.GetTempFileName(), stem + "-3.tmp");
  EXPECT_FALSE(std::filesystem::exists(stem + "-3.tmp"));
}

TEST(TempNameDefaults, SystemTemporaryDirectory) {
  VXDefaultTempFileNameMaker names;
  EXPECT_EQ(std::filesystem::path(names.Directory()), std::filesystem::temp_directory_path());
  EXPECT_EQ(std::filesystem::path(names.GetTempFileName()).parent_path(),
            std::filesystem::temp_directory_path());
}

}  // namespace
