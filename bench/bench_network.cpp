// Per-record cost of the network's hot paths: the forward pass, and a
// training pass (forward pass, error and back-propagation with gradient
// accumulation), on three network sizes.
//
// Counters: records/s, and FLOP/s counting each multiply-add of a weight as
// two operations (forward: every weight; back-propagation: every weight for
// its gradient, and every non-bias weight above the first hidden layer for
// the deltas sent down). Activations, exponentials and the error are not
// counted, so the figure understates the work done.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {

constexpr int kRecords = 1000;

struct Case {
  int inputs;
  int hidden;
  int outputs;  // one categorical target of this many classes, or 1: continuous
};

// Settings, network and encoded records of one case, built once per run.
struct Fixture {
  explicit Fixture(const Case& c)
      : settings(c.inputs, std::vector<int>{c.outputs}, kRecords), net(nullptr) {
    settings.SetNumHiddenUnits(c.hidden, 1);
    net = std::make_unique<NNetwork>(settings);
    VXRandom rng(12345, true);
    net->RandomizeWeights(rng);
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int r = 0; r < kRecords; ++r) {
      std::vector<double> v;
      for (int i = 0; i < c.inputs; ++i) v.push_back(u(gen));
      if (c.outputs == 1) {
        v.push_back(u(gen));
      } else {
        const int hot = static_cast<int>(gen() % static_cast<unsigned>(c.outputs));
        for (int k = 0; k < c.outputs; ++k) v.push_back(k == hot ? 1.0 : 0.0);
      }
      records.emplace_back(std::move(v));
    }
    const double w = net->GetNumWeights();
    const double firstLayer = c.hidden * (c.inputs + 1);
    forwardFlops = 2.0 * w;
    backwardFlops = 2.0 * w + 2.0 * (w - firstLayer - c.outputs);
  }
  MLPSettings settings;
  std::unique_ptr<NNetwork> net;
  std::vector<VXCommon_1_2::Record> records;
  double forwardFlops;
  double backwardFlops;
};

const Case kCases[] = {{10, 8, 3}, {64, 32, 10}, {200, 50, 1}};

void SetCounters(benchmark::State& state, double flopsPerRecord) {
  const double records = static_cast<double>(state.iterations()) * kRecords;
  state.SetItemsProcessed(static_cast<int64_t>(records));
  state.counters["records/s"] = benchmark::Counter(records, benchmark::Counter::kIsRate);
  state.counters["FLOP/s"] = benchmark::Counter(
      records * flopsPerRecord, benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}

void ForwardPass(benchmark::State& state, const Case& c) {
  Fixture f(c);
  for (auto _ : state) {
    for (const auto& r : f.records) f.net->ForwardPass(r.GetAll(), true);
    benchmark::DoNotOptimize(f.net->GetLayer(2)->GetUnitValues()[0]);
  }
  SetCounters(state, f.forwardFlops);
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
  SetCounters(state, f.forwardFlops + f.backwardFlops);
}

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : kCases) {
    const std::string shape =
        std::to_string(c.inputs) + "-" + std::to_string(c.hidden) + "-" + std::to_string(c.outputs);
    benchmark::RegisterBenchmark(("ForwardPass/" + shape).c_str(), ForwardPass, c);
    benchmark::RegisterBenchmark(("TrainingPass/" + shape).c_str(), TrainingPass, c);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
