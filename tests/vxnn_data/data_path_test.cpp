// The data path of vxnn: field kinds, missing inputs, streaming a file
// pass after pass, and the JSON writer.
#include <gmock/gmock.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "data/Records.h"
#include "data/RowRecords.h"
#include "report/Json.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/NNCategOutput.h"
#include "vxneural/network/NNOutputList.h"
#include "vxneural/variables/NNContVar.h"
#include "vxnn/TestHost.h"

namespace fs = std::filesystem;
using namespace vxnn;

namespace {

using testhost::CsvFromText;
using testhost::Scratch;
using testhost::Targets;
using testhost::VarList;

}  // namespace

TEST(ReadNumber, FiniteNonFiniteAndText) {
  const struct {
    const char* fText;
    NumberText fKind;
    double fValue;
  } cases[] = {
      {"1.5", NumberText::kFinite, 1.5},    {" -2 \t", NumberText::kFinite, -2},
      {"1e-400", NumberText::kFinite, 0.0}, {"nan", NumberText::kNonFinite, 0},
      {"-inf", NumberText::kNonFinite, 0},  {"Infinity", NumberText::kNonFinite, 0},
      {"1e400", NumberText::kNonFinite, 0}, {"-1e400", NumberText::kNonFinite, 0},
      {"", NumberText::kText, 0},           {"  ", NumberText::kText, 0},
      {"1.2.3", NumberText::kText, 0},      {"12abc", NumberText::kText, 0},
  };
  for (const auto& c : cases) {
    double v = 99;
    EXPECT_EQ(ReadNumber(c.fText, v), c.fKind) << c.fText;
    if (c.fKind == NumberText::kFinite) {
      EXPECT_NEAR(v, c.fValue, 1e-300) << c.fText;
    }
  }
}

TEST(FieldKinds, NumbersAreContinuousAndFewWholeNumberTargetsCategorical) {
  // Columns t10 and t11 hold 10 and 11 whole numbers: at and one over the
  // default limit of 10.
  std::string text = "a,x,colour,t3,t10,t11,frac\n";
  const char* xs[] = {"0.5", "nan", "2", "inf", "1e400", "3", "4", "5", "6", "7", "8"};
  for (int i = 0; i < 11; ++i)
    text += std::to_string(2 * (i % 4) + 1) + "," + xs[i] + "," + (i % 2 ? "red" : "blue") + "," +
            std::to_string(i % 3) + "," + std::to_string(i % 10) + "," + std::to_string(i) + "," +
            std::to_string(i) + ".5\n";
  const CsvTable t = CsvFromText(text);
  auto asked = [](int n) {
    return "categorical (taken as categorical: " + std::to_string(n) +
           " whole-number values; use --continuous to change)";
  };
  // Target, --categorical, --continuous (each one field or none), the field.
  const struct {
    const char *fTarget, *fCategorical, *fContinuous, *fField;
    std::string fKind;
  } cases[] = {
      {"t3", "", "", "a", "continuous (numbers)"},
      {"t3", "", "", "x", "continuous (numbers; 3 non-finite values counted as missing)"},
      {"t3", "", "", "colour", "categorical (text)"},
      {"t3", "", "", "t3", asked(3)},
      {"t10", "", "", "t10", asked(10)},
      {"t11", "", "", "t11", "continuous (numbers)"},
      {"frac", "", "", "frac", "continuous (numbers)"},
      {"t3", "a", "", "a", "categorical (--categorical)"},
      {"t3", "", "t3", "t3", "continuous (--continuous)"},
      {"t3", "t11", "", "t11", "categorical (--categorical)"},
  };
  for (const auto& c : cases) {
    DescribeOptions o = Targets({c.fTarget});
    if (*c.fCategorical) o.fCategorical = {c.fCategorical};
    if (*c.fContinuous) o.fContinuous = {c.fContinuous};
    std::size_t rows = 0;
    TableRows source(t, "t.csv");
    const std::vector<FieldPlan> plan = PlanFields(source, o, &rows);
    EXPECT_EQ(rows, 11u);
    const auto f = std::find_if(plan.begin(), plan.end(),
                                [&](const FieldPlan& p) { return p.fName == c.fField; });
    ASSERT_NE(f, plan.end());
    EXPECT_EQ(FieldKindText(*f), c.fKind) << c.fField;
  }
}

TEST(FieldKinds, StatisticsComeFromTheTrainingSideOnly) {
  std::string text = "x,y\n";
  for (int i = 0; i < 40; ++i) text += std::to_string(i * i) + "," + (i % 2 ? "a" : "b") + "\n";
  const CsvTable t = CsvFromText(text);
  SplitDraw split(40, 0.25, 3);
  TableRows rows(t, "t.csv");
  const NNVarList list = BuildVarList(rows, PlanFields(t, Targets({"y"})), Targets({"y"}), &split);
  double sum = 0;
  const Partition p = SplitRecords(40, 0.25, 3);
  for (std::size_t i : p.fTrain) sum += static_cast<double>(i * i);
  EXPECT_EQ(p.fTest.size(), 10u);
  EXPECT_DOUBLE_EQ(dynamic_cast<const NNContVar*>(list.GetVarAt(0))->GetMean(), sum / 30);
  EXPECT_EQ(list.GetWeightedCount(), 30.0);
}

