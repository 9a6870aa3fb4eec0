// Network shapes, synthetic encoded records and operation counts shared by
// the benchmark programs.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/network/NNetwork.h"

namespace bench {

struct Case {
  int inputs;
  int hidden;
  int outputs;  // one categorical target of this many classes, or 1: continuous
};

// A small classifier, a wider one, and a wide-input regression network.
inline const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {{10, 8, 3}, {64, 32, 10}, {200, 50, 1}};
  return cases;
}

inline std::string ShapeName(const Case& c) {
  return std::to_string(c.inputs) + "-" + std::to_string(c.hidden) + "-" +
         std::to_string(c.outputs);
}

// Times whole passes of the network over the first n records of the
// source, one pass per iteration: the source rewound and the sums cleared
// before each, as a training or error pass starts.
inline void TimePasses(benchmark::State& state, NNetwork& net,
                       VXCommon_1_2::MultiPassRecordIter& source, int n, bool errorOnly) {
  VXCommon_1_2::VXStatus status;
  int processed = 0;
  for (auto _ : state) {
    source.Rewind();
    net.ResetDerivatives();
    net.ProcessRecords(status, source, n, processed, errorOnly, false);
    benchmark::DoNotOptimize(net.GetAccumError());
  }
}

// Encoded records of the case: inputs uniform in [-1, 1], then a uniform
// continuous target or a one-of-n target. The same seed gives the same
// records on every platform (mt19937 is fully specified).
inline std::vector<VXCommon_1_2::Record> SyntheticRecords(const Case& c, int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<VXCommon_1_2::Record> records;
  records.reserve(static_cast<std::size_t>(n));
  for (int r = 0; r < n; ++r) {
    std::vector<double> v;
    v.reserve(static_cast<std::size_t>(c.inputs + c.outputs));
    for (int i = 0; i < c.inputs; ++i) v.push_back(u(gen));
    if (c.outputs == 1) {
      v.push_back(u(gen));
    } else {
      const int hot = static_cast<int>(gen() % static_cast<unsigned>(c.outputs));
      for (int k = 0; k < c.outputs; ++k) v.push_back(k == hot ? 1.0 : 0.0);
    }
    records.emplace_back(std::move(v));
  }
  return records;
}

// Floating-point operations per record, counting each multiply-add of a
// weight as two: the forward pass touches every weight; back-propagation
// touches every weight for its gradient, and every non-bias weight above the
// first hidden layer for the deltas sent down. Activations, exponentials and
// the error are not counted, so the figures understate the work done.
struct Flops {
  double forward;
  double backward;
};
inline Flops FlopsPerRecord(const Case& c) {
  const double weights = c.hidden * (c.inputs + 1) + c.outputs * (c.hidden + 1);
  const double firstLayer = c.hidden * (c.inputs + 1);
  return {2.0 * weights, 2.0 * weights + 2.0 * (weights - firstLayer - c.outputs)};
}

// records: records processed in the whole run of the benchmark (each data
// pass counting its records again). Rates are per second of the timer the
// benchmark reports (processor time unless it asks for real time).
inline void SetRateCounters(benchmark::State& state, double records, double flopsPerRecord) {
  state.SetItemsProcessed(static_cast<int64_t>(records));
  state.counters["records/s"] = benchmark::Counter(records, benchmark::Counter::kIsRate);
  state.counters["FLOP/s"] = benchmark::Counter(
      records * flopsPerRecord, benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}

}  // namespace bench
