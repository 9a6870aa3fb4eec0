// The combiner of a run of one process whose exchange damages what it
// carries: the message comes back changed by the test's own hand (values
// replaced, its count told wrong). For the tests that a damaged exchange
// ends in an error, never in a crash or a read sized by the damage.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "vxneural/network/PassCombiner.h"

namespace damaging_combiner {

// Changes a message and the count it arrives with.
using Damage = std::function<void(std::vector<double>& message, int& count)>;

// The damage of one value (none when `at` lies beyond the message) and of
// the count.
inline Damage Replace(std::size_t at, double value, int countError = 0) {
  return [=](std::vector<double>& message, int& count) {
    if (at < message.size()) message[at] = value;
    count += countError;
  };
}

class Combiner : public VXNeural::PassCombiner {
 public:
  // Damages the call-th exchange (from 1); the others carry the message
  // as it is.
  explicit Combiner(Damage damage, int call = 1) : fDamage(std::move(damage)), fCall(call) {}
  int Rank() const override { return 0; }
  int Size() const override { return 1; }
  bool AllGather(const std::vector<double>& local, std::vector<double>& all,
                 std::vector<int>& counts) override {
    all = local;
    counts.assign(1, static_cast<int>(local.size()));
    if (++fCalls == fCall) fDamage(all, counts[0]);
    return true;
  }

 private:
  Damage fDamage;
  int fCall;
  int fCalls = 0;
};

}  // namespace damaging_combiner
