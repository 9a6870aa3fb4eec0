// The data preparator: the encoded-record layout, skipping rules, the
// memory budget and the temporary-file route, one-pass reading of the
// host's sources, and removal of every temporary file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

#include "DataTestHelpers.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/data/BinaryRecordIterator.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/variables/NNVarList.h"

using datatest::CountingSource;
using datatest::Values;
using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;
using VXNeural::BinaryRecordIterator;
using VXNeural::RecordBufferIter;

namespace {

constexpr double kMissing = VXMV::gMissingValue;

// x: continuous input on 0..10 (min/range: x / 10); c: input with 3
// categories; u: unused; y: output with 2 categories. W = 1 + 3 + 2.
NNVarList WorkedList() {
  NNVarList list;
  list.AddContVar("x", "", 0.0, 10.0, 5.0, 4.0, INNVariable::kInput, INNVariable::kReal);
  list.AddCatVar("c", "", 3, INNVariable::kNumericCategorical, INNVariable::kInput,
                 INNVariable::kInteger);
  list.AddContVar("u", "", 0.0, 1.0, 0.5, 0.1, INNVariable::kUnused, INNVariable::kReal);
  list.AddCatVar("y", "", 2, INNVariable::kNumericCategorical, INNVariable::kOutput,
                 INNVariable::kInteger);
  return list;
}

Record Raw(double x, double c, double y) { return Record(std::vector<double>{x, c, 123.0, y}); }

// The encoding worked out by hand for the list above. Min/range on 0..10
// has slope 1/10 and intercept -0.0; writing x * slope keeps the rounding
// of the encoder's x * slope + intercept, so results compare exactly.
std::vector<double> Encoded(double x, int c, int y) {
  const double slope = 1.0 / 10.0;
  return {x * slope + -(slope * 0.0), c == 0 ? 1.0 : 0.0, c == 1 ? 1.0 : 0.0,
          c == 2 ? 1.0 : 0.0,         y == 0 ? 1.0 : 0.0, y == 1 ? 1.0 : 0.0};
}

// Record i of a generated source, and its encoding.
Record RawAt(int i) { return Raw(i % 11, i % 3, (i / 3) % 2); }
std::vector<double> EncodedAt(int i) { return Encoded(i % 11, i % 3, (i / 3) % 2); }

std::vector<Record> Generate(int first, int count) {
  std::vector<Record> records;
  for (int i = first; i < first + count; ++i) records.push_back(RawAt(i));
  return records;
}

MLPSettings Settings(const NNVarList& list, int nTrain, int nTest, long budget,
                     VXCommon_1_2::VXTempFileNameMaker* maker) {
  MLPSettings s(list, nTrain);
  s.SetStandInputs(VXNNCommon::kMinRange);
  s.SetNTestRecords(nTest);
  s.SetMaxRecordsInMemory(budget);
  s.SetTempFileNameMaker(maker);
  return s;
}

// Hands out names from a list, then empty names.
class ListNameMaker : public VXCommon_1_2::VXTempFileNameMaker {
 public:
  explicit ListNameMaker(std::vector<std::string> names) : fNames(std::move(names)) {}
  std::string GetTempFileName() override {
    return fNext < fNames.size() ? fNames[fNext++] : std::string();
  }

 private:
  std::vector<std::string> fNames;
  std::size_t fNext = 0;
};

std::vector<double> FileDoubles(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<double> values(bytes.size() / 8);
  std::memcpy(values.data(), bytes.data(), values.size() * 8);
  EXPECT_EQ(bytes.size() % 8, 0u);
  return values;
}

void ExpectSource(MultiPassRecordIter* source, int first, int count) {
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(source->Rewind(), 0);
  for (int i = first; i < first + count; ++i) {
    const Record* r = source->Next();
    ASSERT_NE(r, nullptr) << "record " << i;
    ASSERT_EQ(Values(*r), EncodedAt(i)) << "record " << i;
  }
  EXPECT_FALSE(source->IsGood());
}

class PreparatorTest : public datatest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    fNames = std::make_unique<VXCommon_1_2::VXDefaultTempFileNameMaker>(fDir.string());
  }
  std::unique_ptr<VXCommon_1_2::VXDefaultTempFileNameMaker> fNames;
  NNVarList fList = WorkedList();
};

}  // namespace

