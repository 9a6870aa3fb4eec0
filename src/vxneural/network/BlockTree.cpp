#include "network/BlockTree.h"

#include <algorithm>

namespace VXNeural {
namespace detail {

void BlockTree::Reserve(std::size_t width, int nodes) {
  if (fNodes.size() < static_cast<std::size_t>(nodes))
    fNodes.resize(static_cast<std::size_t>(nodes));
  for (Node& node : fNodes)
    if (node.values.size() < width) node.values.resize(width);
}

void BlockTree::Reset(std::size_t width, long long first) {
  fWidth = width;
  fNext = first;
  fUsed = 0;
}

double* BlockTree::Push(long long start, long long blocks) {
  if (fNodes.size() <= static_cast<std::size_t>(fUsed)) fNodes.emplace_back();
  Node& node = fNodes[static_cast<std::size_t>(fUsed)];
  node.start = start;
  node.blocks = blocks;
  if (node.values.size() < fWidth) node.values.resize(fWidth);
  return node.values.data();
}

double* BlockTree::Next() { return Push(fNext, 1); }

void BlockTree::Add() {
  ++fUsed;
  ++fNext;
  Merge();
}

void BlockTree::AddNode(long long start, long long blocks, const double* values) {
  std::copy_n(values, fWidth, Push(start, blocks));
  ++fUsed;
  fNext = start + blocks;
  Merge();
}

// Two open nodes on top merge when they are the halves of one node: equal
// sizes, adjacent, the left one aligned to twice its size.
void BlockTree::Merge() {
  while (fUsed >= 2) {
    Node& left = fNodes[static_cast<std::size_t>(fUsed - 2)];
    const Node& right = fNodes[static_cast<std::size_t>(fUsed - 1)];
    if (left.blocks != right.blocks || right.start != left.start + left.blocks ||
        left.start % (2 * left.blocks) != 0)
      return;
    double* l = left.values.data();
    const double* r = right.values.data();
    for (std::size_t i = 0; i < fWidth; ++i) l[i] += r[i];
    left.blocks *= 2;
    --fUsed;
  }
}

void BlockTree::Total(double* out) const {
  std::fill_n(out, fWidth, 0.0);
  if (fUsed == 0) return;
  std::copy_n(fNodes[0].values.data(), fWidth, out);
  for (int i = 1; i < fUsed; ++i) {
    const double* v = fNodes[static_cast<std::size_t>(i)].values.data();
    for (std::size_t j = 0; j < fWidth; ++j) out[j] += v[j];
  }
}

}  // namespace detail
}  // namespace VXNeural
