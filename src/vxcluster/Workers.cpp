#include "Workers.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace VXCluster {

void ForPieces(int threads, const ClusterSettings::Runner& runner, int pieces,
               const std::function<void(int)>& piece) {
  const int workers = std::min(threads, pieces);
  if (workers <= 1) {
    for (int p = 0; p < pieces; ++p) piece(p);
    return;
  }
  std::atomic<int> next{0};
  const std::function<void(int)> task = [&](int) {
    for (int p = next++; p < pieces; p = next++) piece(p);
  };
  if (runner) {
    runner(workers, task);
    return;
  }
  std::vector<std::thread> started;
  started.reserve(static_cast<std::size_t>(workers - 1));
  for (int w = 1; w < workers; ++w) started.emplace_back(task, w);
  task(0);
  for (std::thread& t : started) t.join();
}

}  // namespace VXCluster