// ---------------------------------------------------------------- encoding

TEST_F(PreparatorTest, WorkedExampleEncodes) {
  const MLPSettings s = Settings(fList, 10, 0, 1000, fNames.get());
  NNDataPreparator p(fList, s, nullptr, nullptr);
  EXPECT_EQ(p.GetRecordWidth(), 6);
  Record out;
  EXPECT_TRUE(p.EncodeRecord(Raw(5, 2, 0), out).IsOK());
  EXPECT_EQ(Values(out), (std::vector<double>{0.5, 0, 0, 1, 1, 0}));
  // The unused field does not matter, and a reused record is overwritten.
  EXPECT_TRUE(p.EncodeRecord(Record(std::vector<double>{10, 0, kMissing, 1}), out).IsOK());
  EXPECT_EQ(Values(out), Encoded(10, 0, 1));

  std::ostringstream display;
  p.Display(display);
  const std::string text = display.str();
  EXPECT_EQ(text.rfind("NNDataPreparator object: ", 0), 0u);
  EXPECT_NE(text.find("\tVariable index: 0 1 -1 4\n"), std::string::npos);
  EXPECT_NE(text.find("\tNumbers of categories: 1 3 1 2\n"), std::string::npos);
  EXPECT_NE(text.find("\tStatus is OK.\n"), std::string::npos);
  EXPECT_NE(text.find("Begin display of NNVarList object."), std::string::npos);
}

TEST_F(PreparatorTest, CategoryCodesAreTruncatedTowardZero) {
  const MLPSettings s = Settings(fList, 10, 0, 1000, fNames.get());
  NNDataPreparator p(fList, s, nullptr, nullptr);
  Record out;
  EXPECT_TRUE(p.EncodeRecord(Raw(5, 2.9, 1), out).IsOK());
  EXPECT_EQ(Values(out), Encoded(5, 2, 1));
  EXPECT_TRUE(p.EncodeRecord(Raw(5, -0.5, 1), out).IsOK());
  EXPECT_EQ(Values(out), Encoded(5, 0, 1));

  const double bad[] = {
      3.0, -1.0, 1e300, -1e300, kMissing, std::numeric_limits<double>::infinity(), std::nan("")};
  for (double c : bad) {
    EXPECT_EQ(p.EncodeRecord(Raw(5, c, 1), out), VXStatus(50003, true)) << c;
    // The other fields are still encoded; the bad one is left at zeros.
    EXPECT_EQ(Values(out), (std::vector<double>{0.5, 0, 0, 0, 0, 1})) << c;
  }
}

TEST_F(PreparatorTest, MissingContinuousValueIsMissingInItsUnit) {
  fList.AddDiscreteUserMissing(0, 99.0, "no answer");
  const MLPSettings s = Settings(fList, 10, 0, 1000, fNames.get());
  NNDataPreparator p(fList, s, nullptr, nullptr);
  Record out;
  for (double x : {kMissing, 99.0}) {
    EXPECT_TRUE(p.EncodeRecord(Raw(x, 1, 0), out).IsOK());
    EXPECT_EQ(out[0], kMissing);
    EXPECT_EQ(out[2], 1.0);
  }
  // A record shorter than the list reads as missing fields: the absent
  // target is not a valid category.
  EXPECT_EQ(p.EncodeRecord(Record(std::vector<double>{5, 1}), out), VXStatus(50003, true));
  EXPECT_EQ(Values(out), (std::vector<double>{0.5, 0, 1, 0, 0, 0}));
}

