// The processes of a data-parallel run played by threads of one process:
// each thread holds a combiner of one Exchange, whose AllGather meets the
// others' at a barrier. For tests of shared passes without MPI.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "vxneural/network/PassCombiner.h"

namespace in_process {

class Exchange {
 public:
  explicit Exchange(int size) : fSize(size), fSlots(static_cast<std::size_t>(size)) {}

  int Size() const { return fSize; }

  // Every process's values in rank order once all have handed theirs.
  // False once a process has waited 20 s for the others: processes whose
  // runs went different ways would otherwise wait for ever, and a test
  // must fail, not hang.
  bool AllGather(int rank, const std::vector<double>& local, std::vector<double>& all,
                 std::vector<int>& counts) {
    {
      std::lock_guard<std::mutex> lock(fMutex);
      fSlots[static_cast<std::size_t>(rank)] = local;
    }
    if (!Barrier()) return false;
    {
      std::lock_guard<std::mutex> lock(fMutex);
      all.clear();
      counts.clear();
      for (const auto& slot : fSlots) {
        all.insert(all.end(), slot.begin(), slot.end());
        counts.push_back(static_cast<int>(slot.size()));
      }
    }
    // No slot is written again before every process has read them all.
    return Barrier();
  }

 private:
  bool Barrier() {
    std::unique_lock<std::mutex> lock(fMutex);
    if (fBroken) return false;
    const long generation = fGeneration;
    if (++fArrived == fSize) {
      fArrived = 0;
      ++fGeneration;
      fChanged.notify_all();
      return true;
    }
    if (!fChanged.wait_for(lock, std::chrono::seconds(20),
                           [&] { return fGeneration != generation || fBroken; }) ||
        fBroken) {
      fBroken = true;
      fChanged.notify_all();
      return false;
    }
    return true;
  }
  const int fSize;
  std::vector<std::vector<double>> fSlots;
  std::mutex fMutex;
  std::condition_variable fChanged;
  int fArrived = 0;
  long fGeneration = 0;
  bool fBroken = false;
};

class Combiner : public VXNeural::PassCombiner {
 public:
  Combiner(Exchange& exchange, int rank) : fExchange(exchange), fRank(rank) {}
  int Rank() const override { return fRank; }
  int Size() const override { return fExchange.Size(); }
  bool AllGather(const std::vector<double>& local, std::vector<double>& all,
                 std::vector<int>& counts) override {
    ++fCalls;
    if (fFailAt == fCalls) return false;
    return fExchange.AllGather(fRank, local, all, counts);
  }
  // Makes the n-th call (from 1) fail at once, as a broken connection
  // would, without meeting the others.
  void FailAt(int call) { fFailAt = call; }
  int Calls() const { return fCalls; }

 private:
  Exchange& fExchange;
  int fRank;
  int fCalls = 0;
  int fFailAt = 0;
};

// Runs process(rank, combiner) for ranks 0 .. size - 1, each on a thread of
// its own, and waits for all.
inline void RunProcesses(int size, const std::function<void(int, Combiner&)>& process) {
  Exchange exchange(size);
  std::vector<Combiner> combiners;
  for (int r = 0; r < size; ++r) combiners.emplace_back(exchange, r);
  std::vector<std::thread> threads;
  for (int r = 0; r < size; ++r)
    threads.emplace_back([&, r] { process(r, combiners[static_cast<std::size_t>(r)]); });
  for (auto& t : threads) t.join();
}

}  // namespace in_process