TEST(Streaming, AFileThatChangesBetweenPassesFailsTheSource) {
  Scratch s;
  const std::string path = s.Write("d.csv", "x,y\n1,a\n2,b\n");
  CsvFileRows rows(path);
  while (rows.Next()) {
  }
  s.Write("d.csv", "x,y\n1,a\n2,b\n3,a\n");
  rows.Rewind();
  EXPECT_NE(rows.Next(), nullptr);
  EXPECT_NE(rows.Next(), nullptr);
  // A grown file must not be read as if unchanged.
  EXPECT_THAT([&] { rows.Next(); },
              testing::ThrowsMessage<InputError>(testing::HasSubstr("line 4: the file grew")));
}

TEST(Streaming, TheSameModelAsFromMemory) {
  // A budget well below the training records makes the library spill its
  // encoded records to temporary files on both paths.
  Scratch s;
  TrainOptions o = testhost::ForTarget("cultivar");
  o.fMemoryBudget = 40;
  o.fTempDir = s.fDir.string();
  std::ostringstream quiet;
  ProgressBar progress(quiet, false);
  const std::string path = testhost::kData + "/wine.csv";
  auto streamed = TrainModel(FileOpener(path), o, progress, false);
  auto held = testhost::Train(ReadCsvFile(path), o, path);
  auto figures = [](const TrainResult& r) {
    return std::make_tuple(r.fTrainCounts.fKept, r.fTest.fRecords,
                           r.fAlgorithm->GetNumberOfDataPasses(), r.fAlgorithm->GetTrainingError());
  };
  EXPECT_EQ(figures(*streamed), figures(*held));
  EXPECT_GT(streamed->fTest.fRecords, 0);
  // Every output on every record the same, to the last bit.
  int compared = 0;
  vxnn::ScoringRecord inputs(*held->fAlgorithm->GetVarList());
  for (auto* source : {held->fTrainSource.get(), held->fTestSource.get()}) {
    source->Rewind();
    while (const VXCommon_1_2::Record* r = source->Next()) {
      const VXCommon_1_2::Record& in = inputs.Of(*r);
      auto outputs = [&in](const TrainResult& t) {
        return dynamic_cast<const NNCategOutput*>(t.fAlgorithm->Score(in).GetOutputAt(0))
            ->GetOutputs();
      };
      EXPECT_EQ(outputs(*streamed), outputs(*held));
      ++compared;
    }
  }
  EXPECT_EQ(compared, 178);
  // Both spilled their encoded records to files, and removed them after.
  EXPECT_FALSE(fs::is_empty(s.fDir));
  streamed.reset();
  held.reset();
  EXPECT_TRUE(fs::is_empty(s.fDir));
}

TEST(Streaming, ARaggedRowFarDownStopsWithItsLineAndLeavesNoFile) {
  Scratch s;
  std::string text = "a,b,y\n";
  for (int i = 0; i < 3000; ++i)
    text += i == 2500 ? "1,2\n"
                      : std::to_string(i % 7) + "," + std::to_string(i % 5) + ",k" +
                            std::to_string(i % 2) + "\n";
  const std::string error =
      "vxnn: error: " + s.Write("r.csv", text) + ": line 2502: 2 fields where the header has 3\n";
  fs::create_directories(s / "tmp");
  std::string err;
  EXPECT_EQ(s.Run("train @r.csv --target y --temp-dir @tmp --model @r.model", nullptr, &err), 1);
  EXPECT_EQ(err, error);
  EXPECT_TRUE(fs::is_empty(s / "tmp"));
  EXPECT_FALSE(fs::exists(s / "r.model"));
  // A good model for the other commands, which meet the row while scoring.
  text.replace(text.find("\n1,2\n"), 5, "\n1,2,k0\n");
  s.Write("ok.csv", text);
  ASSERT_EQ(s.Run("train @ok.csv --target y --model @r.model --max-data-passes 2 --no-importance"),
            0);
  for (const char* command : {"score @r.model @r.csv -o @out.csv", "eval @r.model @r.csv"}) {
    EXPECT_EQ(s.Run(command, nullptr, &err), 1) << command;
    EXPECT_EQ(err, error);
  }
  EXPECT_FALSE(fs::exists(s / "out.csv"));
  EXPECT_FALSE(fs::exists(s / "out.csv.partial"));
}

TEST(Json, WriterKeepsOrderEscapesAndWritesNullForNoValue) {
  std::ostringstream out;
  {
    JsonWriter j(out);
    j.BeginObject();
    j.Field("z", 1.5);
    j.Field("a", "q\"\n\x01");
    j.Field("missing", VXMV::gMissingValue);
    j.Field("nan", std::nan(""));
    j.Key("list").BeginArray();
    j.Integer(3);
    j.BeginObject();
    j.EndObject();
    j.Bool(false);
    j.EndArray();
    j.Key("empty").BeginArray();
    j.EndArray();
    j.EndObject();
  }
  EXPECT_EQ(out.str(),
            "{\n  \"z\": 1.5,\n  \"a\": \"q\\\"\\n\\u0001\",\n  \"missing\": null,\n  \"nan\": "
            "null,\n  \"list\": [\n    3,\n    {},\n    false\n  ],\n  \"empty\": []\n}\n");
}
