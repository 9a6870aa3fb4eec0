#include "Hierarchy.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numeric>

#include "Workers.h"

namespace VXCluster {

namespace {

// x = m 2^e with m in [1, 2): adds e to exponent and returns m (x normal).
inline double Split(double x, long& exponent) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  exponent += static_cast<long>((bits >> 52) & 0x7ff) - 1023;
  bits = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1023} << 52);
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

constexpr int kBlock = 16;  // variables per step of the pair test

// One pair for the test below: per entry the means and variances (padded to
// whole blocks) and the sums of log V to each block's end; the counts, the
// union's weights, and the test's offset and scale.
struct PairTerms {
  const double *ma, *va, *mb, *vb, *pa, *pb;
  double na, nb, wa, wb, wab, base, scale;
  int blocks;
};

// Block by block, whether log2 of the product of union variances so far
// exceeds (base + na SA + nb SB) scale, SA and SB the entries' sums of log V
// over the same variables. Built for the widest vector unit the machine has
// where the compiler can choose at load time; the builds differ only in
// rounding, far inside the caller's margin. Not under ThreadSanitizer,
// whose runtime is not ready when the loader runs the choosing code.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("arch=haswell", "default")))
#endif
bool ProductExceeds(const PairTerms& t) {
  // The product is mantissa * 2^exponent with mantissa in [1, 4^blocks):
  // each block's four lanes are joined two by two, and each half's binary
  // exponent set apart.
  long exponent = 0;
  double mantissa = 1.0;
  double needed = 0.0;
  for (int blk = 0; blk < t.blocks; ++blk) {
    double lane[4] = {1.0, 1.0, 1.0, 1.0};
    const int k0 = blk * kBlock;
    for (int k = k0; k < k0 + kBlock; k += 4)
      for (int l = 0; l < 4; ++l) {
        const double d = t.mb[k + l] - t.ma[k + l];
        lane[l] *= t.wa * t.va[k + l] + t.wb * t.vb[k + l] + t.wab * d * d;
      }
    mantissa *= Split(lane[0] * lane[1], exponent) * Split(lane[2] * lane[3], exponent);
    if (blk % 64 == 63) mantissa = Split(mantissa, exponent);
    needed = (t.base + t.na * t.pa[blk] + t.nb * t.pb[blk]) * t.scale;
    if (static_cast<double>(exponent) > needed) return true;
  }
  return static_cast<double>(exponent) + std::log2(mantissa) > needed;
}

// Every distance is a sum of logarithms over all variables, and the merging
// asks for a great many of them while needing only the few nearest. A cheap
// test rules most pairs out. For two entries whose continuous variables all
// count the same records, the continuous part of their distance is
//   1/2 sum_k (n log Vu_k - na log Va_k - nb log Vb_k),
// V being a variance plus its floor and Vu_k = wa Va_k + wb Vb_k + wa wb d_k^2
// that of the union (weights w = count / n, n = na + nb, d_k the difference
// of the means). Each term is at least 0, and so is the categorical part, so
// any leading run of variables bounds the distance from below. The entries'
// sums of log V are kept per block of variables, and the union's sum is the
// logarithm of a product, whose binary exponent alone settles most pairs
// without any logarithm. What the test ignores of the exact distance is
// rounding only, covered by a wide margin: a pair is ruled out only when its
// exact distance is certainly larger than the limit.
class DistanceBound {
 public:
  DistanceBound(const SummaryLayout& layout, const std::vector<double>& entries, int m)
      : fLayout(layout) {
    fColumns = layout.ContinuousColumns();
    OrderColumns(entries, m);
    const int nc = static_cast<int>(fColumns.size());
    fBlocks = (nc + kBlock - 1) / kBlock;
    fStride = fBlocks * kBlock;
    // Products of eight union variances must stay normal doubles: bound the
    // floors here and the means and spreads per entry (Refresh), which puts
    // every union variance within [2^-100, 2^97].
    fEnabled = nc > 0;
    for (const SummaryLayout::ContinuousColumn& c : fColumns)
      fEnabled = fEnabled && c.fFloor >= std::ldexp(1.0, -100) && c.fFloor <= std::ldexp(1.0, 94);
    if (!fEnabled) return;
    const std::size_t e = static_cast<std::size_t>(m);
    // Padding variables have mean 0 and variance 1: they add log 1 = 0.
    fMean.assign(e * static_cast<std::size_t>(fStride), 0.0);
    fVar.assign(e * static_cast<std::size_t>(fStride), 1.0);
    fPrefix.resize(e * static_cast<std::size_t>(fBlocks));
    fCount.resize(e);
    fAbsLog.resize(e);
    fMagnitude.resize(e);
    fUsable.resize(e);
  }

