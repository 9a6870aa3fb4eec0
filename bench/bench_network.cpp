// Per-record cost of the network's hot paths: the forward pass, and a
// training pass (forward pass, error and back-propagation with gradient
// accumulation), on three network sizes.
//
// Counters: records/s, and FLOP/s as bench_common.h counts them.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {

using bench::Case;

constexpr int kRecords = 1000;

// Settings, network and encoded records of one case, built once per run.
struct Fixture {
  explicit Fixture(const Case& c)
      : settings(c.inputs, std::vector<int>{c.outputs}, kRecords),
        records(bench::SyntheticRecords(c, kRecords, 7)),
        flops(bench::FlopsPerRecord(c)) {
    settings.SetNumHiddenUnits(c.hidden, 1);
    net = std::make_unique<NNetwork>(settings);
    VXRandom rng(12345, true);
    net->RandomizeWeights(rng);
  }
  MLPSettings settings;
  std::unique_ptr<NNetwork> net;
  std::vector<VXCommon_1_2::Record> records;
  bench::Flops flops;
};

void ForwardPass(benchmark::State& state, const Case& c) {
  Fixture f(c);
  for (auto _ : state) {
    for (const auto& r : f.records) f.net->ForwardPass(r.GetAll(), true);
    benchmark::DoNotOptimize(f.net->GetLayer(2)->GetUnitValues()[0]);
  }
  bench::SetRateCounters(state, static_cast<double>(state.iterations()) * kRecords,
                         f.flops.forward);
}

void TrainingPass(benchmark::State& state, const Case& c) {
  Fixture f(c);
  auto source = VXCommon_1_2::VectorRecordIter::Borrow(f.records);
  VXCommon_1_2::VXStatus status;
  int n = 0;
  for (auto _ : state) {
    source.Rewind();
    f.net->ResetDerivatives();
    f.net->ProcessRecords(status, source, kRecords, n, false, false);
    benchmark::DoNotOptimize(f.net->GetAccumError());
  }
  bench::SetRateCounters(state, static_cast<double>(state.iterations()) * kRecords,
                         f.flops.forward + f.flops.backward);
}

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : bench::Cases()) {
    const std::string shape = bench::ShapeName(c);
    benchmark::RegisterBenchmark(("ForwardPass/" + shape).c_str(), ForwardPass, c);
    benchmark::RegisterBenchmark(("TrainingPass/" + shape).c_str(), TrainingPass, c);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
