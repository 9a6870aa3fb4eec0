// A host's view of the component: its own record source over text rows,
// its own description of the fields, progress and cancel objects, and
// nothing but the factory and INeuralAlgorithm to build, train, score, save,
// restore and update multi-layer perceptrons, with a categorical target, a
// continuous target, and both at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/host_doubles.h"
#include "common/mixed_records.h"
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

using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;

const std::vector<std::string> kColours = {"red", "green", "blue"};
const std::vector<std::string> kAnswers = {"no", "yes"};

// The host's table: comma-separated rows "x,colour,v,answer,z".
std::string MakeTable(int rows, unsigned seed) {
  std::ostringstream out;
  out.precision(17);
  for (const Record& r : mixed_records::MakeRecords(rows, seed))
    out << r[0] << ',' << kColours[int(r[1])] << ',' << r[2] << ',' << kAnswers[int(r[3])] << ','
        << r[4] << '\n';
  return out.str();
}

// Parses its text on every pass, one row per Next; categories become
// their index among the values the host described.
class TableSource : public VXCommon_1_2::MultiPassRecordIter {
 public:
  explicit TableSource(std::string text) : fIn(std::move(text)) {}
  bool IsGood() override { return fIn.peek() != std::char_traits<char>::eof(); }
  const Record* Next() override {
    std::string line, colour, answer;
    if (!std::getline(fIn, line)) return nullptr;
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream row(line);
    double x, v, z;
    row >> x >> colour >> v >> answer >> z;
    const double c = std::find(kColours.begin(), kColours.end(), colour) - kColours.begin();
    fRecord = Record(std::vector<double>{x, c, v, answer == "yes" ? 1.0 : 0.0, z});
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
    for (Rewind(); const Record* r = Next();) all.push_back(*r);
    Rewind();
    return all;
  }

 private:
  std::istringstream fIn;
  Record fRecord;
};

enum Targets { kAnswer, kZ, kBoth };

NNVarList Describe(const std::vector<Record>& rows, Targets targets) {
  NNVarList list;
  auto continuous = [&](const char* name, int field, INNVariable::VariableRole role) {
    const mixed_records::Moments m = mixed_records::MomentsOf(rows, field);
    list.AddContVar(name, "", m.min, m.max, m.mean, m.variance, role, INNVariable::kReal);
  };
  continuous("x", 0, INNVariable::kInput);
  list.AddCatVar("colour", "", kColours, INNVariable::kInput, INNVariable::kString);
  continuous("v", 2, INNVariable::kInput);
  list.AddCatVar("answer", "", kAnswers,
                 targets == kZ ? INNVariable::kUnused : INNVariable::kOutput, INNVariable::kString);
  continuous("z", 4, targets == kAnswer ? INNVariable::kUnused : INNVariable::kOutput);
  return list;
}

class MlpEndToEnd : public testing::TestWithParam<Targets> {
 protected:
  // What a host reads off each row: the winning answer and z (for the
  // targets there are), then the raw network outputs.
  std::vector<double> Predictions(INeuralAlgorithm& a) {
    std::vector<double> all;
    for (const Record& r : fHoldout) {
      const NNOutputList& out = a.Score(r);
      EXPECT_FALSE(out.IsMissing());
      for (int i = 0; !out.IsMissing() && i < out.Size(); ++i) {
        const auto* answer = dynamic_cast<const NNCategOutput*>(out.GetOutputAt(i));
        all.push_back(answer
                          ? answer->GetWinningIndex()
                          : dynamic_cast<const NNContOutput&>(*out.GetOutputAt(i)).GetRealOutput());
      }
      Record raw;
      EXPECT_EQ(a.Score(r, raw), VXStatus());
      all.insert(all.end(), raw.GetAll(), raw.GetAll() + raw.Size());
    }
    return all;
  }

  // From binary in one step, or from XML in two: the host looks at the
  // saved fields first, then supplies sources like the ones it trained with.
  std::unique_ptr<INeuralAlgorithm> Restore(const std::string& saved, bool xml) {
    std::istringstream in(saved);
    MLPFactory factory;
    if (xml) {
      const NNVarList* list = factory.RestoreNNVarListFromXML(in);
      EXPECT_NE(list, nullptr);
      if (list == nullptr) return nullptr;
      std::vector<std::string> inputs, outputs;
      list->GetVarNames(inputs, outputs);
      EXPECT_EQ(inputs, (std::vector<std::string>{"x", "colour", "v"}));
      EXPECT_EQ(list->GetVarAt(list->FindVariable("colour"))->GetNumberOfCategories(), 3);
    }
    fSources.push_back(std::make_unique<TableSource>(MakeTable(400, 1)));
    fSources.push_back(std::make_unique<TableSource>(MakeTable(100, 2)));
    TableSource &train = *fSources[fSources.size() - 2], &test = *fSources.back();
    std::unique_ptr<INeuralAlgorithm> a(
        xml ? factory.FinishRestoringAlgorithmFromXML(in, train, &test)
            : factory.RestoreNeuralAlgorithmFromBinary(in, train, &test));
    EXPECT_EQ(factory.GetStatus(), VXStatus());
    return a;
  }

