// The size selection's rules: folds, candidate grids and the choice, each
// checked against values worked out by hand; and the whole selection on
// data built so that the right size is known.
#include <gmock/gmock.h>

#include <cmath>
#include <sstream>
#include <tuple>

#include "TestHost.h"
#include "report/Report.h"
#include "report/TrainSummary.h"
#include "training/SizeSelection.h"
#include "training/Training.h"
#include "vxcommon/VXMissing.h"

using namespace vxnn;

namespace {

SizeCandidate Losses(int units, std::vector<double> folds) {
  SizeCandidate c;
  c.fUnits = units;
  double sum = 0.0;
  for (double l : folds) sum += l;
  c.fLoss = folds.empty() ? VXMV::gMissingValue : sum / static_cast<double>(folds.size());
  c.fFoldLosses = std::move(folds);
  return c;
}

}  // namespace

// Every record in exactly one fold; each stratum spread over the folds as
// evenly as it can be (its count over the folds, rounded either way); fold
// sizes within one of each other; the same seed gives the same folds.
TEST(SizeSelectionRules, FoldsAreBalancedPerStratumAndSeeded) {
  const struct {
    std::vector<int> fStrata;
    int fFolds;
  } cases[] = {
      {std::vector<int>(10, 0), 5},
      {std::vector<int>(23, 0), 5},
      // 12 of one class, 5 of another, 1 of a third, interleaved.
      {{0, 1, 0, 0, 1, 0, 2, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0}, 3},
      {{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.fStrata));
    const std::vector<int> fold = FoldOf(c.fStrata, c.fFolds, 7);
    ASSERT_EQ(fold.size(), c.fStrata.size());
    std::map<int, std::vector<int>> perStratum;  // stratum -> count per fold
    std::vector<int> sizes(static_cast<std::size_t>(c.fFolds), 0);
    for (std::size_t i = 0; i < fold.size(); ++i) {
      ASSERT_GE(fold[i], 0);
      ASSERT_LT(fold[i], c.fFolds);
      ++sizes[static_cast<std::size_t>(fold[i])];
      auto& counts = perStratum[c.fStrata[i]];
      counts.resize(static_cast<std::size_t>(c.fFolds), 0);
      ++counts[static_cast<std::size_t>(fold[i])];
    }
    const auto [small, large] = std::minmax_element(sizes.begin(), sizes.end());
    EXPECT_LE(*large - *small, 1);
    for (const auto& [stratum, counts] : perStratum) {
      int total = 0;
      for (int n : counts) total += n;
      for (int n : counts) {
        EXPECT_GE(n, total / c.fFolds) << "stratum " << stratum;
        EXPECT_LE(n, (total + c.fFolds - 1) / c.fFolds) << "stratum " << stratum;
      }
    }
    EXPECT_EQ(FoldOf(c.fStrata, c.fFolds, 7), fold);
  }
  // Another seed deals 30 records otherwise.
  EXPECT_NE(FoldOf(std::vector<int>(30, 0), 5, 1), FoldOf(std::vector<int>(30, 0), 5, 2));
}

TEST(SizeSelectionRules, FoldCountsAndGrids) {
  const std::pair<int, int> folds[] = {{0, 0}, {19, 0}, {20, 5}, {1000, 5}, {1001, 3}};
  for (const auto& [records, expected] : folds) EXPECT_EQ(FoldsFor(records), expected) << records;

  // Centres: 2, then powers of two while three records each remain, at
  // most 256.
  const std::pair<int, std::vector<int>> centres[] = {
      {5, {2}},
      {11, {2}},
      {12, {2, 4}},
      {95, {2, 4, 8, 16}},
      {96, {2, 4, 8, 16, 32}},
      {100000, {2, 4, 8, 16, 32, 64, 128, 256}},
  };
  for (const auto& [records, grid] : centres) EXPECT_EQ(RbfCentreGrid(records), grid) << records;
  EXPECT_EQ(OverlapGrid(8.0), (std::vector<double>{2.0, 4.0, 16.0, 32.0, 128.0, 512.0}));
}

