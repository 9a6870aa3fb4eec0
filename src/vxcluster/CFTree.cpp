#include "CFTree.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace VXCluster {

namespace {

// Rounding slack of the absorption test: a summary and an identical record
// differ by a few units in the last place after merged spreads.
double Slack(double threshold) { return 1e-9 * (1.0 + threshold); }

}  // namespace

int CFTree::CapacityFor(std::size_t budgetBytes, int maxEntries, int branching, int width) {
  // Per leaf entry: its summary, up to two inner-slot summaries (nodes are
  // bounded by twice the entries), its copy in the rebuild buffer, and two
  // nodes' slot arrays.
  const std::size_t perEntry =
      sizeof(double) * static_cast<std::size_t>(width) * 4 +
      2 * (sizeof(int) * 2 * static_cast<std::size_t>(branching + 1) + sizeof(int) * 2 + 1);
  const std::size_t fit = budgetBytes / perEntry;
  const int n = static_cast<int>(std::min<std::size_t>(
      {fit, static_cast<std::size_t>(std::max(maxEntries, 0)), std::size_t{kMaxCapacity}}));
  return n >= 4 ? n : 0;
}

CFTree::CFTree(const SummaryLayout& layout, int capacity, int branching, double threshold)
    : fLayout(layout),
      fWidth(layout.Width()),
      fB(branching),
      fCapacity(capacity),
      fMaxNodes(2 * capacity + 2),
      fMaxSummaries(capacity + fMaxNodes) {
  Clear(threshold);
}

namespace {

// The size a pool grows to so that it holds at least n: doubling from a
// first step that covers a small data set at once, never beyond the most.
std::size_t Grown(std::size_t have, std::size_t n, std::size_t most) {
  std::size_t size = std::max<std::size_t>(have, 64);
  while (size < n) size *= 2;
  return std::min(size, most);
}

}  // namespace

void CFTree::GrowNodes(std::size_t n) {
  const std::size_t nodes = Grown(fCount.size(), n, static_cast<std::size_t>(fMaxNodes));
  fSlots.resize(nodes * static_cast<std::size_t>(fB + 1));
  fChildren.resize(nodes * static_cast<std::size_t>(fB + 1));
  fCount.resize(nodes);
  fLeaf.resize(nodes);
}

void CFTree::GrowSummaries(std::size_t n) {
  const std::size_t summaries = Grown(fLL.size(), n, static_cast<std::size_t>(fMaxSummaries));
  fPool.resize(summaries * static_cast<std::size_t>(fWidth));
  fLL.resize(summaries);
}

void CFTree::Clear(double threshold) {
  fThreshold = threshold;
  fNodesUsed = 0;
  fSummariesUsed = 0;
  fRoot = -1;
  fHeight = 0;
  fNLeafEntries = 0;
}

int CFTree::NewNode(bool leaf) {
  const int n = fNodesUsed++;
  if (static_cast<std::size_t>(n) >= fCount.size()) GrowNodes(static_cast<std::size_t>(n) + 1);
  fCount[static_cast<std::size_t>(n)] = 0;
  fLeaf[static_cast<std::size_t>(n)] = leaf;
  return n;
}

int CFTree::NewSummary() {
  const int s = fSummariesUsed++;
  if (static_cast<std::size_t>(s) >= fLL.size()) GrowSummaries(static_cast<std::size_t>(s) + 1);
  return s;
}

void CFTree::SumOfNode(int node, int e) {
  double* out = Summary(e);
  std::fill(out, out + fWidth, 0.0);
  for (int i = 0; i < fCount[static_cast<std::size_t>(node)]; ++i)
    fLayout.Add(out, Summary(Slot(node, i)));
  Refresh(e);
}

int CFTree::Nearest(int node, const double* s, double llS, double& dist) const {
  int best = -1;
  for (int i = 0; i < fCount[static_cast<std::size_t>(node)]; ++i) {
    const double d = Dist(Slot(node, i), s, llS);
    if (best < 0 || d < dist) {
      best = i;
      dist = d;
    }
  }
  return best;
}

void CFTree::Insert(const double* summary) {
  while (!TryInsert(summary)) Rebuild();
}