  bool Enabled() const { return fEnabled; }

  // The margin's share per record, from the total record count.
  void SetRecords(double records) {
    fPerRecord = 1.0 + fLayout.NumVariables() * (1.0 + 2.0 * std::log(records + 2.0));
  }

  // Reads entry i's summary s (after any change to it) and its log-likelihood.
  void Refresh(int i, const double* s, double ll) {
    const std::size_t e = static_cast<std::size_t>(i);
    double* mean = &fMean[e * static_cast<std::size_t>(fStride)];
    double* var = &fVar[e * static_cast<std::size_t>(fStride)];
    double* prefix = &fPrefix[e * static_cast<std::size_t>(fBlocks)];
    const double limit = std::ldexp(1.0, 47);
    const double count = s[fColumns[0].fOffset];
    bool usable = count > 0.0 && std::isfinite(ll);
    double sumLog = 0.0, absLog = 0.0;
    const int nc = static_cast<int>(fColumns.size());
    for (int k = 0; k < nc && usable; ++k) {
      const SummaryLayout::ContinuousColumn& c = fColumns[static_cast<std::size_t>(k)];
      const double* a = s + c.fOffset;
      usable = a[0] == count && std::abs(a[1]) <= limit && a[2] <= limit;
      mean[k] = a[1];
      var[k] = a[2] * a[2] + c.fFloor;
      const double l = std::log(var[k]);
      sumLog += l;
      absLog += std::abs(l);
      if (k % kBlock == kBlock - 1 || k == nc - 1) prefix[k / kBlock] = sumLog;
    }
    fUsable[e] = usable;
    fCount[e] = count;
    fAbsLog[e] = absLog;
    fMagnitude[e] = usable ? fLayout.LogLikelihoodMagnitude(s) : 0.0;
  }

  // True only when the exact distance of entries a and b is certainly above
  // limit.
  bool Exceeds(int a, int b, double limit) const {
    const std::size_t ea = static_cast<std::size_t>(a), eb = static_cast<std::size_t>(b);
    if (!fUsable[ea] || !fUsable[eb]) return false;
    const double na = fCount[ea], nb = fCount[eb], n = na + nb;
    // The exact distance and the bound each carry a relative rounding error
    // of some 1e-14 of the magnitudes summed; 1e-9 of them is far beyond it.
    const double margin = 1e-9 * (fMagnitude[ea] + fMagnitude[eb] +
                                  (n + 1.0) * (0.5 * (fAbsLog[ea] + fAbsLog[eb]) + fPerRecord));
    const double target = limit + margin;
    if (!(target >= 0.0)) return false;
    // The test: log2 of the product of union variances above
    // (2 target / (1 - 1e-9) + na SA + nb SB) / (n log 2), SA and SB the
    // entries' sums of log V over the same variables.
    const double base = 2.0 * target / (1.0 - 1e-9);
    const double scale = 1.0 / (n * 0.69314718055994530942);
    const double wa = na / n, wb = nb / n, wab = wa * wb;
    const std::size_t stride = static_cast<std::size_t>(fStride);
    const double* ma = &fMean[ea * stride];
    const double* va = &fVar[ea * stride];
    const double* mb = &fMean[eb * stride];
    const double* vb = &fVar[eb * stride];
    const double* pa = &fPrefix[ea * static_cast<std::size_t>(fBlocks)];
    const double* pb = &fPrefix[eb * static_cast<std::size_t>(fBlocks)];
    return ProductExceeds({ma, va, mb, vb, pa, pb, na, nb, wa, wb, wab, base, scale, fBlocks});
  }

