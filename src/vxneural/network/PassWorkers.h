// The threads behind the passes (vxneural/network/PassThreads.h): one
// process-wide pool, started at the first call that wants more than the
// caller's thread and grown as counts rise, never shrunk.
#pragma once

#include <functional>
#include <thread>

namespace VXNeural {
namespace detail {

// Runs task(w) for every w in [0, workers): task(0) on the calling
// thread, the others on the pool's threads, and returns when all have
// returned. With workers <= 1 it is a plain call of task(0).
//
// Tasks must share out their work dynamically (each takes the next piece
// while any is left): when the pool is busy with other callers' tasks, the
// caller runs its own waiting tasks itself rather than wait for a thread,
// so several callers at once (or a task that calls RunWorkers) cannot
// deadlock, and a task may find nothing left to do. Tasks must not throw.
void RunWorkers(int workers, const std::function<void(int)>& task);

// Waiting for another thread of a pass, a few microseconds away: spins a
// while, then yields the core (to the thread waited for, when the machine
// has fewer cores than threads).
class Backoff {
 public:
  void Pause() {
    if (++fSpins > kSpins) std::this_thread::yield();
  }

 private:
  static constexpr int kSpins = 200;
  int fSpins = 0;
};

}  // namespace detail
}  // namespace VXNeural
