// The data preparator: the encoded-record layout, skipping rules, the
// memory budget and the temporary-file route, and one-pass reading of the
// host's sources.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <tuple>

#include "DataTestHelpers.h"
#include "vxneural/data/BinaryRecordIterator.h"
#include "vxneural/data/NNDataPreparator.h"
#include "vxneural/data/RecordBufferIter.h"

using namespace datatest;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;
using VXNeural::BinaryRecordIterator;

namespace {

TEST_F(PreparatorTest, EncodedLayoutSkippingCodesAndScoringRecords) {
  const MLPSettings s = Settings(10, 0, 1000);
  NNDataPreparator p(fList, s, nullptr, nullptr);
  EXPECT_EQ(p.GetRecordWidth(), 6);
  const VXStatus ok, skipped(50003, true);
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    Record raw;
    std::vector<double> encoded;
    VXStatus status;
  } const cases[] = {
      {Raw(5, 2, 0), {0.5, 0, 0, 1, 1, 0}, ok},
      // The unused field does not matter.
      {Record(std::vector<double>{10, 0, kMissing, 1}), Encoded(10, 0, 1), ok},
      // Codes are truncated toward zero.
      {Raw(5, 2.9, 1), Encoded(5, 2, 1), ok},
      {Raw(5, -0.5, 1), Encoded(5, 0, 1), ok},
      // A missing continuous value, or a user-missing one, is missing in its unit.
      {Raw(kMissing, 1, 0), {kMissing, 0, 1, 0, 1, 0}, ok},
      {Raw(99, 1, 0), {kMissing, 0, 1, 0, 1, 0}, ok},
      // A record shorter than the list reads as missing fields.
      {Record(std::vector<double>{5, 1}), {0.5, 0, 1, 0, 0, 0}, skipped},
  };
  Record out;  // reused, so every field must be overwritten
  for (const Case& c : cases) {
    EXPECT_EQ(p.EncodeRecord(c.raw, out), c.status) << &c - cases;
    EXPECT_EQ(Values(out), c.encoded) << &c - cases;
  }
  // A bad code leaves its units at zero; the other fields are still encoded.
  for (double c : {3.0, -1.0, 1e300, -1e300, kMissing, inf, std::nan("")}) {
    EXPECT_EQ(p.EncodeRecord(Raw(5, c, 1), out), skipped) << c;
    EXPECT_EQ(Values(out), (std::vector<double>{0.5, 0, 0, 0, 0, 1})) << c;
  }

  // Scoring fills the input units only: the target field is not looked at.
  NNDataPreparator q(fList, s, nullptr, nullptr);  // its status still fresh
  out = Record(std::vector<double>(6, 9.0));
  EXPECT_TRUE(q.EncodeInputs(Raw(5, 2, 7), out).IsOK());
  EXPECT_EQ(Values(out), (std::vector<double>{0.5, 0, 0, 1, 9, 9}));
  EXPECT_EQ(q.EncodeInputs(Raw(kMissing, 2, 0), out), VXStatus(50018, false));
  EXPECT_EQ(q.EncodeInputs(Raw(5, kMissing, 0), out), VXStatus(50018, false));
  // An invalid code is an error here, and the other inputs are still done.
  EXPECT_EQ(q.EncodeInputs(Raw(5, 3, 0), out), VXStatus(50003, false));
  EXPECT_EQ(out[0], 0.5);
  Record shortOut;
  EXPECT_TRUE(q.EncodeInputs(Raw(2, 0, 0), shortOut).IsOK());
  EXPECT_EQ(Values(shortOut), (std::vector<double>{0.2, 1, 0, 0}));
  EXPECT_TRUE(q.GetStatus().IsOK()) << "scoring leaves the preparator's status alone";
}