  void ExpectSame(INeuralAlgorithm& a, INeuralAlgorithm& b) {
    EXPECT_EQ(Predictions(a), Predictions(b));
    EXPECT_EQ(a.GetAlgorithmStatus(), b.GetAlgorithmStatus());
    EXPECT_EQ(a.GetNumberOfDataPasses(), b.GetNumberOfDataPasses());
    EXPECT_EQ(a.GetTrainingError(), b.GetTrainingError());
  }

  std::vector<Record> fHoldout = TableSource(MakeTable(200, 3)).All();
  std::vector<std::unique_ptr<TableSource>> fSources;
};

TEST_P(MlpEndToEnd, BuildTrainScoreSaveRestoreUpdate) {
  const Targets targets = GetParam();
  TableSource train(MakeTable(400, 1)), test(MakeTable(100, 2));
  NNVarList list = Describe(train.All(), targets);
  // The host watches the progress, and is asked about cancelling, which it
  // never does.
  int lastPasses = -1;
  host_doubles::FunctionListener progress([&](VXCommon_1_2::ProgressReport& report) {
    lastPasses = report.DiscreteMeasure("dataPasses");
  });
  host_doubles::CountdownCancel cancel;
  MLPSettings settings(list, 400);
  settings.SetProgressListener(&progress);
  settings.SetCancelPointer(&cancel);
  settings.SetNHiddenUnitsRange(2, 6);
  MLPFactory factory;
  std::unique_ptr<INeuralAlgorithm> a(
      factory.CreateNeuralAlgorithm(settings, list, train, &test, nullptr));
  ASSERT_TRUE(a) << factory.GetStatus();
  EXPECT_EQ(settings.GetNTestRecords(), 100) << "the factory counted the test rows";

  // The host lets the component choose the hidden layer, then trains.
  ASSERT_EQ(a->SelectArchitecture(), VXStatus());
  EXPECT_EQ(a->GetAlgorithmStatus(), VXNNCommon::kNotStarted);
  EXPECT_GE(a->GetNumberOfHiddenUnits(), 2);
  EXPECT_LE(a->GetNumberOfHiddenUnits(), 6);
  const int reportsBefore = progress.fReports;
  ASSERT_EQ(a->Train(400, -1), VXStatus());
  EXPECT_EQ(a->GetAlgorithmStatus(), VXNNCommon::kTrained);
  EXPECT_GT(progress.fReports, reportsBefore);
  EXPECT_GT(lastPasses, 0);
  EXPECT_GT(cancel.fQueries, 0);
  EXPECT_NE(a->GetStopReason(), VXNNCommon::kStoppedUndefined);
  EXPECT_NE(a->GetTrainingError(), VXMV::gMissingValue);
  EXPECT_NE(a->GetTestingError(), VXMV::gMissingValue);

  // The predictions are worth having: better than the majority answer and
  // than the mean of z.
  const std::vector<double> p = Predictions(*a);
  const std::size_t width = p.size() / fHoldout.size(), zAt = targets == kBoth ? 1 : 0;
  const double n = static_cast<double>(fHoldout.size());
  int hits = 0, yes = 0;
  double squares = 0.0;
  for (std::size_t i = 0; i < fHoldout.size(); ++i) {
    hits += p[i * width] == fHoldout[i][3];
    yes += fHoldout[i][3] == 1.0;
    squares += std::pow(p[i * width + zAt] - fHoldout[i][4], 2);
  }
  if (targets != kZ) {
    EXPECT_GT(hits / n, std::max(yes, int(n) - yes) / n + 0.25);
  }
  if (targets != kAnswer) {
    EXPECT_LT(squares / n, 0.05 * mixed_records::MomentsOf(fHoldout, 4).variance);
  }
  TableSource holdout(MakeTable(200, 3));
  EXPECT_GT(a->GetErrorOnData(holdout, 200), 0.0);
  if (targets == kAnswer) {
    EXPECT_NEAR(a->GetAccuracy(), 100.0 * hits / n, 1e-9);
  }

  // Saved both ways and restored both ways, it scores every row as before.
  std::stringstream binary, xml;
  ASSERT_EQ(a->SaveState(binary), VXStatus());
  ASSERT_EQ(a->SaveStateXML(xml), VXStatus());
  auto fromBinary = Restore(binary.str(), false), fromXML = Restore(xml.str(), true);
  ASSERT_TRUE(fromBinary && fromXML);
  ExpectSame(*a, *fromBinary);
  ExpectSame(*a, *fromXML);

  // New rows arrive; the original and a restored copy learn them alike, and
  // train on alike.
  TableSource news(MakeTable(60, 4)), sameNews(MakeTable(60, 4));
  ASSERT_EQ(a->Update(news, 60), VXStatus());
  EXPECT_EQ(a->GetAlgorithmStatus(), VXNNCommon::kTrained);
  ASSERT_EQ(fromXML->Update(sameNews, 60), VXStatus());
  ExpectSame(*a, *fromXML);
  ASSERT_EQ(a->Train(400, -1), VXStatus());
  ASSERT_EQ(fromXML->Train(400, -1), VXStatus());
  ExpectSame(*a, *fromXML);
}

INSTANTIATE_TEST_SUITE_P(MlpTargets, MlpEndToEnd, testing::Values(kAnswer, kZ, kBoth));

}  // namespace