 private:
  // The test stops at the first block that settles a pair, so the variables
  // that tell entries apart best go first: those whose entry means spread
  // most against their variances.
  void OrderColumns(const std::vector<double>& entries, int m) {
    const std::size_t w = static_cast<std::size_t>(fLayout.Width());
    std::vector<double> score;
    for (const SummaryLayout::ContinuousColumn& c : fColumns) {
      double n = 0.0, mean = 0.0, within = 0.0, between = 0.0;
      for (int i = 0; i < m; ++i) {
        const double* a =
            &entries[static_cast<std::size_t>(i) * w + static_cast<std::size_t>(c.fOffset)];
        if (!(a[0] > 0.0)) continue;
        n += a[0];
        const double delta = a[1] - mean;
        mean += delta * a[0] / n;
        between += a[0] * delta * (a[1] - mean);
        within += a[0] * a[2] * a[2];
      }
      const double ratio = between / (within + n * c.fFloor + 1e-300);
      score.push_back(std::isfinite(ratio) ? ratio : 0.0);
    }
    std::vector<std::size_t> order(fColumns.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t x, std::size_t y) { return score[x] > score[y]; });
    std::vector<SummaryLayout::ContinuousColumn> sorted;
    for (std::size_t k : order) sorted.push_back(fColumns[k]);
    fColumns.swap(sorted);
  }

  const SummaryLayout& fLayout;
  int fBlocks = 0;
  int fStride = 0;
  bool fEnabled = false;
  double fPerRecord = 0.0;
  std::vector<SummaryLayout::ContinuousColumn> fColumns;
  std::vector<double> fMean, fVar;  // per entry, per continuous variable
  std::vector<double> fPrefix;      // per entry, sum of log V to each block's end
  std::vector<double> fCount, fAbsLog, fMagnitude;
  std::vector<char> fUsable;
};

}  // namespace