// The budget decides source by source between memory and a file of bare
// records; each source is read once, only as far as needed (the limits count
// records kept, not read), and rewound; a skipped record stops nothing, and
// Prepare answers with the status of the last pass.
TEST_F(PreparatorTest, BudgetOnePassAndSkipping) {
  struct Case {
    int trainHeld, nTrain, testHeld, nTest;
    long budget;
    bool trainInFile, testInFile, badTrainRecord;
  } const cases[] = {
      {600, 600, 300, 300, 1000, false, false, false},
      {700, 600, 450, 400, 1000, false, true, false},
      {700, 600, 450, 400, 100, true, true, false},
      {9, 9, 0, 0, 10, false, false, false},
      {10, 10, 5, 5, 10, true, false, false},
      {10, 10, 10, 10, 10, true, true, false},
      {6, 6, 3, 3, 10, false, false, false},
      {6, 6, 4, 4, 10, false, true, false},
      {12, 12, 9, 9, 10, true, false, false},
      {4, 4, 0, 0, 1000, false, false, true},
      {4, 4, 0, 0, 2, true, false, true},
      {3, 10, 2, 2, 1000, false, false, true},
  };
  for (const Case& c : cases) {
    const std::string label = std::to_string(&c - cases);
    std::vector<Record> records = Generate(0, c.trainHeld);
    if (c.badTrainRecord) records.insert(records.begin() + 1, Raw(5, 3, 0));
    CountingSource train(records), test(Generate(1000, c.testHeld));
    const MLPSettings s = Settings(c.nTrain, c.nTest, c.budget);
    NNDataPreparator p(fList, s, &train, c.nTest > 0 ? &test : nullptr);
    const bool lastPassSkipped = c.badTrainRecord && c.nTest == 0;
    EXPECT_EQ(p.Prepare(s), lastPassSkipped ? VXStatus(50003, true) : VXStatus()) << label;
    const int kept = std::min(c.trainHeld, c.nTrain);
    EXPECT_EQ(p.GetNTrainRecordsWritten(), kept);
    EXPECT_EQ(train.LongestRun(), std::min(c.trainHeld, c.nTrain) + c.badTrainRecord) << label;
    EXPECT_EQ(train.Rewinds(), 1);
    EXPECT_EQ(train.Position(), 0u);
    ExpectSource(p.GetTrainData(), 0, kept);
    std::vector<std::string> files;
    for (auto [data, inFile, first, count] :
         {std::tuple{p.GetTrainData(), c.trainInFile, 0, kept},
          std::tuple{p.GetTestData(), c.testInFile, 1000, c.nTest}}) {
      if (count == 0) continue;
      auto* file = dynamic_cast<BinaryRecordIterator*>(data);
      EXPECT_EQ(file != nullptr, inFile) << label;
      EXPECT_EQ(dynamic_cast<VXNeural::RecordBufferIter*>(data) != nullptr, !inFile) << label;
      if (file == nullptr) continue;
      files.push_back(file->GetFileName());
      std::ifstream in(file->GetFileName(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), {});
      // Bare records of 6 native doubles; ExpectSource reads them all back.
      ASSERT_EQ(bytes.size(), 8u * 6 * static_cast<std::size_t>(count)) << label;
      EXPECT_EQ(std::memcmp(bytes.data(), EncodedAt(first).data(), 48), 0) << label;
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(Entries(), files) << label;
    if (c.nTest == 0) continue;
    EXPECT_EQ(p.GetNTestRecordsWritten(), c.nTest);
    EXPECT_EQ(test.LongestRun(), c.nTest);
    EXPECT_EQ(test.Rewinds(), 1);
    ExpectSource(p.GetTestData(), 1000, c.nTest);
  }
}

TEST_F(PreparatorTest, NoGoodTrainingRecordGives50004AndSkipsTheTestPass) {
  for (long budget : {1000L, 1L}) {
    CountingSource train({Raw(1, 5, 0), Raw(1, 1, 2)}), test(Generate(0, 3));
    const MLPSettings s = Settings(10, 3, budget);
    NNDataPreparator p(fList, s, &train, &test);
    EXPECT_EQ(p.Prepare(s), VXStatus(50004, false)) << "budget " << budget;
    EXPECT_EQ(p.GetTrainData(), nullptr);
    EXPECT_EQ(p.GetTestData(), nullptr);
    EXPECT_EQ(train.Rewinds(), 1) << "rewound whatever the outcome";
    EXPECT_EQ(test.LongestRun() + test.Rewinds(), 0);
    EXPECT_TRUE(Entries().empty());
  }
  // A failed test pass after a training file: only the training file stays.
  CountingSource train(Generate(0, 8)), test({Raw(1, 1, 5)});
  const MLPSettings s = Settings(8, 1, 4);
  NNDataPreparator p(fList, s, &train, &test);
  EXPECT_EQ(p.Prepare(s), VXStatus(50004, false));
  EXPECT_NE(dynamic_cast<BinaryRecordIterator*>(p.GetTrainData()), nullptr);
  EXPECT_EQ(p.GetTestData(), nullptr);
  EXPECT_EQ(Entries().size(), 1u);
  EXPECT_EQ(test.Rewinds(), 1);
}

}  // namespace