bool CFTree::TryInsert(const double* s) {
  // The pools grow before the descent, for the worst case (a split at every
  // level and a new root), so that none moves under the references held on
  // the way down.
  const std::size_t levels = static_cast<std::size_t>(fHeight) + 1;
  if (static_cast<std::size_t>(fNodesUsed) + levels > fCount.size())
    GrowNodes(static_cast<std::size_t>(fNodesUsed) + levels);
  if (static_cast<std::size_t>(fSummariesUsed) + 1 + 2 * levels > fLL.size())
    GrowSummaries(static_cast<std::size_t>(fSummariesUsed) + 1 + 2 * levels);
  if (fRoot < 0) {
    fRoot = NewNode(true);
    fHeight = 1;
  }
  int sibling = -1;
  const Result r = InsertInto(fRoot, s, fLayout.LogLikelihood(s), sibling);
  if (r == Result::kFull) return false;
  if (r == Result::kSplit) {
    // The room for this was reserved before the leaf took the entry.
    const int root = NewNode(false);
    for (int child : {fRoot, sibling}) {
      const int i = fCount[static_cast<std::size_t>(root)]++;
      Slot(root, i) = NewSummary();
      Child(root, i) = child;
      SumOfNode(child, Slot(root, i));
    }
    fRoot = root;
    ++fHeight;
  }
  return true;
}

CFTree::Result CFTree::InsertInto(int node, const double* s, double llS, int& newNode) {
  int& count = fCount[static_cast<std::size_t>(node)];
  double d = 0.0;
  const int i = Nearest(node, s, llS, d);
  if (fLeaf[static_cast<std::size_t>(node)]) {
    // An infinite threshold absorbs whatever the distance says: the
    // summaries keep distances finite, but should one ever stop being a
    // number the rebuild doubles the threshold up to infinity, and merging
    // everything must still make room.
    if (i >= 0 && (d <= fThreshold + Slack(fThreshold) || std::isinf(fThreshold))) {
      fLayout.Add(Summary(Slot(node, i)), s);
      Refresh(Slot(node, i));
      return Result::kDone;
    }
    // A new entry may split every node up to a new root: reserve for the
    // worst case now so that nothing on the path is left half changed.
    const std::size_t levels = static_cast<std::size_t>(fHeight) + 1;
    if (fNLeafEntries >= fCapacity || static_cast<std::size_t>(fMaxNodes - fNodesUsed) < levels ||
        static_cast<std::size_t>(fMaxSummaries - fSummariesUsed) < 1 + 2 * levels)
      return Result::kFull;
    const int e = NewSummary();
    std::copy(s, s + fWidth, Summary(e));
    fLL[static_cast<std::size_t>(e)] = llS;
    Slot(node, count++) = e;
    ++fNLeafEntries;
  } else {
    const int child = Child(node, i);
    int sibling = -1;
    const Result r = InsertInto(child, s, llS, sibling);
    if (r == Result::kFull) return r;
    if (r == Result::kDone) {
      fLayout.Add(Summary(Slot(node, i)), s);
      Refresh(Slot(node, i));
      return r;
    }
    SumOfNode(child, Slot(node, i));
    Slot(node, count) = NewSummary();
    Child(node, count) = sibling;
    SumOfNode(sibling, Slot(node, count));
    ++count;
  }
  if (count <= fB) return Result::kDone;
  newNode = Split(node);
  return Result::kSplit;
}

int CFTree::Split(int node) {
  const int n = fCount[static_cast<std::size_t>(node)];
  int a = 0, b = 1;
  double far = -1.0;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      const double d = Dist(Slot(node, i), Slot(node, j));
      if (d > far) {
        far = d;
        a = i;
        b = j;
      }
    }
  const bool leaf = fLeaf[static_cast<std::size_t>(node)];
  const int other = NewNode(leaf);
  int keepSlot[65], keepChild[65], nKeep = 0;
  for (int i = 0; i < n; ++i) {
    const int e = Slot(node, i);
    const bool toOther = i == b || (i != a && Dist(e, Slot(node, b)) < Dist(e, Slot(node, a)));
    int& k = toOther ? fCount[static_cast<std::size_t>(other)] : nKeep;
    int* slot = toOther ? &Slot(other, 0) : keepSlot;
    int* child = toOther ? &Child(other, 0) : keepChild;
    slot[k] = Slot(node, i);
    if (!leaf) child[k] = Child(node, i);
    ++k;
  }
  std::copy(keepSlot, keepSlot + nKeep, &Slot(node, 0));
  if (!leaf) std::copy(keepChild, keepChild + nKeep, &Child(node, 0));
  fCount[static_cast<std::size_t>(node)] = nKeep;
  return other;
}