void Hierarchy::Build(const SummaryLayout& layout, const std::vector<double>& entries, int threads,
                      const ClusterSettings::Runner& runner, int sharedFrom) {
  const std::size_t w = static_cast<std::size_t>(layout.Width());
  const int m = static_cast<int>(entries.size() / w);
  fM = m;
  fMerges.clear();
  fMerges.reserve(static_cast<std::size_t>(m > 0 ? m - 1 : 0));

  std::vector<double> cf(entries);
  auto at = [&](int i) { return &cf[static_cast<std::size_t>(i) * w]; };
  std::vector<double> ll(static_cast<std::size_t>(m));
  std::vector<int> alive(static_cast<std::size_t>(m));  // active entries, ascending
  std::iota(alive.begin(), alive.end(), 0);
  std::vector<int> nearest(static_cast<std::size_t>(m), -1);
  std::vector<double> nearestDist(static_cast<std::size_t>(m), 0.0);
  std::vector<double> toKept(static_cast<std::size_t>(m), 0.0);
  std::vector<char> known(static_cast<std::size_t>(m), 0), rescan(static_cast<std::size_t>(m), 0);
  for (int i = 0; i < m; ++i) ll[static_cast<std::size_t>(i)] = layout.LogLikelihood(at(i));
  fLogLikelihoodOfEntries = std::accumulate(ll.begin(), ll.end(), 0.0);

  // Pairs are ruled out only while every distance is a number, so that
  // "least, then lowest number" picks what measuring everything would.
  DistanceBound bound(layout, entries, m);
  bool pruning = bound.Enabled() && std::isfinite(fLogLikelihoodOfEntries);
  if (pruning) {
    double records = 0.0;
    for (int i = 0; i < m; ++i) {
      records += at(i)[0];
      bound.Refresh(i, at(i), ll[static_cast<std::size_t>(i)]);
    }
    bound.SetRecords(records);
  }
  auto farther = [&](int i, int j, double limit) { return pruning && bound.Exceeds(i, j, limit); };

  auto dist = [&](int i, int j) {
    return ll[static_cast<std::size_t>(i)] + ll[static_cast<std::size_t>(j)] -
           layout.LogLikelihoodOfUnion(at(i), at(j));
  };
  // Nearest neighbour of i among the active entries; ties to the lowest
  // number. A likely near entry (seed, at distance seedDist), when given, is
  // taken first so that the test rules out the others early; the least
  // distance and the lowest number among its ties come out the same.
  auto findNearest = [&](int i, int seed, double seedDist) {
    int best = seed;
    double bestDist = seedDist;
    for (int j : alive) {
      if (j == i || j == seed || (best >= 0 && farther(i, j, bestDist))) continue;
      const double d = dist(i, j);
      if (best < 0 || d < bestDist || (d == bestDist && j < best)) {
        best = j;
        bestDist = d;
      }
    }
    nearest[static_cast<std::size_t>(i)] = best;
    nearestDist[static_cast<std::size_t>(i)] = best < 0 ? 0.0 : bestDist;
  };
  // The searches run in pieces of kPiece active entries, fixed whatever the
  // thread count; a sweep over fewer than kSharedFrom entries is too short
  // to be worth handing out.
  auto share = [&](int pieces, int work, const std::function<void(int)>& piece) {
    ForPieces(work >= sharedFrom ? threads : 1, runner, pieces, piece);
  };
  // Entries come in the order of the summary tree's leaves, where neighbours
  // tend to be alike: the next one is the seed. Each entry's search writes
  // only its own nearest.
  share((m + kPiece - 1) / kPiece, m, [&](int p) {
    for (int i = p * kPiece; i < std::min(m, (p + 1) * kPiece); ++i) {
      const int seed = !pruning || m < 2 ? -1 : i + 1 < m ? i + 1 : i - 1;
      findNearest(i, seed, seed < 0 ? 0.0 : dist(i, seed));
    }
  });
  std::vector<int> pieceBest;
  std::vector<double> pieceBestDist;
  std::vector<int> rescans;

  for (int left = m; left > 1; --left) {
    int i = -1;
    for (int k : alive)
      if (i < 0 ||
          nearestDist[static_cast<std::size_t>(k)] < nearestDist[static_cast<std::size_t>(i)])
        i = k;
    const int j = nearest[static_cast<std::size_t>(i)];
    const int kept = std::min(i, j), gone = std::max(i, j);
    const double d = nearestDist[static_cast<std::size_t>(i)];
    fMerges.push_back({kept, gone, d});

    layout.Add(at(kept), at(gone));
    ll[static_cast<std::size_t>(kept)] = layout.LogLikelihood(at(kept));
    alive.erase(std::lower_bound(alive.begin(), alive.end(), gone));
    if (pruning) {
      pruning = std::isfinite(ll[static_cast<std::size_t>(kept)]);
      if (pruning) bound.Refresh(kept, at(kept), ll[static_cast<std::size_t>(kept)]);
    }

    // Only distances to the merged cluster changed. Entries whose nearest
    // was one of the pair look again from scratch (below); the others
    // compare the merged cluster with their current nearest. The merged
    // cluster's own nearest is found in the same sweep, each piece finding
    // its own nearest and the pieces' taken in order, ties to the first:
    // the lowest number, as one sweep finds it. (A piece rules out fewer
    // entries than one sweep would, but only those certainly farther.)
    const int nAlive = static_cast<int>(alive.size());
    const int pieces = (nAlive + kPiece - 1) / kPiece;
    pieceBest.assign(static_cast<std::size_t>(pieces), -1);
    pieceBestDist.assign(static_cast<std::size_t>(pieces), 0.0);
    share(pieces, nAlive, [&](int p) {
      int bestKept = -1;
      double bestKeptDist = 0.0;
      for (int at = p * kPiece; at < std::min(nAlive, (p + 1) * kPiece); ++at) {
        const int k = alive[static_cast<std::size_t>(at)];
        if (k == kept) continue;
        const std::size_t ek = static_cast<std::size_t>(k);
        const int nk = nearest[ek];
        rescan[ek] = nk == kept || nk == gone;
        known[ek] = 0;
        if (bestKept >= 0 &&
            farther(kept, k, rescan[ek] ? bestKeptDist : std::max(bestKeptDist, nearestDist[ek])))
          continue;
        const double dk = dist(k, kept);
        toKept[ek] = dk;
        known[ek] = 1;
        if (bestKept < 0 || dk < bestKeptDist) {
          bestKept = k;
          bestKeptDist = dk;
        }
        if (!rescan[ek] && (dk < nearestDist[ek] || (dk == nearestDist[ek] && kept < nk))) {
          nearest[ek] = kept;
          nearestDist[ek] = dk;
        }
      }
      pieceBest[static_cast<std::size_t>(p)] = bestKept;
      pieceBestDist[static_cast<std::size_t>(p)] = bestKeptDist;
    });
    int bestKept = -1;
    double bestKeptDist = 0.0;
    for (int p = 0; p < pieces; ++p) {
      const int b = pieceBest[static_cast<std::size_t>(p)];
      const double d = pieceBestDist[static_cast<std::size_t>(p)];
      if (b >= 0 && (bestKept < 0 || d < bestKeptDist)) {
        bestKept = b;
        bestKeptDist = d;
      }
    }
    nearest[static_cast<std::size_t>(kept)] = bestKept;
    nearestDist[static_cast<std::size_t>(kept)] = bestKept < 0 ? 0.0 : bestKeptDist;
    // Each search writes only its own entry's nearest.
    rescans.clear();
    for (int k : alive)
      if (k != kept && rescan[static_cast<std::size_t>(k)]) rescans.push_back(k);
    share(static_cast<int>(rescans.size()), nAlive * static_cast<int>(rescans.size()), [&](int r) {
      const int k = rescans[static_cast<std::size_t>(r)];
      const std::size_t ek = static_cast<std::size_t>(k);
      if (!pruning)
        findNearest(k, -1, 0.0);
      else
        findNearest(k, kept, known[ek] ? toKept[ek] : dist(k, kept));
    });
  }
  Shares(entries, static_cast<int>(w));
}