TEST_F(PreparatorTest, ContinuousTargetUsesTheOutputMode) {
  NNVarList list;
  list.AddContVar("x", "", 0.0, 10.0, 5.0, 4.0, INNVariable::kInput, INNVariable::kReal);
  list.AddContVar("z", "", 0.0, 4.0, 2.0, 1.0, INNVariable::kOutput, INNVariable::kReal);
  MLPSettings s = Settings(list, 10, 0, 1000, fNames.get());
  ASSERT_TRUE(s.SetStandOutputs(VXNNCommon::kMinRangeSymmetric));
  NNDataPreparator p(list, s, nullptr, nullptr);
  Record out;
  for (auto [z, unit] : {std::pair{0.0, -1.0}, std::pair{2.0, 0.0}, std::pair{4.0, 1.0}}) {
    EXPECT_TRUE(p.EncodeRecord(Record(std::vector<double>{5, z}), out).IsOK());
    EXPECT_EQ(Values(out), (std::vector<double>{0.5, unit}));
  }
  // The host's list is copied, not changed.
  EXPECT_EQ(dynamic_cast<const NNLinearEncoder*>(list.GetEncoderAt(1))->GetSlope(), 1.0);
}

TEST_F(PreparatorTest, ScoringRecordFillsTheInputUnitsOnly) {
  const MLPSettings s = Settings(fList, 10, 0, 1000, fNames.get());
  NNDataPreparator p(fList, s, nullptr, nullptr);
  Record out(std::vector<double>(6, 9.0));
  // The target field is not looked at.
  EXPECT_TRUE(p.EncodeInputs(Raw(5, 2, 7), out).IsOK());
  EXPECT_EQ(Values(out), (std::vector<double>{0.5, 0, 0, 1, 9, 9}));

  EXPECT_EQ(p.EncodeInputs(Raw(kMissing, 2, 0), out), VXStatus(50018, false));
  EXPECT_EQ(p.EncodeInputs(Raw(5, kMissing, 0), out), VXStatus(50018, false));
  // An invalid code is an error here, and the other inputs are still done.
  EXPECT_EQ(p.EncodeInputs(Raw(5, 3, 0), out), VXStatus(50003, false));
  EXPECT_EQ(out[0], 0.5);
  Record shortOut;
  EXPECT_TRUE(p.EncodeInputs(Raw(2, 0, 0), shortOut).IsOK());
  EXPECT_EQ(Values(shortOut), (std::vector<double>{0.2, 1, 0, 0}));
  EXPECT_TRUE(p.GetStatus().IsOK()) << "scoring leaves the preparator's status alone";
}

TEST_F(PreparatorTest, ListThatDoesNotMatchTheSettingsIsRefused) {
  const MLPSettings moreInputs(5, {2}, 10);
  CountingSource train(Generate(0, 5));
  NNDataPreparator p(fList, moreInputs, &train, nullptr);
  Record out;
  EXPECT_EQ(p.EncodeRecord(Raw(5, 2, 0), out), VXStatus(50010, false));
  EXPECT_EQ(p.EncodeInputs(Raw(5, 2, 0), out), VXStatus(50010, false));
  EXPECT_EQ(p.Prepare(moreInputs), VXStatus(50010, false));
  EXPECT_EQ(train.NextCalls(), 0);

  const MLPSettings moreOutputs(4, {3}, 10);
  NNDataPreparator q(fList, moreOutputs, &train, nullptr);
  EXPECT_EQ(q.Prepare(moreOutputs), VXStatus(50011, false));
  EXPECT_EQ(q.GetTrainData(), nullptr);
}

// ----------------------------------------------------------------- budget

