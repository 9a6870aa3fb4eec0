// One gradient pass of a 64-32-10 MLP over N generated records shared by
// the processes of an mpirun (mpi_pass.sh runs it on 1, 2 and 4), each
// holding its share in memory: the pass's wall time, the part of it spent
// in the exchange (waiting for the slowest process included), and the bytes
// each process hands over. A plain program; rank 0 prints one line of JSON.
#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "network/SharedRun.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/mpi/MpiPassCombiner.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/VXRandom.h"

namespace {

using Clock = std::chrono::steady_clock;

// The exchange, timed.
class TimedCombiner : public VXNeural::PassCombiner {
 public:
  explicit TimedCombiner(VXNeural::PassCombiner& inner) : fInner(inner) {}
  int Rank() const override { return fInner.Rank(); }
  int Size() const override { return fInner.Size(); }
  bool AllGather(const std::vector<double>& local, std::vector<double>& all,
                 std::vector<int>& counts) override {
    const auto start = Clock::now();
    const bool ok = fInner.AllGather(local, all, counts);
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    values += static_cast<double>(local.size());
    return ok;
  }
  double seconds = 0.0, values = 0.0;

 private:
  VXNeural::PassCombiner& fInner;
};

}  // namespace

int main(int argc, char** argv) {
  VXNeural::MpiSession mpi(&argc, &argv);
  if (!mpi.Ok()) return 1;
  const long long n = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const int passes = argc > 2 ? std::atoi(argv[2]) : 5;
  VXNeural::MpiPassCombiner mpiCombiner;
  TimedCombiner combiner(mpiCombiner);
  const int rank = combiner.Rank(), size = combiner.Size();
  const VXNeural::RecordShare share = VXNeural::ShareOf(n, rank, size);

  const int inputs = 64, outputs = 10;
  MLPSettings settings(inputs, std::vector<int>{outputs}, static_cast<int>(n));
  settings.SetNumHiddenUnits(32, 1);
  NNetwork net(settings);
  VXRandom rng(1, true);
  net.RandomizeWeights(rng, -0.5, 0.5);
  // Record i is the same whichever process makes it.
  std::vector<VXCommon_1_2::Record> records;
  records.reserve(static_cast<std::size_t>(share.end - share.first));
  for (long long i = share.first; i < share.end; ++i) {
    std::mt19937 gen(static_cast<unsigned>(i));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> v(inputs + outputs, 0.0);
    for (int k = 0; k < inputs; ++k) v[static_cast<std::size_t>(k)] = u(gen);
    v[static_cast<std::size_t>(inputs) + gen() % outputs] = 1.0;
    records.emplace_back(std::move(v));
  }
  auto source = VXCommon_1_2::VectorRecordIter::Borrow(records);
  VXNeural::detail::ShareSource(&source, share.first, &combiner);

  std::vector<double> wall;
  double exchange = 0.0;
  for (int p = 0; p <= passes; ++p) {  // the first pass warms up, untimed
    source.Rewind();
    net.ResetDerivatives();
    const double before = combiner.seconds;
    MPI_Barrier(MPI_COMM_WORLD);
    const auto start = Clock::now();
    VXCommon_1_2::VXStatus status;
    int processed = 0;
    net.ProcessRecords(status, source, static_cast<int>(n), processed, false, false);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!status.IsOK() || processed != n) {
      std::fprintf(stderr, "mpi_pass: pass failed (code %d, %d records)\n", status.GetErrorCode(),
                   processed);
      mpi.Abort(1);
    }
    if (p > 0) {
      wall.push_back(seconds);
      exchange += combiner.seconds - before;
    }
  }
  VXNeural::detail::ShareSource(&source, 0, nullptr);
  // The slowest process's figures are the run's.
  double mine[2] = {*std::min_element(wall.begin(), wall.end()), exchange / passes};
  double worst[2] = {0.0, 0.0};
  MPI_Reduce(mine, worst, 2, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);
  if (rank == 0)
    std::printf(
        "{\"records\": %lld, \"processes\": %d, \"weights\": %d, \"pass_seconds\": %.4f, "
        "\"exchange_seconds\": %.5f, \"values_sent_per_pass\": %.0f}\n",
        n, size, net.GetNumWeights(), worst[0], worst[1], combiner.values / (passes + 1));
  return 0;
}
