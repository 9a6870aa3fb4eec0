// The sums of a pass's fixed blocks of records, added up in a binary tree
// over the blocks' places in the whole record sequence.
//
// Block k's values are added to block k+1's when k is even, those two
// blocks' sum to the sum of blocks k+2 and k+3 when k is a multiple of 4,
// and so on: each node of the tree is the sum of two aligned halves, left
// plus right. The blocks of any run [first, end) of the sequence can be
// summed on their own into the nodes that lie wholly inside the run (at
// most two per level), and the nodes of adjacent runs put together give
// exactly the nodes the whole sequence gives, whatever the runs: so the
// processes of a data-parallel pass, each holding a run of blocks, arrive
// at the sums one process arrives at, bit for bit. The nodes left at the
// end (one per 1 bit of the block count) are added up from the left.
//
// Blocks (and nodes from elsewhere) come in sequence order. The stack of
// open nodes keeps its buffers from pass to pass, so a pass of a size seen
// before allocates nothing.
#pragma once

#include <cstddef>
#include <vector>

namespace VXNeural {
namespace detail {

class BlockTree {
 public:
  // Buffers for `nodes` open nodes of `width` values, so that passes of
  // up to 2^nodes - 1 blocks allocate nothing; deeper passes add theirs
  // the first time.
  void Reserve(std::size_t width, int nodes);
  // Starts a sum of `width` values per block whose first block is block
  // `first` of the sequence.
  void Reset(std::size_t width, long long first);
  // The buffer for the next block's values, to be filled before Add.
  double* Next();
  // Adds the block just filled, and merges the nodes it completes.
  void Add();
  // Adds a node formed elsewhere: `blocks` blocks (a power of 2) from
  // block `start` (a multiple of blocks), which must come next in the
  // sequence.
  void AddNode(long long start, long long blocks, const double* values);

  std::size_t Width() const { return fWidth; }
  // The open nodes, in sequence order.
  int Nodes() const { return fUsed; }
  long long NodeStart(int i) const { return fNodes[static_cast<std::size_t>(i)].start; }
  long long NodeBlocks(int i) const { return fNodes[static_cast<std::size_t>(i)].blocks; }
  const double* NodeValues(int i) const {
    return fNodes[static_cast<std::size_t>(i)].values.data();
  }
  // The sum of every block added: the open nodes added up from the left
  // (width zeros when there is none).
  void Total(double* out) const;

 private:
  struct Node {
    long long start = 0;
    long long blocks = 0;
    std::vector<double> values;
  };
  double* Push(long long start, long long blocks);
  void Merge();
  std::vector<Node> fNodes;
  int fUsed = 0;
  std::size_t fWidth = 0;
  long long fNext = 0;
};

}  // namespace detail
}  // namespace VXNeural