TEST_F(PreparatorTest, SixHundredAndThreeHundredStayInMemory) {
  CountingSource train(Generate(0, 600)), test(Generate(600, 300));
  const MLPSettings s = Settings(fList, 600, 300, 1000, fNames.get());
  NNDataPreparator p(fList, s, &train, &test);
  EXPECT_TRUE(p.Prepare(s).IsOK());
  EXPECT_NE(dynamic_cast<RecordBufferIter*>(p.GetTrainData()), nullptr);
  EXPECT_NE(dynamic_cast<RecordBufferIter*>(p.GetTestData()), nullptr);
  EXPECT_EQ(p.GetNTrainRecordsWritten(), 600);
  EXPECT_EQ(p.GetNTestRecordsWritten(), 300);
  EXPECT_TRUE(Entries().empty()) << "no file while everything fits";
  ExpectSource(p.GetTrainData(), 0, 600);
  ExpectSource(p.GetTestData(), 600, 300);
}

TEST_F(PreparatorTest, SixHundredAndFourHundredSendTheTestRecordsToAFile) {
  CountingSource train(Generate(0, 600)), test(Generate(600, 400));
  const MLPSettings s = Settings(fList, 600, 400, 1000, fNames.get());
  {
    NNDataPreparator p(fList, s, &train, &test);
    EXPECT_TRUE(p.Prepare(s).IsOK());
    EXPECT_NE(dynamic_cast<RecordBufferIter*>(p.GetTrainData()), nullptr);
    auto* file = dynamic_cast<BinaryRecordIterator*>(p.GetTestData());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(p.GetNTestRecordsWritten(), 400);
    ASSERT_EQ(Entries(), std::vector<std::string>{file->GetFileName()});

    // The file is bare records: 400 x 6 doubles, nothing else.
    const std::vector<double> doubles = FileDoubles(file->GetFileName());
    ASSERT_EQ(doubles.size(), 400u * 6);
    for (int i = 0; i < 400; ++i) {
      const std::vector<double> record(doubles.begin() + 6 * i, doubles.begin() + 6 * i + 6);
      ASSERT_EQ(record, EncodedAt(600 + i)) << "record " << i;
    }
    ExpectSource(p.GetTestData(), 600, 400);
    ExpectSource(p.GetTestData(), 600, 400);
  }
  // TearDown checks that destroying the preparator removed the file.
}

TEST_F(PreparatorTest, BudgetBoundariesDecideSourceBySource) {
  struct Case {
    int nTrain, nTest;
    long budget;
    bool trainInFile, testInFile;
  };
  const Case cases[] = {
      {9, 0, 10, false, false}, {10, 5, 10, true, false}, {10, 10, 10, true, true},
      {6, 3, 10, false, false}, {6, 4, 10, false, true},  {12, 9, 10, true, false},
  };
  for (const Case& c : cases) {
    CountingSource train(Generate(0, c.nTrain)), test(Generate(100, c.nTest));
    const MLPSettings s = Settings(fList, c.nTrain, c.nTest, c.budget, fNames.get());
    NNDataPreparator p(fList, s, &train, c.nTest > 0 ? &test : nullptr);
    EXPECT_TRUE(p.Prepare(s).IsOK());
    const std::string label = std::to_string(c.nTrain) + "/" + std::to_string(c.nTest);
    EXPECT_EQ(dynamic_cast<BinaryRecordIterator*>(p.GetTrainData()) != nullptr, c.trainInFile)
        << label;
    if (c.nTest > 0) {
      EXPECT_EQ(dynamic_cast<BinaryRecordIterator*>(p.GetTestData()) != nullptr, c.testInFile)
          << label;
      ExpectSource(p.GetTestData(), 100, c.nTest);
    }
    ExpectSource(p.GetTrainData(), 0, c.nTrain);
  }
}

TEST_F(PreparatorTest, WithoutANameMakerFilesGoToTheSettingsDirectory) {
  CountingSource train(Generate(0, 20));
  MLPSettings s = Settings(fList, 20, 0, 5, nullptr);
  s.SetTempFileDir(fDir.string());
  NNDataPreparator p(fList, s, &train, nullptr);
  EXPECT_TRUE(p.Prepare(s).IsOK());
  ASSERT_NE(dynamic_cast<BinaryRecordIterator*>(p.GetTrainData()), nullptr);
  EXPECT_EQ(Entries().size(), 1u);
  ExpectSource(p.GetTrainData(), 0, 20);
}

