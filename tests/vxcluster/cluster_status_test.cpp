#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

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

struct Refusal {
  const char* name;
  std::function<VXStatus(ClusterModel&)> call;
  int code;
  int datum0, datum1, datum2;
};

VXStatus Feed(ClusterModel& m, std::vector<std::vector<double>> rows, int failAfter = -1) {
  RowSource src(rows, failAfter);
  return m.PreCluster(src);
}

VXStatus Fed(ClusterModel& m, const std::function<VXStatus(ClusterModel&)>& then) {
  const VXStatus s = Feed(m, kRows);
  return s.IsOK() ? then(m) : s;
}

// Every bad call gets its error code, error severity and the detail data.
TEST(ClusterStatus, BadCallsAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  const Refusal rows[] = {
      {"ClusterFirst", [](ClusterModel& m) { return m.Cluster(2); }, kClusterNotPreClustered, 0, 0,
       0},
      {"AutoFirst", [](ClusterModel& m) { return m.AutoCluster(1, 3); }, kClusterNotPreClustered, 0,
       0, 0},
      {"KZero",
       [](ClusterModel& m) { return Fed(m, [](ClusterModel& x) { return x.Cluster(0); }); },
       kClusterBadClusterCount, 0, 0, 0},
      {"LeastZero",
       [](ClusterModel& m) { return Fed(m, [](ClusterModel& x) { return x.AutoCluster(0, 3); }); },
       kClusterBadClusterCount, 0, 0, 0},
      {"MostBelowLeast",
       [](ClusterModel& m) { return Fed(m, [](ClusterModel& x) { return x.AutoCluster(3, 2); }); },
       kClusterBadClusterCount, 0, 0, 2},
      {"Empty", [](ClusterModel& m) { return Feed(m, {}); }, kClusterEmptySource, 0, 0, 0},
      {"FailsHalfWay", [](ClusterModel& m) { return Feed(m, kRows, 4); }, kClusterSourceFailed, 4,
       0, 0},
      {"FailsAtOnce", [](ClusterModel& m) { return Feed(m, kRows, 0); }, kClusterSourceFailed, 0, 0,
       0},
      {"ShortRecord",
       [](ClusterModel& m) {
         return Feed(m, {{1, 1}, {2, 2}, {3}});
       },
       kClusterWrongRecordSize, 3, 0, 1},
      {"CategoryTooBig",
       [](ClusterModel& m) {
         return Feed(m, {{1, 1}, {2, 3}});
       },
       kClusterCategoryOutOfRange, 2, 1, 3},
      {"CategoryZero",
       [](ClusterModel& m) {
         return Feed(m, {{1, 0}});
       },
       kClusterCategoryOutOfRange, 1, 1, 0},
      {"CategoryFraction",
       [](ClusterModel& m) {
         return Feed(m, {{1, 1.5}});
       },
       kClusterCategoryOutOfRange, 1, 1, 1},
      {"InfiniteValue",
       [inf](ClusterModel& m) {
         return Feed(m, {{1, 1}, {-inf, 1}});
       },
       kClusterInfiniteValue, 2, 0, 0},
  };
  for (const Refusal& r : rows) {
    ClusterVarList vars = TwoVars();
    ClusterModel model(ClusterSettings(), vars);
    const VXStatus s = r.call(model);
    EXPECT_EQ(s.GetErrorCode(), r.code) << r.name;
    EXPECT_TRUE(s.IsError()) << r.name;
    EXPECT_EQ(s.GetDiscreteDatum(0), r.datum0) << r.name;
    EXPECT_EQ(s.GetDiscreteDatum(1), r.datum1) << r.name;
    EXPECT_EQ(s.GetDiscreteDatum(2), r.datum2) << r.name;
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
      {"ZeroScale", [](ClusterVarList& v, ClusterSettings&) { v.AddContVar(0, 0); },
       kClusterInvalidVarList, 2},
      {"NaNLocation", [](ClusterVarList& v, ClusterSettings&) { v.AddContVar(std::nan(""), 1); },
       kClusterInvalidVarList, 2},
      {"NoCategories",
       [](ClusterVarList& v, ClusterSettings&) { v.AddCatVar(0, ClusterVar::kNumericCategorical); },
       kClusterInvalidVarList, 2},
      {"ContinuousLevel",
       [](ClusterVarList& v, ClusterSettings&) { v.AddCatVar(3, ClusterVar::kContinuous); },
       kClusterInvalidVarList, 2},
      {"Budget", [](ClusterVarList&, ClusterSettings& s) { s.SetMemoryBudget(10); },
       kClusterInvalidSettings, 0},
      {"Entries", [](ClusterVarList&, ClusterSettings& s) { s.SetMaxLeafEntries(1); },
       kClusterInvalidSettings, 1},
      {"Branching", [](ClusterVarList&, ClusterSettings& s) { s.SetBranchingFactor(65); },
       kClusterInvalidSettings, 2},
      {"Threshold", [](ClusterVarList&, ClusterSettings& s) { s.SetInitialThreshold(-1); },
       kClusterInvalidSettings, 3},
      {"Floor", [](ClusterVarList&, ClusterSettings& s) { s.SetVarianceFloor(0); },
       kClusterInvalidSettings, 4},
      {"Ratio", [](ClusterVarList&, ClusterSettings& s) { s.SetDistanceRatio(0.5); },
       kClusterInvalidSettings, 5},
  };
  for (const Case& c : cases) {
    ClusterVarList vars = TwoVars();
    ClusterSettings settings;
    c.spoil(vars, settings);
    EXPECT_EQ(vars.Size(), 2) << c.name;  // a refused variable is not added
    ClusterModel model(settings, vars);
    EXPECT_EQ(model.GetStatus().GetErrorCode(), c.code) << c.name;
    EXPECT_EQ(model.GetStatus().GetDiscreteDatum(1), c.datum1) << c.name;
    EXPECT_EQ(Feed(model, kRows), model.GetStatus()) << c.name;
    EXPECT_EQ(model.Cluster(1), model.GetStatus()) << c.name;
  }
  ClusterVarList empty(0);
  ClusterModel model(ClusterSettings(), empty);
  EXPECT_EQ(model.GetStatus().GetErrorCode(), kClusterInvalidVarList);
}

}  // namespace
