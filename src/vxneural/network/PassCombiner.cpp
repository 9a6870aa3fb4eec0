#include "vxneural/network/PassCombiner.h"

#include "network/BlockPass.h"

namespace VXNeural {

namespace {
thread_local PassCombiner* tCombiner = nullptr;
}  // namespace

RecordShare ShareOf(long long records, int rank, int size) {
  RecordShare share;
  if (records <= 0 || size < 1 || rank < 0 || rank >= size) return share;
  const long long block = detail::MLPBlockPass::kBlock;
  const long long blocks = (records + block - 1) / block;
  const long long base = blocks / size, extra = blocks % size;
  auto firstBlock = [&](long long r) { return r * base + (r < extra ? r : extra); };
  share.first = firstBlock(rank) * block;
  share.end = firstBlock(rank + 1) * block;
  if (share.first > records) share.first = records;
  if (share.end > records) share.end = records;
  return share;
}

void SetPassCombiner(PassCombiner* combiner) { tCombiner = combiner; }
PassCombiner* GetPassCombiner() { return tCombiner; }

}  // namespace VXNeural
