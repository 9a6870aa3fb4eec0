// Shared by the data tests: a scratch directory for temporary files that
// must be empty again when a test ends, and a variable list with raw
// records and their encodings worked out by hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/host_doubles.h"
#include "common/scratch_dir.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/variables/NNVarList.h"

namespace datatest {

using VXCommon_1_2::Record;

// A fresh directory per test; Entries lists it in name order. TearDown
// fails the test when anything is left in it, then removes it.
class ScratchDirTest : public testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(Entries(), std::vector<std::string>{}) << "temporary files left behind";
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fScratch.Path()))
      names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  scratch_dir::ScratchDir fScratch;
  // Names temporary files in the scratch directory.
  std::unique_ptr<VXCommon_1_2::VXDefaultTempFileNameMaker> fNames =
      std::make_unique<VXCommon_1_2::VXDefaultTempFileNameMaker>(fScratch.Path());
};

// Rewindable source that counts its rewinds and the records of a pass.
using host_doubles::CountingSource;

inline std::vector<double> Values(const Record& r) {
  return std::vector<double>(r.GetAll(), r.GetAll() + r.Size());
}

constexpr double kMissing = VXMV::gMissingValue;

// A raw record of the worked list below: x, c, u (whatever), y.
inline Record Raw(double x, double c, double y) {
  return Record(std::vector<double>{x, c, 123.0, y});
}

// The encoding worked out by hand for the worked list. Min/range on 0..10
// has slope 1/10 and intercept -0.0; writing x * slope keeps the rounding
// of the encoder's x * slope + intercept, so results compare exactly.
inline std::vector<double> Encoded(double x, int c, int y) {
  const double slope = 1.0 / 10.0;
  return {x * slope + -(slope * 0.0), c == 0 ? 1.0 : 0.0, c == 1 ? 1.0 : 0.0,
          c == 2 ? 1.0 : 0.0,         y == 0 ? 1.0 : 0.0, y == 1 ? 1.0 : 0.0};
}

// Records first .. first + count - 1 of a generated source; encoded record i.
inline std::vector<Record> Generate(int first, int count) {
  std::vector<Record> records;
  for (int i = first; i < first + count; ++i) records.push_back(Raw(i % 11, i % 3, (i / 3) % 2));
  return records;
}
inline std::vector<double> EncodedAt(int i) { return Encoded(i % 11, i % 3, (i / 3) % 2); }

// Checks that source holds encoded records first .. first + count - 1.
inline void ExpectSource(VXCommon_1_2::MultiPassRecordIter* source, int first, int count) {
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(source->Rewind(), 0);
  for (int i = first; i < first + count; ++i) {
    const Record* r = source->Next();
    ASSERT_NE(r, nullptr) << "record " << i;
    ASSERT_EQ(Values(*r), EncodedAt(i)) << "record " << i;
  }
  EXPECT_FALSE(source->IsGood());
}

class PreparatorTest : public ScratchDirTest {
 protected:
  // x: continuous input on 0..10 (min/range: x / 10) with the user-missing
  // value 99; c: input with 3 categories; u: unused; y: output with 2
  // categories. W = 1 + 3 + 2.
  PreparatorTest() {
    fList.AddContVar("x", "", 0.0, 10.0, 5.0, 4.0, INNVariable::kInput, INNVariable::kReal);
    fList.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                    INNVariable::kInteger);
    fList.AddContVar("u", "", 0.0, 1.0, 0.5, 0.1, INNVariable::kUnused, INNVariable::kReal);
    fList.AddCatVar("y", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                    INNVariable::kInteger);
    fList.AddDiscreteUserMissing(0, 99.0, "no answer");
  }
  MLPSettings Settings(int nTrain, int nTest, long budget) {
    MLPSettings s(fList, nTrain);
    s.SetStandInputs(VXNNCommon::kMinRange);
    s.SetNTestRecords(nTest);
    s.SetMaxRecordsInMemory(budget);
    s.SetTempFileNameMaker(fNames.get());
    return s;
  }
  NNVarList fList;
};

}  // namespace datatest
