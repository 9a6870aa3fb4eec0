#include "evaluation/SharedEvaluation.h"

#include <algorithm>
#include <cstdint>
#include <typeinfo>

#include "algorithm/AlgorithmCodes.h"
#include "data/SourceCheck.h"
#include "network/SharedRun.h"
#include "network/TreeExchange.h"
#include "vxcommon/Callbacks.h"
#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/NNetwork.h"

using VXCommon_1_2::VXStatus;

namespace VXNeural {
namespace detail {

SharedRunScope::SharedRunScope() {
  PassCombiner* combiner = GetPassCombiner();
  if (!combiner || RunCombiner()) return;
  SetRunCombiner(combiner);
  SetRunCanceled(false);
  fOpened = true;
}

SharedRunScope::~SharedRunScope() {
  if (!fOpened) return;
  SetRunCombiner(nullptr);
  SetRunCanceled(false);
}

std::vector<double> ExchangeHead(NNetwork& network, int32_t failure) {
  bool canceled = network.IsCanceled();
  if (!canceled && network.GetSettings()) {
    VXCommon_1_2::VXQueryCancel* cancel = network.GetSettings()->GetCancelPointer();
    canceled = cancel && cancel->QueryCancel();
  }
  return {canceled ? 1.0 : 0.0, static_cast<double>(failure)};
}

Agreement Agree(const std::vector<double>& heads, std::size_t headSize) {
  Agreement agreed;
  for (std::size_t at = 0; at + headSize <= heads.size() && headSize >= 2; at += headSize) {
    agreed.canceled = agreed.canceled || heads[at] != 0.0;
    // A code that is not an int is no process's message.
    if (agreed.failure == 0)
      agreed.failure = WholeIn(heads[at + 1], INT32_MIN, INT32_MAX)
                           ? static_cast<int32_t>(heads[at + 1])
                           : codes::kExchangeFailed;
  }
  if (agreed.canceled) SetRunCanceled(true);
  return agreed;
}

Agreement ExchangePass(PassCombiner& combiner, BlockTree& tree, NNetwork& network, int32_t failure,
                       int& exchanged) {
  std::vector<double> heads;
  const std::vector<double> head = ExchangeHead(network, failure);
  exchanged = ExchangeTree(combiner, tree, head, heads);
  if (exchanged != 0) return Agreement();
  return Agree(heads, head.size());
}

long long RecordsKnownTo(VXCommon_1_2::MultiPassRecordIter* source) {
  if (!source || SourceFailed(*source)) return -1;
  const std::type_info& type = typeid(*source);
  if (type == typeid(VXCommon_1_2::VectorRecordIter))
    return static_cast<long long>(static_cast<VXCommon_1_2::VectorRecordIter*>(source)->Count());
  if (type == typeid(RecordBufferIter)) return static_cast<RecordBufferIter*>(source)->GetCount();
  return -1;
}

std::vector<long long> CountShares(const std::vector<VXCommon_1_2::MultiPassRecordIter*>& sources) {
  std::vector<long long> counts;
  for (VXCommon_1_2::MultiPassRecordIter* source : sources) {
    const long long known = RecordsKnownTo(source);
    if (known >= 0) {
      // Left as a count would leave it: at its first record.
      source->Rewind();
      counts.push_back(known);
      continue;
    }
    int n = 0;
    // An absent source holds no record.
    counts.push_back(!source || CountRecords(*source, n) ? n : -1);
  }
  return counts;
}

VXStatus ExchangeShares(PassCombiner& combiner, NNetwork& network,
                        const std::vector<long long>& counts, int32_t failure, Shares& shares,
                        const std::vector<double>& extra) {
  // A process that could not count still comes to the exchange, so that
  // all refuse together instead of the others waiting for it.
  std::vector<double> head = ExchangeHead(network, failure);
  for (long long n : counts) head.push_back(static_cast<double>(n));
  head.insert(head.end(), extra.begin(), extra.end());
  BlockTree none;
  none.Reset(0, 0);
  std::vector<double> heads;
  const int exchanged = ExchangeTree(combiner, none, head, heads);
  if (exchanged != 0) return VXStatus(exchanged, false);
  const std::size_t headSize = head.size();
  const Agreement agreed = Agree(heads, headSize);
  shares.canceled = agreed.canceled;
  if (agreed.failure != 0) return VXStatus(agreed.failure, false);
  if (agreed.canceled) return VXStatus();

  const int size = combiner.Size();
  const std::size_t nSources = counts.size();
  const ShareCounts sent{heads.data() + 2, headSize, size, nSources};
  const int read = WholeSets(sent, shares.totals);
  if (read != 0) return VXStatus(read, false);
  if (!AreTheShares(sent, shares.totals)) return VXStatus(codes::kSharesDoNotMatch, false);
  shares.mine.clear();
  for (std::size_t s = 0; s < nSources; ++s)
    shares.mine.push_back(ShareOf(shares.totals[s], combiner.Rank(), size));
  shares.extras.clear();
  for (int r = 0; r < size; ++r) {
    const auto at = heads.begin() + static_cast<std::ptrdiff_t>(
                                        static_cast<std::size_t>(r) * headSize + 2 + nSources);
    shares.extras.insert(shares.extras.end(), at, at + static_cast<std::ptrdiff_t>(extra.size()));
  }
  return VXStatus();
}

BlockSums::BlockSums(BlockTree& tree, std::size_t width, long long first)
    : fTree(tree), fWidth(width), fBlock(first / kEvalBlock) {
  fTree.Reset(width, fBlock);
}

void BlockSums::Open() {
  fOpen = fTree.Next();
  std::fill_n(fOpen, fWidth, 0.0);
}

double* BlockSums::At(long long place) {
  const long long block = place / kEvalBlock;
  if (!fOpen) Open();
  while (fBlock < block) {
    fTree.Add();
    ++fBlock;
    Open();
  }
  return fOpen;
}

void BlockSums::Finish() {
  if (!fOpen) return;
  fTree.Add();
  ++fBlock;
  fOpen = nullptr;
}

}  // namespace detail
}  // namespace VXNeural