template <typename F>
void CFTree::ForEachLeaf(int node, F f) const {
  const std::size_t n = static_cast<std::size_t>(node);
  if (fLeaf[n]) {
    f(node);
    return;
  }
  for (int i = 0; i < fCount[n]; ++i) ForEachLeaf(fChildren[n * (fB + 1) + i], f);
}

void CFTree::CollectEntries(std::vector<double>& out) const {
  out.clear();
  out.reserve(static_cast<std::size_t>(fNLeafEntries) * static_cast<std::size_t>(fWidth));
  if (fRoot < 0) return;
  ForEachLeaf(fRoot, [&](int node) {
    for (int i = 0; i < fCount[static_cast<std::size_t>(node)]; ++i) {
      const double* s = Summary(Slot(node, i));
      out.insert(out.end(), s, s + fWidth);
    }
  });
}

void CFTree::NearestDistances() {
  // Per leaf entry, the distance to the nearest entry of the same leaf: the
  // thresholds at which entries would start to merge on a rebuild.
  fScratch.clear();
  fScratch.reserve(static_cast<std::size_t>(fNLeafEntries));
  if (fRoot >= 0)
    ForEachLeaf(fRoot, [&](int node) {
      const int n = fCount[static_cast<std::size_t>(node)];
      for (int i = 0; i < n; ++i) {
        double nearest = -1.0;
        for (int j = 0; j < n; ++j) {
          if (j == i) continue;
          const double d = Dist(Slot(node, i), Slot(node, j));
          if (nearest < 0.0 || d < nearest) nearest = d;
        }
        if (nearest > fThreshold) fScratch.push_back(nearest);
      }
    });
  std::sort(fScratch.begin(), fScratch.end());
}

bool CFTree::RebuildWith(double threshold, std::size_t n) {
  Clear(threshold);
  for (std::size_t i = 0; i < n; ++i)
    if (!TryInsert(&fRebuildBuffer[i * static_cast<std::size_t>(fWidth)])) return false;
  return true;
}