// ------------------------------------------------------ skipping, one pass

TEST_F(PreparatorTest, SkippedRecordDoesNotStopTheNextOnes) {
  for (long budget : {1000L, 2L}) {
    std::vector<Record> records = Generate(0, 4);
    records.insert(records.begin() + 1, Raw(5, 3, 0));
    CountingSource train(records);
    const MLPSettings s = Settings(fList, 4, 0, budget, fNames.get());
    NNDataPreparator p(fList, s, &train, nullptr);
    EXPECT_EQ(p.Prepare(s), VXStatus(50003, true)) << "budget " << budget;
    EXPECT_EQ(p.GetStatus(), VXStatus(50003, true));
    EXPECT_EQ(p.GetNTrainRecordsWritten(), 4);
    ExpectSource(p.GetTrainData(), 0, 4);
    EXPECT_EQ(train.NextCalls(), 5) << "the limit counts records kept, not read";
  }
}

TEST_F(PreparatorTest, PrepareAnswersWithTheLastPass) {
  std::vector<Record> records = Generate(0, 3);
  records.push_back(Raw(1, -1, 0));
  CountingSource train(records), test(Generate(10, 2));
  const MLPSettings s = Settings(fList, 10, 2, 1000, fNames.get());
  NNDataPreparator p(fList, s, &train, &test);
  EXPECT_TRUE(p.Prepare(s).IsOK()) << "the clean test pass comes last";
  EXPECT_EQ(p.GetNTrainRecordsWritten(), 3);
  EXPECT_EQ(p.GetNTestRecordsWritten(), 2);
}

TEST_F(PreparatorTest, EachSourceIsReadOnceInOnePassAndRewound) {
  for (long budget : {1000L, 100L}) {
    CountingSource train(Generate(0, 700)), test(Generate(700, 450));
    const MLPSettings s = Settings(fList, 600, 400, budget, fNames.get());
    NNDataPreparator p(fList, s, &train, &test);
    EXPECT_TRUE(p.Prepare(s).IsOK());
    // Only as far as needed: 600 of 700 and 400 of 450 records.
    EXPECT_EQ(train.NextCalls(), 600) << "budget " << budget;
    EXPECT_EQ(test.NextCalls(), 400);
    EXPECT_EQ(train.Rewinds(), 1);
    EXPECT_EQ(test.Rewinds(), 1);
    EXPECT_EQ(train.Position(), 0u);
    ExpectSource(p.GetTrainData(), 0, 600);
    ExpectSource(p.GetTestData(), 700, 400);
  }
}

// --------------------------------------------------------------- failures

TEST_F(PreparatorTest, NoGoodTrainingRecordGives50004AndSkipsTheTestPass) {
  for (long budget : {1000L, 1L}) {
    CountingSource train({Raw(1, 5, 0), Raw(1, 1, 2)}), test(Generate(0, 3));
    const MLPSettings s = Settings(fList, 10, 3, budget, fNames.get());
    NNDataPreparator p(fList, s, &train, &test);
    EXPECT_EQ(p.Prepare(s), VXStatus(50004, false)) << "budget " << budget;
    EXPECT_EQ(p.GetTrainData(), nullptr);
    EXPECT_EQ(p.GetTestData(), nullptr);
    EXPECT_EQ(p.GetNTrainRecordsWritten(), 0);
    EXPECT_EQ(train.Rewinds(), 1) << "rewound whatever the outcome";
    EXPECT_EQ(test.NextCalls(), 0);
    EXPECT_EQ(test.Rewinds(), 0);
    EXPECT_TRUE(Entries().empty());
  }
}