// Least loss, the earlier on a tie, never a missing or left-out one; and
// the rule's size kept unless another beats it by more than the standard
// error of the paired fold differences.
TEST(SizeSelectionRules, ChoiceOfLeastLossAndOverTheRule) {
  SizeCandidate leftOut = Losses(8, {0.0, 0.0});
  leftOut.fLeftOut = "refused";
  const struct {
    const char* fWhat;
    std::vector<SizeCandidate> fCandidates;
    int fRule, fLeast, fChosen;
  } cases[] = {
      {"plain least",
       {Losses(2, {0.3, 0.3}), Losses(4, {0.1, 0.2}), Losses(8, {0.2, 0.2})},
       -1,
       1,
       1},
      {"tie keeps the earlier", {Losses(2, {0.2, 0.2}), Losses(4, {0.1, 0.3})}, -1, 0, 0},
      {"missing and left out never win",
       {Losses(2, {}), leftOut, Losses(16, {0.5, 0.5})},
       -1,
       2,
       2},
      {"nothing measured", {Losses(2, {}), leftOut}, -1, -1, -1},
      // Differences 4 - 32 on the folds: -0.1, -0.1, -0.1: mean -0.1,
      // standard error 0, clearly lower.
      {"clear win over the rule",
       {Losses(4, {0.2, 0.3, 0.4}), Losses(32, {0.3, 0.4, 0.5})},
       1,
       0,
       0},
      // Differences -0.3, +0.1, -0.1: mean -0.1; deviations -0.2, 0.2, 0:
      // sd sqrt(0.08 / 2) = 0.2, standard error 0.2 / sqrt(3) = 0.115:
      // -0.1 + 0.115 > 0, so the rule stays.
      {"a win within the noise keeps the rule",
       {Losses(4, {0.1, 0.5, 0.3}), Losses(32, {0.4, 0.4, 0.4})},
       1,
       0,
       1},
      // Differences -0.2, -0.1, -0.15: mean -0.15, sd 0.05, se 0.0289:
      // clearly lower.
      {"a steady win replaces the rule",
       {Losses(4, {0.2, 0.3, 0.25}), Losses(32, {0.4, 0.4, 0.4})},
       1,
       0,
       0},
      {"a rule that could not be measured", {Losses(4, {0.2, 0.3}), Losses(32, {})}, 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fWhat);
    EXPECT_EQ(LeastLoss(c.fCandidates), c.fLeast);
    EXPECT_EQ(ChooseOverRule(c.fCandidates, c.fRule), c.fChosen);
  }
}

// Four tight blobs on the corners of a square, the class of each the
// exclusive or of its corner's coordinates: two centres cannot separate
// them, four can. The RBF selection must keep a count of at least four and
// reach every test record; its summary names every candidate tried and the
// kept one, whose loss is the least.
TEST(SizeSelection, RbfCountFromDataWhereTheAnswerIsKnown) {
  std::ostringstream csv;
  csv << "x,y,label\n";
  for (int i = 0; i < 160; ++i) {
    const int corner = i % 4;
    const double cx = corner & 1 ? 4.0 : 0.0, cy = corner & 2 ? 4.0 : 0.0;
    // A fixed spread around each corner, the same for every corner.
    const double dx = 0.3 * std::sin(1.7 * i), dy = 0.3 * std::cos(2.3 * i);
    csv << cx + dx << "," << cy + dy << "," << (((corner & 1) ^ (corner >> 1)) ? "a" : "b") << "\n";
  }
  const CsvTable table = testhost::CsvFromText(csv.str());
  TrainOptions o;
  o.fDescribe.fTargets = {"label"};
  o.fNetwork = NetworkKind::kRBF;
  o.fImportance = false;
  ProgressBar quiet(std::cerr, false);
  const auto r = TrainModel(table, "xor.csv", o, quiet);
  ASSERT_EQ(r->fSizeSelections.size(), 1u);
  const SizeSelection& sel = r->fSizeSelections[0];
  EXPECT_EQ(sel.fNetwork, "rbf");
  EXPECT_EQ(sel.fFolds, 5);
  EXPECT_EQ(sel.fRecords, 160);
  ASSERT_FALSE(sel.fCandidates.empty());
  const SizeCandidate* kept = nullptr;
  for (const SizeCandidate& c : sel.fCandidates)
    if (c.fKept) kept = &c;
  ASSERT_NE(kept, nullptr);
  for (const SizeCandidate& c : sel.fCandidates) EXPECT_LE(kept->fLoss, c.fLoss) << c.fUnits;
  EXPECT_GE(kept->fUnits, 4);
  EXPECT_EQ(r->fAlgorithm->GetNumberOfHiddenUnits(), kept->fUnits);
  EXPECT_EQ(r->fHiddenChoice.fHow, HiddenChoice::kCrossValidation);
  EXPECT_EQ(r->fTest.fStats.GetPercentsCorrect().at(0), 100.0);

  // Two centres fail on the held-out folds: about half wrong.
  EXPECT_EQ(sel.fCandidates[0].fUnits, 2);
  EXPECT_GT(sel.fCandidates[0].fLoss, 0.25);

  std::ostringstream text;
  PrintTrainSummary(text, *r, {});
  EXPECT_THAT(text.str(), testing::HasSubstr("Size selection (rbf), 5-fold cross-validation"));
  EXPECT_EQ(testhost::Count(text.str(), "  (kept)"), 1) << text.str();
}

