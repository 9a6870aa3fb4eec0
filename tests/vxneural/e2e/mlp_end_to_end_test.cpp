// A host's view of the component: its own record source over text rows,
// its own description of the fields, progress and cancel objects, and
// nothing but the factory and INeuralAlgorithm to build, train, score, save,
// restore and update multi-layer perceptrons, with a categorical target, a
// continuous target, and both at once.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/VXStatus.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/MLPFactory.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNContOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/variables/NNVarList.h"

namespace {

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;

const std::vector<std::string> kColours = {"red", "green", "blue"};
const std::vector<std::string> kAnswers = {"no", "yes"};

// The host's table: comma-separated rows "x,colour,v,answer,z".
std::string MakeTable(int rows, unsigned seed) {
  unsigned state = seed * 2246822519u + 7u;
  auto uniform = [&state] {
    state = state * 22695477u + 1u;
    return static_cast<double>((state >> 9) & 0xFFFFF) / 1048576.0;
  };
  std::ostringstream out;
  out.precision(17);
  for (int i = 0; i < rows; ++i) {
    const double x = std::round(uniform() * 1000.0) / 100.0;
    const int colour = static_cast<int>(uniform() * 3.0) % 3;
    const double v = std::round((uniform() * 4.0 - 2.0) * 100.0) / 100.0;
    const double noise = uniform() - 0.5;
    const bool yes = x + 2.5 * colour + 2.0 * v + 1.5 * noise > 7.0;
    const double z = std::cos(x / 4.0) + 0.4 * colour - 0.3 * v + 0.05 * noise;
    out << x << ',' << kColours[colour] << ',' << v << ',' << kAnswers[yes ? 1 : 0] << ',' << z
        << '\n';
  }
  return out.str();
}

int CodeOf(const std::vector<std::string>& values, const std::string& value) {
  for (std::size_t i = 0; i < values.size(); ++i)
    if (values[i] == value) return static_cast<int>(i);
  return -1;
}

// Parses its text on every pass, one row per Next; categories become
// their index among the values the host described.
class TableSource : public MultiPassRecordIter {
 public:
  explicit TableSource(std::string text) : fText(std::move(text)), fIn(fText) {}
  bool IsGood() override { return fIn.peek() != std::char_traits<char>::eof(); }
  const Record* Next() override {
    std::string line;
    if (!std::getline(fIn, line)) return nullptr;
    std::istringstream row(line);
    std::string cell[5];
    for (std::string& c : cell) std::getline(row, c, ',');
    fRecord = Record(std::vector<double>{std::stod(cell[0]), double(CodeOf(kColours, cell[1])),
                                         std::stod(cell[2]), double(CodeOf(kAnswers, cell[3])),
                                         std::stod(cell[4])});
    return &fRecord;
  }
  int GetStatus() override { return IsGood() ? kGood : kEndOfData; }
  int Rewind() override {
    fIn.clear();
    fIn.seekg(0);
    return GetStatus();
  }
  std::vector<Record> All() {
    std::vector<Record> all;
    Rewind();
    while (const Record* r = Next()) all.push_back(*r);
    Rewind();
    return all;
  }

