// Training from temporary files: one full gradient pass (forward pass,
// error and back-propagation of every record) over encoded records kept in
// memory, and over the same records spilled to a temporary file the way the
// data preparator writes them when they do not fit its record budget.
//
// Counters: records/s and FLOP/s of the pass as bench_common.h counts them;
// of_memory (Spill cases) the file pass's rate as a fraction of the
// in-memory pass's, both timed in the same iterations in processor time
// (reading the file counts: the system's time is the process's too; the
// target is at least 0.8).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/data/BinaryRecordIterator.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/VXRandom.h"

namespace {

using bench::Case;

constexpr int kRecords = 20000;

struct Fixture {
  explicit Fixture(const Case& c)
      : settings(std::make_unique<MLPSettings>(c.inputs, std::vector<int>{c.outputs}, kRecords)),
        width(c.inputs + c.outputs),
        memory(width, kRecords) {
    settings->SetNumHiddenLayers(1);
    settings->SetNumHiddenUnits(c.hidden, 1);
    net = std::make_unique<NNetwork>(*settings);
    VXRandom rng(12345, true);
    net->RandomizeWeights(rng);
    std::FILE* file = std::tmpfile();
    for (const VXCommon_1_2::Record& r : bench::SyntheticRecords(c, kRecords, 7)) {
      memory.Add(r);
      std::fwrite(r.GetAll(), sizeof(double), static_cast<std::size_t>(width), file);
    }
    std::rewind(file);
    spilled = std::make_unique<VXNeural::BinaryRecordIterator>(file, width, "");
  }
  // One gradient pass over source; false when it did not read every record.
  bool Pass(VXCommon_1_2::MultiPassRecordIter& source) {
    source.Rewind();
    net->ResetDerivatives();
    VXCommon_1_2::VXStatus status;
    int processed = 0;
    net->ProcessRecords(status, source, kRecords, processed, false, false);
    return processed == kRecords;
  }
  std::unique_ptr<MLPSettings> settings;
  std::unique_ptr<NNetwork> net;
  int width;
  VXNeural::RecordBufferIter memory;
  std::unique_ptr<VXNeural::BinaryRecordIterator> spilled;
};

double Seconds(std::clock_t from) {
  return static_cast<double>(std::clock() - from) / CLOCKS_PER_SEC;
}

void InMemory(benchmark::State& state, const Case& c) {
  Fixture f(c);
  for (auto _ : state)
    if (!f.Pass(f.memory)) state.SkipWithError("the pass did not read every record");
  bench::SetRateCounters(state, static_cast<double>(state.iterations()) * kRecords,
                         bench::FlopsPerRecord(c).forward + bench::FlopsPerRecord(c).backward);
}

void Spill(benchmark::State& state, const Case& c) {
  Fixture f(c);
  double fileSeconds = 0.0, memorySeconds = 0.0;
  for (auto _ : state) {
    const std::clock_t start = std::clock();
    if (!f.Pass(*f.spilled)) state.SkipWithError("the pass did not read every record");
    fileSeconds += Seconds(start);
    state.PauseTiming();
    const std::clock_t memoryStart = std::clock();
    f.Pass(f.memory);
    memorySeconds += Seconds(memoryStart);
    state.ResumeTiming();
  }
  bench::SetRateCounters(state, static_cast<double>(state.iterations()) * kRecords,
                         bench::FlopsPerRecord(c).forward + bench::FlopsPerRecord(c).backward);
  state.counters["of_memory"] = fileSeconds > 0.0 ? memorySeconds / fileSeconds : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : bench::Cases()) {
    const std::string shape = bench::ShapeName(c);
    benchmark::RegisterBenchmark(("InMemory/" + shape).c_str(), InMemory, c)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Spill/" + shape).c_str(), Spill, c)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
