#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>

#include "cluster_data.h"

namespace {

using namespace VXCluster;

const std::vector<std::vector<double>> kRows = {{0.5, 1}, {0.7, 2}, {9.0, 2}, {9.5, 1},
                                                {0.2, 1}, {8.8, 2}, {0.1, 1}};

ClusterVarList TwoVars() {
  ClusterVarList vars(2);
  vars.AddContVar(0.0, 1.0);
  vars.AddCatVar(2, ClusterVar::kNumericCategorical);
  return vars;
}

VXStatus Feed(ClusterModel& m, const Rows& rows, int failAfter = -1) {
  RowSource src(rows, failAfter);
  return m.PreCluster(src);
}

// Every bad call gets its error code, error severity and the detail data.
// Each case feeds its rows (when it has them) and, if that went well, asks
// for least clusters, or for least..most when most is above 0.
TEST(ClusterStatus, BadCallsAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* name;
    std::optional<Rows> rows;
    int failAfter, least, most, code, datum0, datum1, datum2;
  } cases[] = {
      {"ClusterFirst", {}, -1, 2, 0, kClusterNotPreClustered, 0, 0, 0},
      {"AutoFirst", {}, -1, 1, 3, kClusterNotPreClustered, 0, 0, 0},
      {"KZero", kRows, -1, 0, 0, kClusterBadClusterCount, 0, 0, 0},
      {"LeastZero", kRows, -1, 0, 3, kClusterBadClusterCount, 0, 0, 0},
      {"MostBelowLeast", kRows, -1, 3, 2, kClusterBadClusterCount, 0, 0, 2},
      {"Empty", Rows{}, -1, 1, 0, kClusterEmptySource, 0, 0, 0},
      {"FailsHalfWay", kRows, 4, 1, 0, kClusterSourceFailed, 4, 0, 0},
      {"FailsAtOnce", kRows, 0, 1, 0, kClusterSourceFailed, 0, 0, 0},
      {"ShortRecord", Rows{{1, 1}, {2, 2}, {3}}, -1, 1, 0, kClusterWrongRecordSize, 3, 0, 1},
      {"CategoryTooBig", Rows{{1, 1}, {2, 3}}, -1, 1, 0, kClusterCategoryOutOfRange, 2, 1, 3},
      {"CategoryZero", Rows{{1, 0}}, -1, 1, 0, kClusterCategoryOutOfRange, 1, 1, 0},
      {"CategoryFraction", Rows{{1, 1.5}}, -1, 1, 0, kClusterCategoryOutOfRange, 1, 1, 1},
      {"InfiniteValue", Rows{{1, 1}, {-inf, 1}}, -1, 1, 0, kClusterInfiniteValue, 2, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClusterVarList vars = TwoVars();
    ClusterModel model(ClusterSettings(), vars);
    VXStatus s = c.rows ? Feed(model, *c.rows, c.failAfter) : VXStatus();
    if (s.IsOK()) s = c.most > 0 ? model.AutoCluster(c.least, c.most) : model.Cluster(c.least);
    EXPECT_TRUE(s.IsError());
    EXPECT_EQ(std::make_tuple(s.GetErrorCode(), s.GetDiscreteDatum(0), s.GetDiscreteDatum(1),
                              s.GetDiscreteDatum(2)),
              std::make_tuple(c.code, c.datum0, c.datum1, c.datum2));
  }
}

// A failed pre-clustering leaves no summary behind; a refused clustering
// keeps the results it had; a new pre-clustering starts afresh.
TEST(ClusterStatus, FailuresLeaveNothingHalfDone) {
  ClusterVarList vars = TwoVars();
  ClusterModel model(ClusterSettings(), vars);
  ASSERT_TRUE(Feed(model, kRows).IsOK());
  ASSERT_TRUE(model.Cluster(2).IsOK());
  EXPECT_TRUE(model.Cluster(0).IsError());
  EXPECT_TRUE(model.AutoCluster(5, 1).IsError());
  EXPECT_EQ(model.GetNumOfClusters(), 2);

  EXPECT_EQ(Feed(model, kRows, 3).GetErrorCode(), kClusterSourceFailed);
  EXPECT_EQ(model.GetNumOfClusters(), 0);
  EXPECT_EQ(model.Cluster(1).GetErrorCode(), kClusterNotPreClustered);

  ASSERT_TRUE(Feed(model, {{1, 1}, {3, 2}}).IsOK());
  ASSERT_TRUE(model.Cluster(1).IsOK());
  EXPECT_EQ((*model.BeginResultClusters())->GetCaseCount(), 2);
}

// A list or settings out of range make the model refuse everything with the
// same status, naming the variable or the setting.
TEST(ClusterStatus, InvalidListOrSettingsAreRefused) {
  struct Case {
    const char* name;
    std::function<void(ClusterVarList&, ClusterSettings&)> spoil;
    int code, datum1;
  } cases[] = {
      {"ZeroScale", [](auto& v, auto&) { v.AddContVar(0, 0); }, kClusterInvalidVarList, 2},
      {"NaN", [](auto& v, auto&) { v.AddContVar(std::nan(""), 1); }, kClusterInvalidVarList, 2},
      {"NoCategories", [](auto& v, auto&) { v.AddCatVar(0, ClusterVar::kNumericCategorical); },
       kClusterInvalidVarList, 2},
      {"ContinuousLevel", [](auto& v, auto&) { v.AddCatVar(3, ClusterVar::kContinuous); },
       kClusterInvalidVarList, 2},
      {"Budget", [](auto&, auto& s) { s.SetMemoryBudget(10); }, kClusterInvalidSettings, 0},
      {"BudgetForWidth",
       [](auto& v, auto& s) {
         v.AddCatVar(500, ClusterVar::kStringCategorical);
         s.SetMemoryBudget(20000);
       },
       kClusterInvalidSettings, 0},
      {"Entries", [](auto&, auto& s) { s.SetMaxLeafEntries(1); }, kClusterInvalidSettings, 1},
      {"Branching", [](auto&, auto& s) { s.SetBranchingFactor(65); }, kClusterInvalidSettings, 2},
      {"Threshold", [](auto&, auto& s) { s.SetInitialThreshold(-1); }, kClusterInvalidSettings, 3},
      {"Floor", [](auto&, auto& s) { s.SetVarianceFloor(0); }, kClusterInvalidSettings, 4},
      {"Ratio", [](auto&, auto& s) { s.SetDistanceRatio(0.5); }, kClusterInvalidSettings, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClusterVarList vars = TwoVars();
    ClusterSettings settings;
    c.spoil(vars, settings);
    if (c.code == kClusterInvalidVarList) {
      EXPECT_EQ(vars.Size(), 2);  // a refused variable is not added
    }
    ClusterModel model(settings, vars);
    EXPECT_EQ(model.GetStatus().GetErrorCode(), c.code);
    EXPECT_EQ(model.GetStatus().GetDiscreteDatum(1), c.datum1);
    EXPECT_EQ(Feed(model, kRows), model.GetStatus());
    EXPECT_EQ(model.Cluster(1), model.GetStatus());
  }
  ClusterVarList empty(0);
  ClusterModel model(ClusterSettings(), empty);
  EXPECT_EQ(model.GetStatus().GetErrorCode(), kClusterInvalidVarList);
}

}  // namespace
