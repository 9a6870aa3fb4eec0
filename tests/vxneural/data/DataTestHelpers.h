// Shared by the data tests: a scratch directory for temporary files that
// must be empty again when a test ends, a record source that counts how it
// is read, and a check for the read-failure protocol.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxneural/VXNNCommon.h"

namespace datatest {

// A fresh directory per test. TearDown fails the test when anything is left
// in it, then removes it.
class ScratchDirTest : public testing::Test {
 protected:
  void SetUp() override {
    VXCommon_1_2::VXDefaultTempFileNameMaker names("", "vxnn-data-test");
    fDir = names.GetTempFileName() + ".d";
    ASSERT_TRUE(std::filesystem::create_directory(fDir));
  }
  void TearDown() override {
    EXPECT_EQ(Entries(), std::vector<std::string>{}) << "temporary files left behind";
    std::filesystem::remove_all(fDir);
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fDir))
      names.push_back(entry.path().string());
    return names;
  }
  std::string Path(const std::string& name) const { return (fDir / name).string(); }

  std::filesystem::path fDir;
};

// Rewindable source over records that counts its Next and Rewind calls.
class CountingSource : public VXCommon_1_2::MultiPassRecordIter {
 public:
  explicit CountingSource(std::vector<VXCommon_1_2::Record> records)
      : fRecords(std::move(records)) {}
  bool IsGood() override { return fPos < fRecords.size(); }
  const VXCommon_1_2::Record* Next() override {
    ++fNextCalls;
    return fPos < fRecords.size() ? &fRecords[fPos++] : nullptr;
  }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }
  int Rewind() override {
    ++fRewinds;
    fPos = 0;
    return GetStatus();
  }
  int NextCalls() const { return fNextCalls; }
  int Rewinds() const { return fRewinds; }
  std::size_t Position() const { return fPos; }

 private:
  std::vector<VXCommon_1_2::Record> fRecords;
  std::size_t fPos = 0;
  int fNextCalls = 0;
  int fRewinds = 0;
};

// Runs a read that must fail with the documented message on standard error
// and an IOException thrown by pointer.
template <typename F>
void ExpectReadFailure(F&& read, const std::string& message) {
  testing::internal::CaptureStderr();
  bool thrown = false;
  try {
    read();
  } catch (VXNeural::IOException* e) {
    delete e;
    thrown = true;
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(thrown);
  EXPECT_EQ(err, message);
}

inline std::vector<double> Values(const VXCommon_1_2::Record& r) {
  return std::vector<double>(r.GetAll(), r.GetAll() + r.Size());
}

}  // namespace datatest