void Hierarchy::Shares(const std::vector<double>& entries, int width) {
  auto xlogx = [](double x) { return x > 0.0 ? x * std::log(x) : 0.0; };
  // Each entry's newest node, merge by merge, gives every merge its children;
  // each representative's records, the shares of every count.
  std::vector<int> node(static_cast<std::size_t>(fM));
  std::iota(node.begin(), node.end(), 0);
  std::vector<double> records(static_cast<std::size_t>(fM));
  double all = 0.0, share = 0.0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i] = entries[i * static_cast<std::size_t>(width)];
    all += records[i];
    share += xlogx(records[i]);
  }
  share -= xlogx(all);
  fShares.assign(static_cast<std::size_t>(fM) + 1, 0.0);
  if (fM > 0) fShares[static_cast<std::size_t>(fM)] = share;
  fChildren.clear();
  fParent.assign(fM > 0 ? 2 * static_cast<std::size_t>(fM) - 1 : 0, -1);
  for (std::size_t t = 0; t < fMerges.size(); ++t) {
    const std::size_t kept = static_cast<std::size_t>(fMerges[t].fKept),
                      gone = static_cast<std::size_t>(fMerges[t].fGone);
    fChildren.push_back({node[kept], node[gone]});
    fParent[static_cast<std::size_t>(node[kept])] = fM + static_cast<int>(t);
    fParent[static_cast<std::size_t>(node[gone])] = fM + static_cast<int>(t);
    node[kept] = fM + static_cast<int>(t);
    share += xlogx(records[kept] + records[gone]) - xlogx(records[kept]) - xlogx(records[gone]);
    records[kept] += records[gone];
    fShares[static_cast<std::size_t>(fM) - t - 1] = share;
  }
}

void Hierarchy::LabelsOf(const std::vector<int>& nodes, std::vector<int>& labels) const {
  labels.assign(static_cast<std::size_t>(fM), -1);
  std::vector<int> stack;
  for (int top : nodes) {
    const int name = Lowest(top);
    stack.assign(1, top);
    while (!stack.empty()) {
      const int n = stack.back();
      stack.pop_back();
      if (IsLeaf(n)) {
        labels[static_cast<std::size_t>(n)] = name;
      } else {
        stack.push_back(Left(n));
        stack.push_back(Right(n));
      }
    }
  }
}

double Hierarchy::LogLikelihood(int c) const {
  double ll = fLogLikelihoodOfEntries;
  for (int t = 0; t < fM - c; ++t) ll -= fMerges[static_cast<std::size_t>(t)].fDistance;
  return ll;
}

void Hierarchy::Labels(int c, std::vector<int>& labels) const {
  // Union-find over the first M - c merges; the representative is always the
  // lower number, so a cluster is named by its lowest entry.
  labels.resize(static_cast<std::size_t>(fM));
  std::iota(labels.begin(), labels.end(), 0);
  auto root = [&](int i) {
    while (labels[static_cast<std::size_t>(i)] != i) i = labels[static_cast<std::size_t>(i)];
    return i;
  };
  for (int t = 0; t < fM - c; ++t) {
    const Merge& mg = fMerges[static_cast<std::size_t>(t)];
    labels[static_cast<std::size_t>(mg.fGone)] = root(mg.fKept);
  }
  for (int i = 0; i < fM; ++i) labels[static_cast<std::size_t>(i)] = root(i);
}

}  // namespace VXCluster
