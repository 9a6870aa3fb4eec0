// The merging of the leaf entries on several threads: a clustering run
// gives the same clusters, bit for bit, on 1, 2, 3 and 8 threads, run by a
// host's runner or by threads of the library's own, and the planted
// clusters come back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cluster_data.h"

namespace {

// Everything a run leaves: the chosen count and, per result cluster, its
// records, means, variances and category counts.
std::vector<double> RunOf(ClusterSettings settings, const Planted& p, int nCont, int nCat) {
  ClusterVarList vars = MakeVars(nCont, nCat);
  ClusterModel model(settings, vars);
  RowSource source(p.rows);
  std::vector<double> run;
  EXPECT_FALSE(model.PreCluster(source).IsError());
  // Enough leaf entries for the sweeps to be shared out.
  EXPECT_GE(model.GetNumLeafEntries(), 600);
  auto results = [&] {
    run.push_back(model.GetNumOfClusters());
    run.push_back(model.GetBIC());
    for (auto it = model.BeginResultClusters(); it != model.EndResultClusters(); ++it) {
      run.push_back((*it)->GetCaseCount());
      for (int v = 0; v < nCont; ++v) {
        run.push_back((*it)->GetMeanOfContVar(v));
        run.push_back((*it)->GetVarianceOfContVar(v));
      }
      for (int v = 0; v < nCat; ++v)
        for (int c : (*it)->GetCountsOfCatVar(nCont + v)) run.push_back(c);
    }
  };
  EXPECT_FALSE(model.AutoCluster(1, 8).IsError());
  results();
  EXPECT_FALSE(model.Cluster(3).IsError());
  results();
  return run;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(ClusterThreads, MergingGivesTheSameClustersForAnyThreadCount) {
  // Three planted clusters of 700 records in two continuous variables, a
  // spread that keeps well over 512 leaf entries.
  const int nCont = 2, nCat = 1;
  const Planted p = MakePlanted(3, 700, nCont, nCat, 17);
  // A host's runner that runs the tasks on threads of its own, last first.
  int runs = 0;
  const ClusterSettings::Runner reversed = [&](int workers, const std::function<void(int)>& task) {
    ++runs;
    std::vector<std::thread> threads;
    for (int w = workers - 1; w >= 1; --w) threads.emplace_back(task, w);
    task(0);
    for (std::thread& t : threads) t.join();
  };
  std::vector<double> first;
  for (bool hostRunner : {false, true})
    for (int threads : {1, 2, 3, 8}) {
      SCOPED_TRACE(std::to_string(threads) + (hostRunner ? " threads, host's runner" : " threads"));
      ClusterSettings settings;
      settings.SetThreads(threads);
      if (hostRunner) settings.SetRunner(reversed);
      const std::vector<double> run = RunOf(settings, p, nCont, nCat);
      if (first.empty()) {
        first = run;
        // Cluster(3) finds the planted clusters: 700 records each, centred
        // where they were planted (10 j on variable j mod 2) within a few
        // standard errors of a mean of 700 unit-spread values.
        const std::size_t perCluster = 1 + 2 * nCont + 4 * nCat;
        const std::size_t at = first.size() - 3 * perCluster;
        ASSERT_EQ(first[at - 2], 3.0);
        std::vector<bool> seen(3, false);
        for (std::size_t c = 0; c < 3; ++c) {
          const double* s = &first[at + c * perCluster];
          EXPECT_EQ(s[0], 700.0);
          const int j = s[1] > 5.0 ? 2 : s[3] > 5.0 ? 1 : 0;
          seen[static_cast<std::size_t>(j)] = true;
          for (int v = 0; v < nCont; ++v)
            EXPECT_NEAR(s[1 + 2 * v], v == j % nCont ? 10.0 * j : 0.0, 0.2) << "cluster " << j;
        }
        EXPECT_EQ(seen, std::vector<bool>(3, true));
      } else {
        EXPECT_TRUE(SameBits(run, first));
      }
    }
  // The host's runner took the work when there were threads to share it.
  EXPECT_GT(runs, 0);
}

TEST(ClusterThreads, ThreadCountOutsideItsRangeIsRefused) {
  for (int threads : {0, -1, ClusterSettings::kMaxThreads + 1}) {
    ClusterSettings settings;
    settings.SetThreads(threads);
    const VXCommon_1_2::VXStatus s = settings.Check();
    EXPECT_EQ(s.GetErrorCode(), VXCluster::kClusterInvalidSettings) << threads;
    EXPECT_EQ(s.GetDiscreteDatum(1), 6) << threads;
  }
  ClusterSettings most;
  most.SetThreads(ClusterSettings::kMaxThreads);
  EXPECT_TRUE(most.Check().IsOK());
}

}  // namespace
