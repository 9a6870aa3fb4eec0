#include "vxneural/network/PassThreads.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "network/PassWorkers.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace VXNeural {

namespace {

// 0 until the first question, then the count in use.
std::atomic<int> gThreads{0};
// The calling thread's own count; 0: the process-wide one.
thread_local int tThreads = 0;

int Initial() {
  const char* pinned = std::getenv("VXNN_THREADS");
  if (!pinned || !*pinned) return 1;
  if (std::strcmp(pinned, "all") == 0) return UsableCores();
  char* end = nullptr;
  const long n = std::strtol(pinned, &end, 10);
  // Anything else is ignored, as an unknown kernel name is.
  if (*end != '\0' || n < 1 || n > kMaxPassThreads) return 1;
  return static_cast<int>(n);
}

}  // namespace

int UsableCores() {
#if defined(__linux__)
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n >= 1) return n < kMaxPassThreads ? n : kMaxPassThreads;
  }
#endif
  const unsigned n = std::thread::hardware_concurrency();
  if (n == 0) return 1;
  return n < static_cast<unsigned>(kMaxPassThreads) ? static_cast<int>(n) : kMaxPassThreads;
}

int GetPassThreads() {
  if (tThreads > 0) return tThreads;
  int n = gThreads.load(std::memory_order_relaxed);
  if (n == 0) {
    int expected = 0;
    gThreads.compare_exchange_strong(expected, Initial());
    n = gThreads.load(std::memory_order_relaxed);
  }
  return n;
}

bool SetPassThreads(int threads) {
  if (threads < 1 || threads > kMaxPassThreads) return false;
  gThreads.store(threads, std::memory_order_relaxed);
  return true;
}

bool SetPassThreadsOnThisThread(int threads) {
  if (threads < 0 || threads > kMaxPassThreads) return false;
  tThreads = threads;
  return true;
}

namespace detail {

namespace {

// One call of RunWorkers: how many of its tasks have yet to return.
struct Job {
  const std::function<void(int)>* task = nullptr;
  int unfinished = 0;
  std::condition_variable done;
};

struct Entry {
  Job* job;
  int worker;
};

// The pool's threads are detached and live as long as the process: a pool
// torn down by a static destructor could be joined while another static's
// destructor still wants it, and a thread blocked on the queue costs
// nothing.
class Pool {
 public:
  static Pool& Get() {
    static Pool* pool = new Pool;  // never destroyed, see above
    return *pool;
  }

  void Run(int workers, const std::function<void(int)>& task) {
    Job job;
    job.task = &task;
    job.unfinished = workers - 1;
    {
      std::lock_guard<std::mutex> lock(fMutex);
      // One thread per waiting task at most, so that a count of n keeps at
      // most n threads busy for one caller.
      while (static_cast<int>(fThreads) < workers - 1 + fBusy) {
        std::thread(&Pool::Serve, this).detach();
        ++fThreads;
      }
      for (int w = 1; w < workers; ++w) fQueue.push_back(Entry{&job, w});
      fQueued.store(fQueue.size(), std::memory_order_release);
    }
    fWake.notify_all();
    task(0);
    std::unique_lock<std::mutex> lock(fMutex);
    // The tasks no thread has taken yet are the caller's to run.
    for (;;) {
      auto it = fQueue.begin();
      while (it != fQueue.end() && it->job != &job) ++it;
      if (it == fQueue.end()) break;
      const int w = it->worker;
      fQueue.erase(it);
      fQueued.store(fQueue.size(), std::memory_order_release);
      lock.unlock();
      task(w);
      lock.lock();
      --job.unfinished;
    }
    job.done.wait(lock, [&] { return job.unfinished == 0; });
  }

 private:
  void Serve() {
    std::unique_lock<std::mutex> lock(fMutex);
    for (;;) {
      if (fQueue.empty()) {
        // Training makes pass after pass with little in between: a thread
        // that waits a little for the next one starts it at once, where
        // one woken by the system would start it tens of microseconds late.
        lock.unlock();
        for (int spins = 0; spins < kSpinsBeforeSleep; ++spins) {
          if (fQueued.load(std::memory_order_acquire) > 0) break;
          if (spins % 64 == 63) std::this_thread::yield();
        }
        lock.lock();
      }
      fWake.wait(lock, [&] { return !fQueue.empty(); });
      const Entry e = fQueue.front();
      fQueue.pop_front();
      fQueued.store(fQueue.size(), std::memory_order_release);
      ++fBusy;
      lock.unlock();
      (*e.job->task)(e.worker);
      lock.lock();
      --fBusy;
      // The job lives on the caller's stack until unfinished reaches 0
      // and the caller has seen it under the lock.
      if (--e.job->unfinished == 0) e.job->done.notify_all();
    }
  }

  std::mutex fMutex;
  std::condition_variable fWake;
  std::deque<Entry> fQueue;
  std::atomic<std::size_t> fQueued{0};  // fQueue's size, read without the lock
  static constexpr int kSpinsBeforeSleep = 20000;
  std::size_t fThreads = 0;
  int fBusy = 0;
};

}  // namespace

void RunWorkers(int workers, const std::function<void(int)>& task) {
  if (workers <= 1) {
    task(0);
    return;
  }
  Pool::Get().Run(workers, task);
}

}  // namespace detail
}  // namespace VXNeural
