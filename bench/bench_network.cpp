// Per-record cost of the network's hot paths: the forward pass, and a
// training pass (forward pass, error and back-propagation with gradient
// accumulation), on three network sizes. Then one full gradient pass over
// 1797 records (the size of the peer comparison, bench/compare_pass.sh)
// with each pass kernel this machine runs (on one thread, and on 1, 2 and
// 4 threads in wall-clock time), an error-only pass with a host
// cancel object (what polling it before every record costs), and the core's
// peak measured with each kernel's instructions.
//
// Counters: records/s, and FLOP/s as bench_common.h counts them;
// record_weights/s (records x weights of the network) for the full passes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "network/kernels/KernelTable.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassKernel.h"
#include "vxneural/network/PassThreads.h"
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

// The shapes and record count of the peer comparison.
constexpr int kPassRecords = 1797;
const std::vector<Case> kPassCases = {{64, 32, 10}, {64, 128, 10}, {200, 50, 1}};

// Passes of a network of the case with seeded weights over the case's
// records, with the kernel given pinned and the host cancel object given (or
// none) in the settings; returns the network's weight count.
int TimeCasePasses(benchmark::State& state, const Case& c, VXNeural::PassKernel kernel,
                   bool errorOnly, VXCommon_1_2::VXQueryCancel* cancel, int threads = 1) {
  const VXNeural::PassKernel before = VXNeural::GetPassKernel();
  const int threadsBefore = VXNeural::GetPassThreads();
  VXNeural::SetPassKernel(kernel);
  VXNeural::SetPassThreads(threads);
  MLPSettings settings(c.inputs, std::vector<int>{c.outputs}, kPassRecords);
  settings.SetNumHiddenUnits(c.hidden, 1);
  if (cancel != nullptr) settings.SetCancelPointer(cancel);
  NNetwork net(settings);
  VXRandom rng(12345, true);
  net.RandomizeWeights(rng);
  const auto records = bench::SyntheticRecords(c, kPassRecords, 7);
  auto source = VXCommon_1_2::VectorRecordIter::Borrow(records);
  bench::TimePasses(state, net, source, kPassRecords, errorOnly);
  VXNeural::SetPassKernel(before);
  VXNeural::SetPassThreads(threadsBefore);
  return net.GetNumWeights();
}

// One full gradient pass with the kernel given (pinned for this benchmark).
void GradientPass(benchmark::State& state, const Case& c, VXNeural::PassKernel kernel) {
  const int weights = TimeCasePasses(state, c, kernel, false, nullptr);
  state.counters["record_weights/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kPassRecords * weights,
                         benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}

// The same pass on `threads` threads (bench/thread_pass.sh sets it against
// one thread; timed in wall-clock time, as threads share the work).
void ThreadedGradientPass(benchmark::State& state, const Case& c, VXNeural::PassKernel kernel,
                          int threads) {
  const int weights = TimeCasePasses(state, c, kernel, false, nullptr, threads);
  state.counters["record_weights/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kPassRecords * weights,
                         benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}

// A host cancel object that never says yes and counts its questions.
struct CountingCancel : VXCommon_1_2::VXQueryCancel {
  bool QueryCancel() override {
    ++fQueries;
    return false;
  }
  long fQueries = 0;
};

// The error-only pass of a test-error measurement (the pass whose cost is
// mostly per record, not per weight) over records held in memory, with a
// host cancel object in the settings: polls/record tells how often the pass
// asks it, the time what asking costs.
void CancelPolledPass(benchmark::State& state, const Case& c, VXNeural::PassKernel kernel) {
  CountingCancel cancel;
  TimeCasePasses(state, c, kernel, true, &cancel);
  const double read = static_cast<double>(state.iterations()) * kPassRecords;
  state.counters["records/s"] = benchmark::Counter(read, benchmark::Counter::kIsRate);
  state.counters["polls/record"] = static_cast<double>(cancel.fQueries) / read;
}

// The core's peak with the kernel's instructions: independent multiply-add
// chains in registers, no memory traffic.
void Peak(benchmark::State& state, const VXNeural::detail::KernelTable* table) {
  double flops = 0.0, sink = 0.0;
  for (auto _ : state) flops += table->peak(1 << 20, &sink);
  benchmark::DoNotOptimize(sink);
  state.counters["FLOP/s"] =
      benchmark::Counter(flops, benchmark::Counter::kIsRate, benchmark::Counter::OneK::kIs1000);
}

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : bench::Cases()) {
    const std::string shape = bench::ShapeName(c);
    benchmark::RegisterBenchmark(("ForwardPass/" + shape).c_str(), ForwardPass, c);
    benchmark::RegisterBenchmark(("TrainingPass/" + shape).c_str(), TrainingPass, c);
  }
  for (VXNeural::PassKernel k : VXNeural::AvailablePassKernels()) {
    const std::string kernel = VXNeural::PassKernelName(k);
    for (const Case& c : kPassCases)
      benchmark::RegisterBenchmark(("GradientPass/" + bench::ShapeName(c) + "/" + kernel).c_str(),
                                   GradientPass, c, k);
    for (const Case& c : kPassCases)
      for (int threads : {1, 2, 4})
        benchmark::RegisterBenchmark(("ThreadedGradientPass/" + bench::ShapeName(c) + "/" + kernel +
                                      "/" + std::to_string(threads))
                                         .c_str(),
                                     ThreadedGradientPass, c, k, threads)
            ->UseRealTime();
    for (const Case& c : {bench::Case{10, 8, 3}, bench::Case{64, 32, 10}})
      benchmark::RegisterBenchmark(
          ("CancelPolledPass/" + bench::ShapeName(c) + "/" + kernel).c_str(), CancelPolledPass, c,
          k);
  }
  const std::pair<VXNeural::PassKernel, const VXNeural::detail::KernelTable*> tables[] = {
      {VXNeural::PassKernel::kBaseline, VXNeural::detail::BaselineKernel()},
      {VXNeural::PassKernel::kAvx2, VXNeural::detail::Avx2Kernel()},
      {VXNeural::PassKernel::kAvx512, VXNeural::detail::Avx512Kernel()}};
  for (const auto& [k, table] : tables)
    if (VXNeural::IsPassKernelAvailable(k))
      benchmark::RegisterBenchmark((std::string("Peak/") + VXNeural::PassKernelName(k)).c_str(),
                                   Peak, table);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