 private:
  std::string fText;
  std::istringstream fIn;
  Record fRecord;
};

struct Stats {
  double min = 1e300, max = -1e300, mean = 0.0, variance = 0.0;
};

Stats StatsOf(const std::vector<Record>& rows, int field) {
  Stats s;
  for (const Record& r : rows) {
    s.min = std::min(s.min, r[field]);
    s.max = std::max(s.max, r[field]);
    s.mean += r[field];
  }
  s.mean /= rows.size();
  for (const Record& r : rows) s.variance += (r[field] - s.mean) * (r[field] - s.mean);
  s.variance /= rows.size() - 1;
  return s;
}

enum Targets { kAnswer, kZ, kBoth };

NNVarList Describe(const std::vector<Record>& rows, Targets targets) {
  NNVarList list;
  const Stats x = StatsOf(rows, 0);
  const Stats v = StatsOf(rows, 2);
  const Stats z = StatsOf(rows, 4);
  list.AddContVar("x", "size", x.min, x.max, x.mean, x.variance, INNVariable::kInput,
                  INNVariable::kReal);
  list.AddCatVar("colour", "", kColours, INNVariable::kInput, INNVariable::kString);
  list.AddContVar("v", "", v.min, v.max, v.mean, v.variance, INNVariable::kInput,
                  INNVariable::kReal);
  list.AddCatVar("answer", "", kAnswers,
                 targets == kZ ? INNVariable::kUnused : INNVariable::kOutput, INNVariable::kString);
  list.AddContVar("z", "", z.min, z.max, z.mean, z.variance,
                  targets == kAnswer ? INNVariable::kUnused : INNVariable::kOutput,
                  INNVariable::kReal);
  return list;
}

class Progress : public VXCommon_1_2::ProgressListener {
 public:
  void Report(VXCommon_1_2::ProgressReport& report) override {
    ++fReports;
    fLastPasses = report.DiscreteMeasure("dataPasses");
  }
  int fReports = 0;
  int fLastPasses = -1;
};

class NeverCancel : public VXCommon_1_2::VXQueryCancel {
 public:
  bool QueryCancel() override {
    ++fQueries;
    return false;
  }
  int fQueries = 0;
};

// What a host reads off a scored record.
struct Prediction {
  int answer = -1;
  double z = VXMV::gMissingValue;
  bool operator==(const Prediction& o) const { return answer == o.answer && z == o.z; }
};

Prediction Predict(INeuralAlgorithm& a, const Record& r, Targets targets) {
  const NNOutputList& out = a.Score(r);
  Prediction p;
  EXPECT_FALSE(out.IsMissing());
  if (out.IsMissing()) return p;
  int next = 0;
  if (targets != kZ) {
    p.answer = dynamic_cast<const NNCategOutput&>(*out.GetOutputAt(next++)).GetWinningIndex();
  }
  if (targets != kAnswer) {
    p.z = dynamic_cast<const NNContOutput&>(*out.GetOutputAt(next)).GetRealOutput();
  }
  return p;
}

std::vector<std::vector<double>> RawScores(INeuralAlgorithm& a, const std::vector<Record>& rows) {
  std::vector<std::vector<double>> scores;
  for (const Record& r : rows) {
    Record out;
    EXPECT_EQ(a.Score(r, out), VXStatus());
    scores.emplace_back(out.GetAll(), out.GetAll() + out.Size());
  }
  return scores;
}

// Holds a restored algorithm with the sources it was given.
struct Restored {
  std::unique_ptr<TableSource> train;
  std::unique_ptr<TableSource> test;
  std::unique_ptr<INeuralAlgorithm> algorithm;
};

class MlpEndToEnd : public testing::TestWithParam<Targets> {
 protected:
  void SetUp() override {
    fTrainText = MakeTable(400, 1);
    fTestText = MakeTable(100, 2);
    fHoldout = TableSource(MakeTable(200, 3)).All();
    fTrain = std::make_unique<TableSource>(fTrainText);
    fTest = std::make_unique<TableSource>(fTestText);
    fList = Describe(fTrain->All(), GetParam());
  }

  std::unique_ptr<Restored> RestoreOneStep(const std::string& saved, bool xml) {
    auto r = std::make_unique<Restored>();
    r->train = std::make_unique<TableSource>(fTrainText);
    r->test = std::make_unique<TableSource>(fTestText);
    std::istringstream in(saved);
    MLPFactory factory;
    r->algorithm.reset(
        xml ? factory.RestoreNeuralAlgorithmFromXML(in, *r->train, r->test.get())
            : factory.RestoreNeuralAlgorithmFromBinary(in, *r->train, r->test.get()));
    EXPECT_EQ(factory.GetStatus(), VXStatus());
    return r;
  }

  // The host looks at the saved fields first, then supplies sources.
  std::unique_ptr<Restored> RestoreTwoSteps(const std::string& saved, bool xml) {
    auto r = std::make_unique<Restored>();
    std::istringstream in(saved);
    MLPFactory factory;
    const NNVarList* list =
        xml ? factory.RestoreNNVarListFromXML(in) : factory.RestoreNNVarListFromBinary(in);
    EXPECT_NE(list, nullptr);
    if (list == nullptr) return r;
    EXPECT_EQ(list->FindVariable("colour"), 1);
    EXPECT_EQ(list->GetVarAt(1)->GetNumberOfCategories(), 3);
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    list->GetVarNames(inputs, outputs);
    EXPECT_EQ(inputs, (std::vector<std::string>{"x", "colour", "v"}));
    r->train = std::make_unique<TableSource>(fTrainText);
    r->test = std::make_unique<TableSource>(fTestText);
    r->algorithm.reset(
        xml ? factory.FinishRestoringAlgorithmFromXML(in, *r->train, r->test.get())
            : factory.FinishRestoringAlgorithmFromBinary(in, *r->train, r->test.get()));
    EXPECT_EQ(factory.GetStatus(), VXStatus());
    return r;
  }

  void ExpectSameScores(INeuralAlgorithm& a, INeuralAlgorithm& b) {
    EXPECT_EQ(RawScores(a, fHoldout), RawScores(b, fHoldout));
    for (const Record& r : fHoldout)
      ASSERT_EQ(Predict(a, r, GetParam()), Predict(b, r, GetParam()));
    EXPECT_EQ(a.GetAlgorithmStatus(), b.GetAlgorithmStatus());
    EXPECT_EQ(a.GetNumberOfDataPasses(), b.GetNumberOfDataPasses());
    EXPECT_EQ(a.GetTrainingError(), b.GetTrainingError());
  }

