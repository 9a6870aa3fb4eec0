#include "network/SharedRun.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "algorithm/AlgorithmCodes.h"
#include "network/BlockPass.h"

namespace VXNeural {
namespace detail {

namespace {
thread_local std::vector<SharedSource> tShared;
thread_local PassCombiner* tCombiner = nullptr;
thread_local bool tCanceled = false;
}  // namespace

void ShareSource(const VXCommon_1_2::RecordIterator* source, long long first,
                 PassCombiner* combiner) {
  tShared.erase(std::remove_if(tShared.begin(), tShared.end(),
                               [&](const SharedSource& s) { return s.source == source; }),
                tShared.end());
  if (combiner && source) tShared.push_back({source, first / MLPBlockPass::kBlock, combiner});
}

const SharedSource* FindSharedSource(const VXCommon_1_2::RecordIterator* source) {
  for (const SharedSource& s : tShared)
    if (s.source == source) return &s;
  return nullptr;
}

void SetRunCombiner(PassCombiner* combiner) { tCombiner = combiner; }
PassCombiner* RunCombiner() { return tCombiner; }

void SetRunCanceled(bool canceled) { tCanceled = canceled; }
bool RunCanceled() { return tCanceled; }

bool CancelAnswer(bool canceled, VXCommon_1_2::VXQueryCancel* host) {
  if (canceled) return true;
  if (tCombiner) return tCanceled;
  return host && host->QueryCancel();
}

int WholeSets(const ShareCounts& shares, std::vector<long long>& totals) {
  totals.assign(shares.sets, 0);
  for (int r = 0; r < shares.processes; ++r)
    for (std::size_t s = 0; s < shares.sets; ++s) {
      const double n = shares.counts[static_cast<std::size_t>(r) * shares.stride + s];
      if (n == -1.0) return codes::kSharesDoNotMatch;
      // One process counts its records in an int.
      if (!WholeIn(n, 0.0, INT_MAX)) return codes::kExchangeFailed;
      totals[s] += static_cast<long long>(n);
    }
  return 0;
}

bool AreTheShares(const ShareCounts& shares, const std::vector<long long>& totals) {
  for (int r = 0; r < shares.processes; ++r)
    for (std::size_t s = 0; s < shares.sets; ++s) {
      const RecordShare share = ShareOf(totals[s], r, shares.processes);
      if (shares.counts[static_cast<std::size_t>(r) * shares.stride + s] !=
          static_cast<double>(share.end - share.first))
        return false;
    }
  return true;
}

double AgreedSeconds(double local) {
  if (!tCombiner) return local;
  std::vector<double> all;
  std::vector<int> counts;
  if (!tCombiner->AllGather({local}, all, counts) || all.empty()) return local;
  return *std::max_element(all.begin(), all.end());
}

double ProcessorSecondsSince(std::clock_t start) {
  const double milliseconds = static_cast<double>(std::clock() - start) * 1000.0 / CLOCKS_PER_SEC;
  return AgreedSeconds(milliseconds / 1000.0);
}

}  // namespace detail
}  // namespace VXNeural