void CFTree::Rebuild() {
  // Aim for a tree between a quarter and three quarters full: emptier wastes
  // the resolution the budget allows, fuller means rebuilding again soon. The
  // threshold is searched among the nearest-entry distances, starting from
  // their median; re-inserting is cheap next to reading the records.
  NearestDistances();
  CollectEntries(fRebuildBuffer);
  const std::size_t n = fRebuildBuffer.size() / static_cast<std::size_t>(fWidth);
  const double least = fThreshold + 1e-9 * (1.0 + fThreshold);
  const int lowTarget = fCapacity / 4, highTarget = fCapacity - std::max(1, fCapacity / 4);
  bool ok = false;
  double threshold = std::max(least, 1e-6);
  int lo = 0, hi = static_cast<int>(fScratch.size()) - 1;
  for (int tries = 0; tries < 8 && lo <= hi; ++tries) {
    const int mid = lo + (hi - lo) / 2;
    threshold = std::max(fScratch[static_cast<std::size_t>(mid)], least);
    ok = RebuildWith(threshold, n);
    if (ok && fNLeafEntries >= lowTarget && fNLeafEntries <= highTarget) break;
    if (!ok || fNLeafEntries > highTarget)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  // Too few distinct distances to search, or none leaving room: double until
  // the tree has room again (merging everything into one entry always does).
  // Distances that are not numbers merge only at an infinite threshold, which
  // doubling from 1e-6 reaches after a thousand rebuilds; past kPlainDoublings
  // the step itself grows (squares), so that takes a dozen more at most.
  constexpr int kPlainDoublings = 16;
  double factor = 2.0;
  for (int doublings = 0; !ok || fNLeafEntries > highTarget; ++doublings) {
    if (doublings >= kPlainDoublings) factor *= factor;
    threshold = std::max(factor * threshold, 1e-6);
    ok = RebuildWith(threshold, n);
  }
  ++fNRebuilds;
}

namespace {

// threshold, branching, width, capacity, nodes, summaries, root, height,
// leaf entries, rebuilds.
constexpr std::size_t kStateHeader = 10;

// A whole number in [lo, hi], as every int of a state must be before it is
// converted (a double outside int's range would make the conversion
// undefined).
bool IntIn(double v, int lo, int hi, int& out) {
  if (!(v >= lo && v <= hi) || v != std::floor(v)) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

void CFTree::SaveState(std::vector<double>& out) const {
  const std::size_t b = static_cast<std::size_t>(fB + 1);
  const std::size_t nodes = static_cast<std::size_t>(fNodesUsed);
  const std::size_t summaries = static_cast<std::size_t>(fSummariesUsed);
  out.reserve(out.size() + kStateHeader + summaries * (static_cast<std::size_t>(fWidth) + 1) +
              nodes * (2 + 2 * b));
  for (double v : {fThreshold, double(fB), double(fWidth), double(fCapacity), double(fNodesUsed),
                   double(fSummariesUsed), double(fRoot), double(fHeight), double(fNLeafEntries),
                   double(fNRebuilds)})
    out.push_back(v);
  out.insert(out.end(), fPool.begin(),
             fPool.begin() + static_cast<std::ptrdiff_t>(summaries * fWidth));
  out.insert(out.end(), fLL.begin(), fLL.begin() + static_cast<std::ptrdiff_t>(summaries));
  for (std::size_t n = 0; n < nodes; ++n) {
    out.push_back(fCount[n]);
    out.push_back(fLeaf[n] ? 1.0 : 0.0);
    for (std::size_t i = 0; i < b; ++i) out.push_back(fSlots[n * b + i]);
    for (std::size_t i = 0; i < b; ++i) out.push_back(fChildren[n * b + i]);
  }
}

bool CFTree::LoadState(const double* state, std::size_t n) {
  // The threshold may have risen to infinity (every record absorbed).
  if (n < kStateHeader || !(state[0] >= 0.0)) return false;
  int b = 0, width = 0, capacity = 0, nodes = 0, summaries = 0, root = 0, height = 0, leaves = 0,
      rebuilds = 0;
  if (!IntIn(state[1], fB, fB, b) || !IntIn(state[2], fWidth, fWidth, width) ||
      !IntIn(state[3], fCapacity, fCapacity, capacity) || !IntIn(state[4], 0, fMaxNodes, nodes) ||
      !IntIn(state[5], 0, fMaxSummaries, summaries) || !IntIn(state[6], -1, nodes - 1, root) ||
      !IntIn(state[7], 0, nodes, height) || !IntIn(state[8], 0, fCapacity, leaves) ||
      !IntIn(state[9], 0, 2147483647, rebuilds))
    return false;
  if ((root < 0) != (nodes == 0) || (root < 0) != (height == 0)) return false;
  const std::size_t slots = static_cast<std::size_t>(fB + 1);
  const std::size_t pool = static_cast<std::size_t>(summaries) * static_cast<std::size_t>(fWidth);
  const std::size_t perNode = 2 + 2 * slots;
  if (n != kStateHeader + pool + static_cast<std::size_t>(summaries) +
               static_cast<std::size_t>(nodes) * perNode)
    return false;
  const double* values = state + kStateHeader;
  const double* ll = values + pool;
  const double* node = ll + summaries;
  // Every number of the nodes is checked before anything is changed.
  for (int k = 0; k < nodes; ++k) {
    const double* at = node + static_cast<std::size_t>(k) * perNode;
    int count = 0, leaf = 0, v = 0;
    if (!IntIn(at[0], 0, fB + 1, count) || !IntIn(at[1], 0, 1, leaf)) return false;
    for (std::size_t i = 0; i < slots; ++i) {
      // The slots in use name summaries and children; the others hold
      // whatever an earlier node left there, still ints.
      const bool used = static_cast<int>(i) < count;
      if (!IntIn(at[2 + i], used ? 0 : -2147483647, used ? summaries - 1 : 2147483647, v) ||
          !IntIn(at[2 + slots + i], used && !leaf ? 0 : -2147483647,
                 used && !leaf ? nodes - 1 : 2147483647, v))
        return false;
    }
  }
  GrowNodes(static_cast<std::size_t>(nodes));
  GrowSummaries(static_cast<std::size_t>(summaries));
  fThreshold = state[0];
  fNodesUsed = nodes;
  fSummariesUsed = summaries;
  fRoot = root;
  fHeight = height;
  fNLeafEntries = leaves;
  fNRebuilds = rebuilds;
  std::copy(values, values + pool, fPool.begin());
  std::copy(ll, ll + summaries, fLL.begin());
  for (std::size_t k = 0; k < static_cast<std::size_t>(nodes); ++k) {
    const double* at = node + k * perNode;
    fCount[k] = static_cast<int>(at[0]);
    fLeaf[k] = at[1] != 0.0;
    for (std::size_t i = 0; i < slots; ++i) {
      fSlots[k * slots + i] = static_cast<int>(at[2 + i]);
      fChildren[k * slots + i] = static_cast<int>(at[2 + slots + i]);
    }
  }
  return true;
}

}  // namespace VXCluster
