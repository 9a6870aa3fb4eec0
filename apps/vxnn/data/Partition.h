// Splitting the records of a file into a training and a test set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace vxnn {

// Decides, record after record, which of n records are held out for
// testing: exactly round(n * testFraction) of them, every such subset
// equally likely (selection sampling: record i is held out with
// probability (held-out records still wanted) / (records left)). Nothing
// per record is stored, so a split of any number of records can be
// replayed on every pass over a file. The draw depends only on n, the
// fraction and the seed (a 64-bit Mersenne twister, whose output sequence
// is fixed by the language standard, with a draw of our own rather than
// the library's distributions, which differ between implementations), so a
// split can be reproduced anywhere. testFraction must lie in [0, 1).
class SplitDraw {
 public:
  SplitDraw(std::size_t n, double testFraction, unsigned seed);

  // Back to the first record.
  void Restart();
  // Whether the next record is held out; false past the n-th.
  bool NextIsTest();

  std::size_t Records() const { return fN; }
  std::size_t TestRecords() const { return fTest; }
  std::size_t TrainRecords() const { return fN - fTest; }

 private:
  std::size_t fN, fTest;
  unsigned fSeed;
  std::mt19937_64 fRng;
  std::size_t fSeen = 0, fChosen = 0;
};

struct Partition {
  // Indices into the records, each set in increasing order.
  std::vector<std::size_t> fTrain;
  std::vector<std::size_t> fTest;
};

// The split SplitDraw makes, as index lists (for data held in memory).
Partition SplitRecords(std::size_t n, double testFraction, unsigned seed);

}  // namespace vxnn