  std::string fTrainText;
  std::string fTestText;
  std::vector<Record> fHoldout;
  std::unique_ptr<TableSource> fTrain;
  std::unique_ptr<TableSource> fTest;
  NNVarList fList;
};

TEST_P(MlpEndToEnd, BuildTrainScoreSaveRestoreUpdate) {
  const Targets targets = GetParam();
  Progress progress;
  NeverCancel cancel;
  MLPSettings settings(fList, 400);
  settings.SetProgressListener(&progress);
  settings.SetCancelPointer(&cancel);
  settings.SetNHiddenUnitsRange(2, 6);

  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> a(
      factory.CreateNeuralAlgorithm(settings, fList, *fTrain, fTest.get(), nullptr));
  ASSERT_TRUE(a) << factory.GetStatus();
  EXPECT_EQ(settings.GetNTestRecords(), 100) << "the factory counted the test rows";
  EXPECT_EQ(a->GetAlgorithmType(), VXNNCommon::kMLP);

  // The host lets the component choose the hidden layer, then trains.
  ASSERT_EQ(a->SelectArchitecture(), VXStatus());
  EXPECT_EQ(a->GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_GE(a->GetNumberOfHiddenUnits(), 2);
  EXPECT_LE(a->GetNumberOfHiddenUnits(), 6);
  const int reportsBefore = progress.fReports;
  ASSERT_EQ(a->Train(400, -1), VXStatus());
  EXPECT_EQ(a->GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_GT(progress.fReports, reportsBefore);
  EXPECT_GT(progress.fLastPasses, 0);
  EXPECT_GT(cancel.fQueries, 0);
  EXPECT_NE(a->GetStopReason(), VXNNCommon::kStoppedUndefined);
  EXPECT_NE(a->GetTrainingError(), VXMV::gMissingValue);
  EXPECT_NE(a->GetTestingError(), VXMV::gMissingValue);

  // The predictions are worth having: better than the majority answer and
  // than the mean of z.
  const Stats z = StatsOf(fHoldout, 4);
  int hits = 0;
  int yes = 0;
  double squares = 0.0;
  for (const Record& r : fHoldout) {
    const Prediction p = Predict(*a, r, targets);
    if (targets != kZ) {
      hits += p.answer == static_cast<int>(r[3]);
      yes += r[3] == 1.0;
    } else {
      EXPECT_EQ(p.answer, -1);
    }
    if (targets != kAnswer) squares += (p.z - r[4]) * (p.z - r[4]);
  }
  const double n = static_cast<double>(fHoldout.size());
  if (targets != kZ) {
    EXPECT_GT(hits / n, std::max(yes, static_cast<int>(n) - yes) / n + 0.25);
  }
  if (targets != kAnswer) {
    EXPECT_LT(squares / n, 0.05 * z.variance);
  }

  TableSource holdout(MakeTable(200, 3));
  const double error = a->GetErrorOnData(holdout, 200);
  EXPECT_GT(error, 0.0);
  const double accuracy = a->GetAccuracy();
  EXPECT_GE(accuracy, 0.0);
  EXPECT_LE(accuracy, 100.0);
  if (targets == kAnswer) {
    EXPECT_NEAR(accuracy, 100.0 * hits / n, 1e-9);
  }

  // Saved both ways and restored both ways, it scores every row as before.
  std::stringstream binary;
  std::stringstream xml;
  ASSERT_EQ(a->SaveState(binary), VXStatus());
  ASSERT_EQ(a->SaveStateXML(xml), VXStatus());
  auto oneStep = RestoreOneStep(binary.str(), false);
  auto twoSteps = RestoreTwoSteps(xml.str(), true);
  ASSERT_TRUE(oneStep->algorithm);
  ASSERT_TRUE(twoSteps->algorithm);
  ExpectSameScores(*a, *oneStep->algorithm);
  ExpectSameScores(*a, *twoSteps->algorithm);

  // New rows arrive; the original and a restored copy learn them alike.
  TableSource news(MakeTable(60, 4));
  ASSERT_EQ(a->Update(news, 60), VXStatus());
  EXPECT_EQ(a->GetAlgorithmStatus(), VXNNCommon::kTrained);
  TableSource sameNews(MakeTable(60, 4));
  ASSERT_EQ(oneStep->algorithm->Update(sameNews, 60), VXStatus());
  ExpectSameScores(*a, *oneStep->algorithm);

  // And a model saved after its update restores as it is.
  std::stringstream updated;
  ASSERT_EQ(a->SaveState(updated), VXStatus());
  auto again = RestoreTwoSteps(updated.str(), false);
  ASSERT_TRUE(again->algorithm);
  ExpectSameScores(*a, *again->algorithm);
  ASSERT_EQ(a->Train(400, -1), VXStatus());
  ASSERT_EQ(again->algorithm->Train(400, -1), VXStatus());
  ExpectSameScores(*a, *again->algorithm);
}

INSTANTIATE_TEST_SUITE_P(MlpTargets, MlpEndToEnd, testing::Values(kAnswer, kZ, kBoth));

}  // namespace