TEST_F(PreparatorTest, FailedTestPassLeavesNoFileBehind) {
  CountingSource train(Generate(0, 8)), test({Raw(1, 1, 5)});
  const MLPSettings s = Settings(fList, 8, 1, 4, fNames.get());
  {
    NNDataPreparator p(fList, s, &train, &test);
    EXPECT_EQ(p.Prepare(s), VXStatus(50004, false));
    EXPECT_NE(dynamic_cast<BinaryRecordIterator*>(p.GetTrainData()), nullptr);
    EXPECT_EQ(p.GetTestData(), nullptr);
    EXPECT_EQ(Entries().size(), 1u) << "only the training file";
    EXPECT_EQ(test.Rewinds(), 1);
    std::ostringstream display;
    p.Display(display);
    EXPECT_NE(display.str().find("\tStatus has error code 50004\n"), std::string::npos);
  }
}

TEST_F(PreparatorTest, PreparingAgainReleasesTheEarlierFiles) {
  CountingSource train(Generate(0, 8));
  const MLPSettings s = Settings(fList, 8, 0, 4, fNames.get());
  NNDataPreparator p(fList, s, &train, nullptr);
  EXPECT_TRUE(p.Prepare(s).IsOK());
  EXPECT_TRUE(p.Prepare(s).IsOK());
  EXPECT_EQ(Entries().size(), 1u);
  ExpectSource(p.GetTrainData(), 0, 8);
}

TEST_F(PreparatorTest, NoUsableFileNameGives50002) {
  const std::string existing = Path("existing");
  std::ofstream(existing) << "host data";
  ListNameMaker names({"", Path("missing-dir/file"), existing});
  CountingSource train(Generate(0, 5));
  const MLPSettings s = Settings(fList, 5, 0, 1, &names);
  NNDataPreparator p(fList, s, &train, nullptr);
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(p.Prepare(s), VXStatus(50002, false)) << "attempt " << attempt;
    EXPECT_EQ(p.GetTrainData(), nullptr);
    EXPECT_EQ(train.NextCalls(), 0);
  }
  // A name that is already taken is neither overwritten nor deleted.
  std::ifstream in(existing);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "host data");
  std::filesystem::remove(existing);
}

TEST_F(PreparatorTest, EncodeToTempFileHandsTheFileToTheCaller) {
  CountingSource more(Generate(50, 5));
  const MLPSettings s = Settings(fList, 10, 0, 1000, fNames.get());
  NNDataPreparator p(fList, s, nullptr, nullptr);
  MultiPassRecordIter* encoded = nullptr;
  int written = -1;
  EXPECT_TRUE(p.EncodeToTempFile(more, 3, encoded, written).IsOK());
  std::unique_ptr<MultiPassRecordIter> owned(encoded);
  EXPECT_EQ(written, 3);
  EXPECT_EQ(more.NextCalls(), 3);
  EXPECT_EQ(more.Rewinds(), 0) << "the caller decides about rewinding";
  EXPECT_EQ(Entries().size(), 1u);
  ExpectSource(owned.get(), 50, 3);
  owned.reset();
  EXPECT_TRUE(Entries().empty());

  CountingSource bad({Raw(0, 0, 9)});
  EXPECT_EQ(p.EncodeToTempFile(bad, 3, encoded, written), VXStatus(50004, false));
  EXPECT_EQ(encoded, nullptr);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(p.GetStatus(), VXStatus(50004, false));
  EXPECT_TRUE(Entries().empty());
}

TEST_F(PreparatorTest, KeepsTheCallBacksAndTheWeightedCount) {
  struct NeverCancel : VXCommon_1_2::VXQueryCancel {
    bool QueryCancel() override { return false; }
  } cancel;
  MLPSettings s = Settings(fList, 10, 0, 1000, fNames.get());
  s.SetCancelPointer(&cancel);
  NNDataPreparator p(fList, s, nullptr, nullptr);
  EXPECT_EQ(p.GetCancelPointer(), &cancel);
  p.SetWeightedCount(25);
  EXPECT_EQ(p.GetVarList().GetWeightedCount(), 25.0);
  p.SetWeightedCount(-1);
  EXPECT_EQ(p.GetVarList().GetWeightedCount(), 25.0);
}
