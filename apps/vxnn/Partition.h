// Splitting the records of a file into a training and a test set.
#pragma once

#include <cstddef>
#include <vector>

namespace vxnn {

struct Partition {
  // Indices into the records, each set in increasing order.
  std::vector<std::size_t> fTrain;
  std::vector<std::size_t> fTest;
};

// Puts round(n * testFraction) records, drawn at random, in the test set
// and the rest in the training set. The draw depends only on n, the
// fraction and the seed (a 32-bit Mersenne twister, whose output sequence is
// fixed by the language standard, with a draw of our own rather than the
// library's distributions, which differ between implementations), so a
// split can be reproduced anywhere. testFraction must lie in [0, 1).
Partition SplitRecords(std::size_t n, double testFraction, unsigned seed);

}  // namespace vxnn