// The folds of a round are fitted side by side; the losses, the choice and
// the model are the same, bit for bit, whatever the number of threads. An
// RBF network's overlaps retrained from each fold's clusters give the
// losses that clustering afresh for every overlap gives.
TEST(SizeSelection, SameChoiceAndModelForAnyNumberOfThreads) {
  std::ostringstream csv;
  csv << "x,y,colour,label\n";
  for (int i = 0; i < 120; ++i)
    csv << std::sin(0.37 * i) << "," << std::cos(0.91 * i) << ","
        << "rgb"[i % 3] << "," << (std::sin(0.37 * i) * std::cos(0.91 * i) > 0 ? "p" : "q") << "\n";
  const CsvTable table = testhost::CsvFromText(csv.str());
  for (const NetworkKind kind : {NetworkKind::kMLP, NetworkKind::kRBF}) {
    std::vector<std::vector<double>> losses;
    std::vector<double> outputs;
    for (const int threads : {1, 2, 3, 8, -1}) {
      TrainOptions o;
      // -1: one thread, every overlap clustered afresh.
      o.fReuseClusters = threads != -1;
      o.fDescribe.fTargets = {"label"};
      o.fNetwork = kind;
      o.fImportance = false;
      o.fSelectionThreads = std::max(threads, 1);
      ProgressBar quiet(std::cerr, false);
      const auto r = TrainModel(table, "xy.csv", o, quiet);
      ASSERT_EQ(r->fSizeSelections.size(), 1u);
      std::vector<std::vector<double>> mine;
      for (const SizeCandidate& c : r->fSizeSelections[0].fCandidates)
        mine.push_back(c.fFoldLosses);
      ASSERT_GE(mine.size(), kind == NetworkKind::kRBF ? 9u : 3u);
      std::vector<double> scored;
      VXCommon_1_2::Record in(3), out;
      for (int i = 0; i < 120; ++i) {
        in[0] = std::sin(0.37 * i);
        in[1] = std::cos(0.91 * i);
        in[2] = i % 3;
        ASSERT_TRUE(r->fAlgorithm->Score(in, out).IsOK());
        scored.insert(scored.end(), out.GetAll(), out.GetAll() + out.Size());
      }
      if (threads == 1) {
        losses = mine;
        outputs = scored;
      } else {
        EXPECT_EQ(mine, losses) << threads << " threads";
        EXPECT_EQ(scored, outputs) << threads << " threads";
      }
    }
  }
}

