#include "optim/SolverBlocks.h"

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "algorithm/AlgorithmCodes.h"
#include "network/BlockPass.h"
#include "network/BlockTree.h"
#include "network/PassWorkers.h"
#include "network/SharedRun.h"
#include "network/TreeExchange.h"
#include "network/kernels/AlignedBuffer.h"
#include "network/kernels/KernelTable.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/network/INLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassThreads.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/optim/MultiVariateRegression.h"

namespace VXNeural {
namespace detail {

namespace {

// The partial sums of the blocks read at once stay under this many bytes
// (the candidate search feeds dozens of regressions from one pass).
constexpr std::size_t kSlotBytes = std::size_t{8} << 20;

// What a feed's blocks need, gathered once per pass.
struct Plan {
  SolverFeed* feed = nullptr;
  int nIn = 0, nOut = 0;
  int lead = 0;   // 1 when the constant is in the model
  int p = 0;      // regressors, the constant included
  int m = 0;      // p + outputs: the side of the cross-product matrix
  int ldz = 0;    // padded row of z
  int units = 0;  // hidden units (regressors without the constant)
  int used = 0;   // centres in use; units above read 0
  int ldh = 0;
  bool normalized = false;
  std::size_t packed = 0;  // m (m + 1) / 2
  AlignedBuffer centersT, variances;
  const double* weights = nullptr;  // output rows of p, when errors are summed
};

// One thread's work space, sized for the widest feed.
struct Scratch {
  AlignedBuffer z, h, c;
};

void MakePlan(SolverFeed& feed, Plan& plan) {
  NNetwork& net = *feed.network;
  const MultiVariateRegression& r = *feed.regression;
  plan.feed = &feed;
  plan.nIn = net.GetNumInputs();
  plan.nOut = net.GetNumOutputs();
  plan.lead = r.HasConstant() ? 1 : 0;
  plan.p = r.GetNumRegressors();
  plan.m = plan.p + plan.nOut;
  plan.ldz = Padded(plan.m);
  plan.packed = static_cast<std::size_t>(plan.m) * static_cast<std::size_t>(plan.m + 1) / 2;
  plan.units = plan.p - plan.lead;
  if (feed.hidden) {
    const auto* hidden = static_cast<const RBFHiddenLayer*>(net.GetLayer(1));
    plan.normalized = hidden->GetActivationFunction() == VXNNCommon::kNormalizedRadialBasis;
    plan.used = std::min(hidden->GetNumCenters(), plan.units);
    plan.ldh = Padded(std::max(plan.used, 1));
    const std::size_t ldh = static_cast<std::size_t>(plan.ldh);
    // The kernel reads whole vectors of these; past the centres in use they
    // must still be numbers, and the variances not 0.
    plan.centersT.assign(static_cast<std::size_t>(plan.nIn) * ldh, 0.0);
    plan.variances.assign(ldh, 1.0);
    for (int j = 0; j < plan.used; ++j) {
      const std::vector<double>& c = hidden->GetCenters()[static_cast<std::size_t>(j)];
      for (int i = 0; i < plan.nIn; ++i)
        plan.centersT[static_cast<std::size_t>(i) * ldh + static_cast<std::size_t>(j)] =
            c[static_cast<std::size_t>(i)];
      plan.variances[static_cast<std::size_t>(j)] = hidden->GetUnitVariance(j);
    }
  }
  if (feed.predictionError) plan.weights = net.GetLayer(net.GetNumLayers())->GetWeights();
}

// Block sums of one feed over the n records at rows: the packed lower
// triangle of the sum of z z^T into sums, and the squared prediction error
// into *error.
void BlockSums(const KernelTable& kernel, const Plan& plan, const double* const* rows, int n,
               Scratch& s, double* sums, double* error) {
  const std::size_t ldz = static_cast<std::size_t>(plan.ldz);
  const std::size_t ldh = static_cast<std::size_t>(plan.ldh);
  if (plan.feed->hidden && plan.used > 0)
    kernel.radialRows(n, plan.used, rows, plan.nIn, plan.centersT.data(), plan.ldh,
                      plan.variances.data(), plan.normalized, s.h.data(), plan.ldh);
  // z = (1 when the constant is in, the regressors, the targets), zeros to
  // the padded end: the rows of the block's matrix Z.
  for (int r = 0; r < n; ++r) {
    double* z = &s.z[static_cast<std::size_t>(r) * ldz];
    const double* x = rows[r];
    std::fill(z, z + ldz, 0.0);
    if (plan.lead) z[0] = 1.0;
    if (plan.feed->hidden)
      std::copy_n(&s.h[static_cast<std::size_t>(r) * ldh], plan.used, z + plan.lead);
    else
      std::copy_n(x, plan.nIn, z + plan.lead);
    std::copy_n(x + plan.nIn, plan.nOut, z + plan.p);
  }
  // Z^T Z, the whole square; its lower triangle is the block's sums.
  kernel.gemm(plan.m, plan.ldz, n, s.z.data(), 1, plan.ldz, s.z.data(), plan.ldz, s.c.data(),
              plan.ldz, false);
  double* out = sums;
  for (int r = 0; r < plan.m; ++r) {
    const double* row = &s.c[static_cast<std::size_t>(r) * ldz];
    out = std::copy(row, row + r + 1, out);
  }
  if (!plan.feed->predictionError) return;
  // The output units are linear in z: bias (with the constant) plus the
  // weights of the regressors. Hidden units past the centres in use are
  // skipped, as the output layer skips them.
  const int terms = plan.lead + (plan.feed->hidden ? plan.used : plan.nIn);
  double e = 0.0;
  for (int r = 0; r < n; ++r) {
    const double* z = &s.z[static_cast<std::size_t>(r) * ldz];
    for (int t = 0; t < plan.nOut; ++t) {
      const double* w = plan.weights + static_cast<std::ptrdiff_t>(t) * plan.p;
      double o = 0.0;
      for (int i = 0; i < terms; ++i) o += z[i] * w[i];
      const double d = o - z[plan.p + t];
      e += d * d;
    }
  }
  *error = e;
}

}  // namespace

int AccumulateBlocks(const KernelTable& kernel, std::vector<SolverFeed>& feeds,
                     VXCommon_1_2::MultiPassRecordIter& source, int limit, bool countShort,
                     const std::function<bool()>& stop, int& counted,
                     const std::function<bool()>& askHost) {
  static_assert(kSolverBlock == MLPBlockPass::kBlock,
                "a shared pass places blocks in the passes' units");
  counted = 0;
  if (feeds.empty()) return 0;
  const int nFeeds = static_cast<int>(feeds.size());
  std::vector<Plan> plans(feeds.size());
  std::size_t packedAll = 0, zMax = 0, hMax = 0, cMax = 0;
  for (std::size_t f = 0; f < feeds.size(); ++f) {
    MakePlan(feeds[f], plans[f]);
    const Plan& p = plans[f];
    packedAll += p.packed;
    zMax = std::max(zMax, static_cast<std::size_t>(p.ldz));
    hMax = std::max(hMax, static_cast<std::size_t>(p.ldh));
    cMax = std::max(cMax, static_cast<std::size_t>(p.m) * static_cast<std::size_t>(p.ldz));
  }
  const int nIn = plans[0].nIn;
  const int width = nIn + plans[0].nOut;
  const int threads = GetPassThreads();
  // Enough blocks at once to keep every thread busy; how many changes only
  // when the blocks are summed, never what is added to what.
  const std::size_t perBlock = packedAll + static_cast<std::size_t>(nFeeds);
  const int most = static_cast<int>(
      std::max<std::size_t>(1, kSlotBytes / (sizeof(double) * std::max<std::size_t>(perBlock, 1))));
  const int blocks = std::max(1, std::min(most, (4 * threads + nFeeds - 1) / nFeeds));

  std::vector<double> records(static_cast<std::size_t>(blocks) * kSolverBlock *
                              static_cast<std::size_t>(width));
  std::vector<const double*> rows(static_cast<std::size_t>(blocks) * kSolverBlock);
  for (std::size_t r = 0; r < rows.size(); ++r) rows[r] = &records[r * width];
  // Slot of feed f, block b: its packed sums, then (in errors) its error.
  std::vector<std::size_t> slotOf(feeds.size());
  std::size_t at = 0;
  for (std::size_t f = 0; f < feeds.size(); ++f) {
    slotOf[f] = at;
    at += plans[f].packed * static_cast<std::size_t>(blocks);
  }
  std::vector<double> slots(at);
  std::vector<double> errors(feeds.size() * static_cast<std::size_t>(blocks));
  const int workers = std::max(1, std::min(threads, blocks * nFeeds));
  std::vector<Scratch> scratch(static_cast<std::size_t>(workers));
  for (Scratch& s : scratch) {
    s.z.assign(kSolverBlock * zMax, 0.0);
    s.h.assign(kSolverBlock * hMax, 0.0);
    s.c.assign(cMax, 0.0);
  }

  // Each block's sums of every feed (packed cross-products, then the
  // squared error) form one row of the tree.
  std::vector<std::size_t> rowOf(feeds.size());
  std::size_t rowWidth = 0;
  for (std::size_t f = 0; f < feeds.size(); ++f) {
    rowOf[f] = rowWidth;
    rowWidth += plans[f].packed + 1;
  }
  const SharedSource* shared = FindSharedSource(&source);
  BlockTree tree;
  tree.Reserve(rowWidth, 1);
  tree.Reset(rowWidth, shared ? shared->firstBlock : 0);

  int filled = 0;
  int added = 0;
  bool shortRecord = false;
  auto flush = [&] {
    const int nBlocks = (filled + kSolverBlock - 1) / kSolverBlock;
    const int pieces = nBlocks * nFeeds;
    std::atomic<int> next{0};
    RunWorkers(std::min(workers, pieces), [&](int w) {
      Scratch& s = scratch[static_cast<std::size_t>(w)];
      for (int piece = next++; piece < pieces; piece = next++) {
        const int b = piece / nFeeds;
        const std::size_t f = static_cast<std::size_t>(piece % nFeeds);
        const int n = std::min(kSolverBlock, filled - b * kSolverBlock);
        BlockSums(kernel, plans[f], &rows[static_cast<std::size_t>(b) * kSolverBlock], n, s,
                  &slots[slotOf[f] + static_cast<std::size_t>(b) * plans[f].packed],
                  &errors[f * static_cast<std::size_t>(blocks) + static_cast<std::size_t>(b)]);
      }
    });
    for (int b = 0; b < nBlocks; ++b) {
      double* row = tree.Next();
      for (std::size_t f = 0; f < feeds.size(); ++f) {
        const double* sums = &slots[slotOf[f] + static_cast<std::size_t>(b) * plans[f].packed];
        std::copy_n(sums, plans[f].packed, row + rowOf[f]);
        row[rowOf[f] + plans[f].packed] =
            feeds[f].predictionError
                ? errors[f * static_cast<std::size_t>(blocks) + static_cast<std::size_t>(b)]
                : 0.0;
      }
      tree.Add();
    }
    added += filled;
    filled = 0;
  };
  const int capacity = blocks * kSolverBlock;
  while (source.IsGood() && counted < limit && !stop()) {
    const VXCommon_1_2::Record* record = source.Next();
    if (record == nullptr) break;
    if (record->Size() < width) {
      if (countShort) ++counted;
      shortRecord = true;
      continue;
    }
    std::copy_n(record->GetAll(), width, &records[static_cast<std::size_t>(filled) * width]);
    ++counted;
    if (++filled == capacity) flush();
  }
  if (filled > 0) flush();
  if (shared) {
    TreeExchangeTotals totals;
    totals.sums = {static_cast<double>(added), static_cast<double>(counted)};
    // A skipped record moves the later blocks' places off the sequence's.
    totals.any = {stop() || (askHost && askHost()), shortRecord};
    TreeExchangeBuffers buffers;
    int failure = ExchangeTree(*shared->combiner, tree, totals, buffers);
    // A cancel on any process cancels every process, whose passes may
    // then have stopped anywhere: the sums are not used.
    if (failure != codes::kExchangeFailed && totals.any[0]) {
      if (RunCombiner()) SetRunCanceled(true);
      return 0;
    }
    if (failure == 0 && totals.any[1]) failure = codes::kSharesDoNotMatch;
    // Checked by the exchange: whole counts, their totals within an int.
    if (failure != 0) return -failure;
    added = static_cast<int>(totals.sums[0]);
    counted = static_cast<int>(totals.sums[1]);
  }
  if (tree.Nodes() == 0) return added;
  std::vector<double> total(rowWidth);
  tree.Total(total.data());
  for (std::size_t f = 0; f < feeds.size(); ++f) {
    feeds[f].regression->AddCrossProducts(&total[rowOf[f]], added);
    if (feeds[f].predictionError) feeds[f].squaredError += total[rowOf[f] + plans[f].packed];
  }
  return added;
}

}  // namespace detail
}  // namespace VXNeural
