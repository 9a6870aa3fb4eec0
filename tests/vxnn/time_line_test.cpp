// The summary's time line: the job clock's charging of time to phases, and
// the phases `vxnn train` shows for each set of options, in both forms.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <tuple>

#include "TestHost.h"
#include "training/JobClock.h"

namespace {

using vxnn::JobClock;
using vxnn::Phase;

// A clock the test moves by hand.
double gNow = 0.0;
double FakeNow() { return gNow; }

TEST(JobClock, ChargesEachMomentToTheInnermostPhase) {
  gNow = 100.0;
  JobClock clock(&FakeNow);
  gNow = 101.0;
  {
    const JobClock::Scope reading = clock.Enter(Phase::kReading);
    gNow = 103.0;
    {
      const JobClock::Scope training = clock.Enter(Phase::kTraining);
      gNow = 104.0;
      {
        // Rows read while the library trains.
        const JobClock::Scope rows = clock.Enter(Phase::kReading);
        gNow = 106.0;
        // Entering the running phase again changes nothing.
        const JobClock::Scope again = JobClock::Enter(&clock, Phase::kReading);
        gNow = 106.5;
      }
      gNow = 107.0;
    }
    gNow = 110.0;
  }
  JobClock::Scope saving = clock.Enter(Phase::kSaving);
  gNow = 110.25;
  saving.End();
  gNow = 111.0;
  clock.Stop();
  gNow = 200.0;  // a stopped clock no longer moves
  {
    const JobClock::Scope late = clock.Enter(Phase::kRefit);
    gNow = 300.0;
  }

  // Worked out by hand from the moves above.
  const std::map<Phase, double> expected = {
      {Phase::kOther, 1.0 + 0.75},   {Phase::kReading, 2.0 + 2.5 + 3.0},
      {Phase::kTraining, 1.0 + 0.5}, {Phase::kSaving, 0.25},
      {Phase::kSelection, 0.0},      {Phase::kRefit, 0.0},
      {Phase::kMeasuring, 0.0},      {Phase::kImportance, 0.0}};
  for (const auto& [phase, seconds] : expected)
    EXPECT_DOUBLE_EQ(clock.Seconds(phase), seconds) << vxnn::PhaseName(phase);
  EXPECT_DOUBLE_EQ(clock.Total(), 11.0);
  EXPECT_TRUE(clock.Ran(Phase::kReading));
  EXPECT_TRUE(clock.Ran(Phase::kSaving));
  EXPECT_TRUE(clock.Ran(Phase::kRefit));  // entered, though after the end
  EXPECT_FALSE(clock.Ran(Phase::kSelection));
  EXPECT_FALSE(clock.Ran(Phase::kImportance));
}

TEST(JobClock, ARunningPhaseCountsUpToNowAndANullClockTimesNothing) {
  gNow = 0.0;
  JobClock clock(&FakeNow);
  const JobClock::Scope training = clock.Enter(Phase::kTraining);
  gNow = 2.5;
  EXPECT_DOUBLE_EQ(clock.Seconds(Phase::kTraining), 2.5);
  EXPECT_DOUBLE_EQ(clock.Total(), 2.5);
  {
    const JobClock::Scope none = JobClock::Enter(nullptr, Phase::kReading);
    gNow = 4.0;
  }
  EXPECT_DOUBLE_EQ(clock.Seconds(Phase::kTraining), 4.0);
  EXPECT_FALSE(clock.Ran(Phase::kReading));
}

// The time line of one `vxnn train`: its text line and the JSON summary
// of the same run.
struct Line {
  std::map<std::string, double> fText;  // phase -> seconds as printed
  int fTextPasses = -1;
  double fTextTotal = -1.0;
  std::string fSpill;            // the text after the total, if any
  nlohmann::ordered_json fJson;  // the phases in the order written
};

Line TrainAndRead(const testhost::Scratch& dir, const std::string& options) {
  std::string out, err;
  const bool saves = options.find("--no-save") == std::string::npos;
  const int code = dir.Run(
      "train data/iris.csv --target species --no-progress --summary-json "
      "@summary.json " +
          options + (saves ? " --model @iris.model" : ""),
      &out, &err);
  EXPECT_EQ(code, 0) << err;
  Line line;
  line.fJson = nlohmann::ordered_json::parse(testhost::Slurp(dir / "summary.json"))["time"];
  const std::size_t at = out.find("\nTime: ");
  EXPECT_NE(at, std::string::npos) << out;
  if (at == std::string::npos) return line;
  const std::string text = out.substr(at + 7, out.find('\n', at + 1) - at - 7);
  const std::regex phase(
      "([a-z]+) ([0-9]+\\.[0-9]{2}) s( \\(([0-9]+) pass(es)? over the file\\))?");
  const std::string phases = text.substr(0, text.find(';'));
  for (std::sregex_iterator m(phases.begin(), phases.end(), phase), end; m != end; ++m) {
    line.fText[(*m)[1]] = std::stod((*m)[2]);
    if ((*m)[4].matched) line.fTextPasses = std::stoi((*m)[4]);
  }
  std::smatch total;
  const std::string rest = text.substr(text.find(';'));
  if (std::regex_search(rest, total, std::regex("^; ([0-9]+\\.[0-9]{2}) s in all")))
    line.fTextTotal = std::stod(total[1]);
  line.fSpill = rest.substr(std::min<std::size_t>(rest.size(), total.length()));
  return line;
}

struct Options {
  const char* fName;
  const char* fOptions;
  std::vector<std::string> fPhases;  // in the order shown
  int fFilePasses;                   // worked out by hand, see below
  int fBudget = 0;                   // --memory-budget; 0: the default, 1000
};

void PrintTo(const Options& o, std::ostream* os) { *os << o.fName; }

class TimeLine : public testing::TestWithParam<Options> {};

// Passes over the file: one to decide the kinds, one for the variable list,
// one per side to count the usable records, one per side as the library
// encodes them (and one more as its factory counts the test records), one
// per side to measure the model; the size selection reads both sides once
// more into memory, the refit counts every record and encodes them (two);
// importance and saving read no rows.
TEST_P(TimeLine, ShowsThePhasesThatRanInBothFormsAlike) {
  const Options& o = GetParam();
  const testhost::Scratch dir;
  const Line line = TrainAndRead(dir, o.fOptions);

  std::vector<std::string> shown;
  for (const auto& [name, seconds] : line.fJson["phases"].items()) shown.push_back(name);
  EXPECT_EQ(shown, o.fPhases);
  EXPECT_EQ(line.fJson["file_passes"], o.fFilePasses);
  EXPECT_EQ(line.fTextPasses, o.fFilePasses);

  const double total = line.fJson["seconds"];
  double sum = 0.0;
  for (const auto& [name, seconds] : line.fJson["phases"].items()) {
    const double s = seconds;
    EXPECT_GE(s, 0.0) << name;
    sum += s;
    // The text rounds to hundredths what the JSON gives.
    ASSERT_EQ(line.fText.count(name), 1u) << name;
    EXPECT_NEAR(line.fText.at(name), s, 0.005 + 1e-9) << name;
  }
  EXPECT_EQ(line.fText.size(), shown.size());
  EXPECT_LE(sum, total + 1e-9);
  EXPECT_NEAR(line.fTextTotal, total, 0.005 + 1e-9);

  // The encoded records of a run go to a temporary file from the memory
  // budget up: iris holds 105 training records and 150 in all; the passes
  // named are the runs' own data passes.
  const nlohmann::json summary = nlohmann::json::parse(testhost::Slurp(dir / "summary.json"));
  const bool refitted = !summary["refit"].is_null();
  const bool trainingSpills = o.fBudget > 0 && 105 >= o.fBudget;
  const bool refitSpills = o.fBudget > 0 && refitted && 150 >= o.fBudget;
  const nlohmann::ordered_json& spill = line.fJson["temporary_files"];
  ASSERT_EQ(spill.is_null(), !trainingSpills && !refitSpills);
  if (spill.is_null()) {
    EXPECT_EQ(line.fSpill, "");
    return;
  }
  EXPECT_EQ(spill["memory_budget"].get<int>(), o.fBudget);
  std::vector<std::string> runs;
  for (const auto& [run, spills, figures] :
       {std::make_tuple("training", trainingSpills, summary["training"]),
        std::make_tuple("refit", refitSpills, summary["refit"])}) {
    const std::string key = std::string(run) + "_passes";
    ASSERT_EQ(spill.contains(key), spills) << run;
    if (!spills) continue;
    const int passes = figures["data_passes"].get<int>();
    EXPECT_EQ(spill[key].get<int>(), passes) << run;
    runs.push_back(std::string(run) + " on " + std::to_string(passes) + " data passes");
  }
  EXPECT_EQ(line.fSpill, "; encoded records read from temporary files (the memory budget is " +
                             std::to_string(o.fBudget) + " records): " + runs[0] +
                             (runs.size() > 1 ? ", " + runs[1] : ""));
}

INSTANTIATE_TEST_SUITE_P(
    Options, TimeLine,
    testing::Values(
        Options{"Defaults",
                "",
                {"reading", "selection", "training", "measuring", "refit", "importance", "saving"},
                2 + 2 + 3 + 2 + 2 + 2,
                0},
        Options{"NoRefit",
                "--no-refit",
                {"reading", "selection", "training", "measuring", "importance", "saving"},
                2 + 2 + 3 + 2 + 2,
                0},
        Options{"RuleSizeNoImportance",
                "--size-selection rule --no-importance",
                {"reading", "training", "measuring", "refit", "saving"},
                2 + 2 + 3 + 2 + 2,
                0},
        Options{"NothingAfterTheHeldOutRun",
                "--size-selection rule --no-refit --no-importance --no-save",
                {"reading", "training", "measuring"},
                2 + 2 + 3 + 2,
                0},
        Options{"SpilledToTemporaryFiles",
                "--size-selection rule --no-importance --memory-budget 50",
                {"reading", "training", "measuring", "refit", "saving"},
                2 + 2 + 3 + 2 + 2,
                50},
        Options{"SpilledAtTheBudget",
                "--size-selection rule --no-refit --no-importance --memory-budget 105",
                {"reading", "training", "measuring", "saving"},
                2 + 2 + 3 + 2,
                105},
        Options{"OnlyTheRefitSpilled",
                "--size-selection rule --no-importance --memory-budget 106",
                {"reading", "training", "measuring", "refit", "saving"},
                2 + 2 + 3 + 2 + 2,
                106},
        Options{"WithoutTestRecords",
                "--test-fraction 0 --no-importance",
                {"reading", "selection", "training", "measuring", "saving"},
                2 + 1 + 1 + 1 + 1,
                0}),
    [](const testing::TestParamInfo<Options>& info) { return info.param.fName; });

// Too few records to cross-validate: the selection is skipped, and the
// time line does not show it.
TEST(TimeLineOf, ASkippedSelectionIsLeftOut) {
  const testhost::Scratch dir;
  std::string csv = "x,y\n";
  for (int i = 0; i < 15; ++i) csv += std::to_string(i) + (i < 8 ? ",low\n" : ",high\n");
  dir.Write("few.csv", csv);
  std::string out, err;
  ASSERT_EQ(dir.Run("train @few.csv --target y --no-progress --no-save --no-importance "
                    "--summary-json @summary.json",
                    &out, &err),
            0)
      << err;
  const nlohmann::ordered_json summary =
      nlohmann::ordered_json::parse(testhost::Slurp(dir / "summary.json"));
  ASSERT_TRUE(summary["size_selection"].is_array());
  EXPECT_TRUE(summary["size_selection"][0]["skipped"].is_string());
  std::vector<std::string> shown;
  for (const auto& [name, seconds] : summary["time"]["phases"].items()) shown.push_back(name);
  EXPECT_EQ(shown, (std::vector<std::string>{"reading", "training", "measuring", "refit"}));
  const std::size_t at = out.find("\nTime: ");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_THAT(out.substr(at), testing::Not(testing::HasSubstr("selection")));
}

}  // namespace
