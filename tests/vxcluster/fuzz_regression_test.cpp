// Inputs that once made the clustering library do needless work.
#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "cluster_data.h"

namespace {

// A budget and leaf-entry limit far beyond the data: the tree's pools grow
// with the entries, so a handful of records costs a handful of entries
// (pools sized for the whole capacity up front took gigabytes here, and the
// largest limits overflowed the node count).
struct LargeBudgetCase {
  const char* name;
  std::size_t budget;
  int maxLeafEntries;
};

class LargeBudget : public ::testing::TestWithParam<LargeBudgetCase> {};

TEST_P(LargeBudget, FewRecordsClusterWithoutSizingTheWholeCapacity) {
  ClusterSettings settings;
  settings.SetMemoryBudget(GetParam().budget);
  settings.SetMaxLeafEntries(GetParam().maxLeafEntries);
  ClusterVarList vars = MakeVars(2, 1);
  ClusterModel model(settings, vars);
  ASSERT_TRUE(model.GetStatus().IsOK());
  const Planted p = MakePlanted(2, 20, 2, 1, 3);
  RowSource source(p.rows);
  ASSERT_TRUE(model.PreCluster(source).IsOK());
  EXPECT_EQ(model.GetNumRecords(), 40);
  ASSERT_TRUE(model.Cluster(2).IsOK());
  EXPECT_EQ(model.GetNumOfClusters(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cluster, LargeBudget,
    ::testing::Values(LargeBudgetCase{"Tebibyte", std::size_t{1} << 40, 1 << 28},
                      LargeBudgetCase{"Largest", std::numeric_limits<std::size_t>::max(),
                                      std::numeric_limits<int>::max()}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
