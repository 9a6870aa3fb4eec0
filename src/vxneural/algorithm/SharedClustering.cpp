#include "algorithm/SharedClustering.h"

#include <cmath>
#include <vector>

#include "algorithm/AlgorithmCodes.h"

namespace VXNeural {
namespace detail {

namespace {

// A turn's message: the outcome (code, warning flag, the three data), whether
// the source failed, then the summary's state.
constexpr std::size_t kHead = 6;

bool IntIn(double v, double lo, double hi) { return v >= lo && v <= hi && v == std::floor(v); }

}  // namespace

SharedPreClusterOutcome PreClusterInTurns(ClusterModel& model, VXCluster::RecordIterator& source,
                                          PassCombiner& combiner,
                                          const std::function<bool()>& sourceFailed) {
  SharedPreClusterOutcome outcome;
  const int rank = combiner.Rank(), size = combiner.Size();
  std::vector<double> state, mine, all;
  std::vector<int> counts;
  model.BeginPreCluster();
  for (int turn = 0; turn < size; ++turn) {
    mine.clear();
    if (turn == rank) {
      VXCommon_1_2::VXStatus status;
      if (turn > 0) status = model.SetPreClusterState(state);
      if (!status.IsError()) status = model.ContinuePreCluster(source);
      const bool failed = sourceFailed();
      mine = {static_cast<double>(status.GetErrorCode()),
              status.IsError() ? 1.0 : 0.0,
              static_cast<double>(status.GetDiscreteDatum(0)),
              static_cast<double>(status.GetDiscreteDatum(1)),
              static_cast<double>(status.GetDiscreteDatum(2)),
              failed ? 1.0 : 0.0};
      if (!status.IsError() && !failed) {
        model.GetPreClusterState(state);
        mine.insert(mine.end(), state.begin(), state.end());
      }
    }
    // Every process takes part in every turn; only the one whose turn it
    // is hands anything.
    if (!combiner.AllGather(mine, all, counts) || counts.size() != static_cast<std::size_t>(size)) {
      outcome.status = VXCommon_1_2::VXStatus(codes::kExchangeFailed, false);
      return outcome;
    }
    for (int r = 0; r < size; ++r)
      if ((r == turn) != (counts[static_cast<std::size_t>(r)] > 0)) {
        outcome.status = VXCommon_1_2::VXStatus(codes::kExchangeFailed, false);
        return outcome;
      }
    const double* m = all.data();
    const std::size_t n = static_cast<std::size_t>(counts[static_cast<std::size_t>(turn)]);
    if (n < kHead || !IntIn(m[0], 0, 2147483647) || !IntIn(m[2], -2147483647, 2147483647) ||
        !IntIn(m[3], -2147483647, 2147483647) || !IntIn(m[4], -2147483647, 2147483647)) {
      outcome.status = VXCommon_1_2::VXStatus(codes::kExchangeFailed, false);
      return outcome;
    }
    if (m[1] != 0.0 || m[5] != 0.0) {
      // The turn's process met an error: every process ends with it.
      outcome.status = VXCommon_1_2::VXStatus(static_cast<int>(m[0]), false);
      for (int d = 0; d < 3; ++d) outcome.status.SetDiscreteDatum(d, static_cast<int>(m[2 + d]));
      outcome.sourceFailed = m[5] != 0.0;
      model.BeginPreCluster();
      return outcome;
    }
    state.assign(m + kHead, m + n);
  }
  // The last turn's process holds the summary already; loading it again
  // changes nothing.
  if (rank != size - 1 && model.SetPreClusterState(state).IsError()) {
    outcome.status = VXCommon_1_2::VXStatus(codes::kExchangeFailed, false);
    return outcome;
  }
  outcome.status = model.EndPreCluster();
  return outcome;
}

}  // namespace detail
}  // namespace VXNeural
