// The combiner of a run of one process whose exchange damages what it
// carries: the message comes back with one value replaced, or with its
// count told wrong. For the tests that a damaged exchange ends in an error,
// never in a crash or an allocation sized by the damage.
#pragma once

#include <cstddef>
#include <vector>

#include "vxneural/network/PassCombiner.h"

namespace damaging_combiner {

class Combiner : public VXNeural::PassCombiner {
 public:
  // Replaces the value at `at` (none when beyond the message) with `value`
  // and adds `countError` to the message's count, at the call-th exchange
  // (from 1); the other exchanges carry the message as it is.
  Combiner(std::size_t at, double value, int countError = 0, int call = 1)
      : fAt(at), fValue(value), fCountError(countError), fCall(call) {}
  int Rank() const override { return 0; }
  int Size() const override { return 1; }
  bool AllGather(const std::vector<double>& local, std::vector<double>& all,
                 std::vector<int>& counts) override {
    all = local;
    counts.assign(1, static_cast<int>(local.size()));
    if (++fCalls != fCall) return true;
    if (fAt < all.size()) all[fAt] = fValue;
    counts[0] += fCountError;
    return true;
  }

 private:
  std::size_t fAt;
  double fValue;
  int fCountError;
  int fCall;
  int fCalls = 0;
};

}  // namespace damaging_combiner