// The summary shows each selection as the result holds it: every size
// tried, with its mean loss, time and whether it was kept, in the order
// tried, for a perceptron (early stopping or not) and for an RBF network
// (centres and overlaps).
TEST(SizeSelection, SummaryCarriesEverySizeCandidate) {
  std::ostringstream csv;
  csv << "x,y,label\n";
  for (int i = 0; i < 90; ++i)
    csv << std::sin(0.37 * i) << "," << std::cos(0.91 * i) << ","
        << (std::sin(0.37 * i) * std::cos(0.91 * i) > 0 ? "p" : "q") << "\n";
  const CsvTable table = testhost::CsvFromText(csv.str());
  for (const NetworkKind kind : {NetworkKind::kMLP, NetworkKind::kRBF}) {
    TrainOptions o;
    o.fDescribe.fTargets = {"label"};
    o.fNetwork = kind;
    o.fImportance = false;
    ProgressBar quiet(std::cerr, false);
    const auto r = TrainModel(table, "xy.csv", o, quiet);
    const TrainSummary s = SummarizeTraining(*r, {});
    ASSERT_EQ(r->fSizeSelections.size(), 1u);
    ASSERT_EQ(s.fSizeSelections.size(), 1u);
    const SizeSelection& made = r->fSizeSelections[0];
    const SizeSelection& shown = s.fSizeSelections[0];
    EXPECT_EQ(shown.fNetwork, kind == NetworkKind::kRBF ? "rbf" : "mlp");
    EXPECT_EQ(std::make_tuple(shown.fRecords, shown.fFolds, shown.fKeptBecause, shown.fSkipped),
              std::make_tuple(90, 5, made.fKeptBecause, std::string()));
    ASSERT_EQ(shown.fCandidates.size(), made.fCandidates.size());
    for (std::size_t i = 0; i < made.fCandidates.size(); ++i) {
      const SizeCandidate& c = made.fCandidates[i];
      const SizeCandidate& t = shown.fCandidates[i];
      EXPECT_EQ(std::make_tuple(t.fUnits, t.fOverlap, t.fToStopRules, t.fLeftOut, t.fLoss,
                                t.fSeconds, t.fKept),
                std::make_tuple(c.fUnits, c.fOverlap, c.fToStopRules, c.fLeftOut, c.fLoss,
                                c.fSeconds, c.fKept))
          << i;
    }
  }
}

// Below 20 usable records there is no selection: the size rule's network
// is trained, and the summary says why.
TEST(SizeSelection, TooFewRecordsKeepTheSizeRule) {
  std::ostringstream csv;
  csv << "x,y,label\n";
  for (int i = 0; i < 19; ++i) csv << i << "," << (i * 7) % 5 << "," << (i % 3 ? "a" : "b") << "\n";
  const CsvTable table = testhost::CsvFromText(csv.str());
  TrainOptions o;
  o.fDescribe.fTargets = {"label"};
  o.fImportance = false;
  ProgressBar quiet(std::cerr, false);
  const auto r = TrainModel(table, "few.csv", o, quiet);
  ASSERT_EQ(r->fSizeSelections.size(), 1u);
  EXPECT_EQ(r->fSizeSelections[0].fSkipped, "19 records are too few to cross-validate");
  EXPECT_TRUE(r->fSizeSelections[0].fCandidates.empty());
  TrainOptions rule = o;
  rule.fSizeSelection = SizeSelectionMode::kRule;
  EXPECT_EQ(
      r->fAlgorithm->GetNumberOfHiddenUnits(),
      MakeSettings(rule, *r->fList, static_cast<int>(r->fTrainCounts.fKept)).GetNumHiddenUnits(1));
  std::ostringstream text;
  PrintTrainSummary(text, *r, {});
  EXPECT_THAT(text.str(), testing::HasSubstr("Size selection (mlp): not run, 19 records are too "
                                             "few to cross-validate; the size rule applies\n"));
}

// Above 20000 usable records the default keeps the size rules and says
// why; the count includes the test share.
TEST(SizeSelection, LargeDataKeepTheSizeRuleUnlessAsked) {
  std::ostringstream csv;
  csv << "x,label\n";
  for (int i = 0; i <= kSelectionAutoMaxRecords; ++i)
    csv << i % 97 << "," << (i % 97 < 50 ? "a" : "b") << "\n";
  const CsvTable table = testhost::CsvFromText(csv.str());
  TrainOptions o;
  o.fDescribe.fTargets = {"label"};
  o.fImportance = false;
  o.fMaxDataPasses = 3;
  ProgressBar quiet(std::cerr, false);
  const auto r = TrainModel(table, "large.csv", o, quiet);
  ASSERT_EQ(r->fSizeSelections.size(), 1u);
  EXPECT_EQ(r->fSizeSelections[0].fSkipped,
            "20001 records are more than the 20000 it cross-validates unasked "
            "(--size-selection cv does)");
}
