// The least-squares sums of the output solvers over many records, formed
// block by block on the pass threads (vxneural/network/PassThreads.h).
//
// The records are cut into blocks of kBlock, in the order the source gives
// them from where it stands. Each block's cross-products (and, on request,
// its squared prediction errors) are summed on their own, the blocks' sums
// are added up in the fixed tree of BlockTree.h over their places, and the
// pass's total is added to the regression, so the result is the same bit
// for bit whatever the number of threads: the count decides only which
// thread forms which block. When the source is this process's share of a
// data-parallel pass (PassCombiner.h), the processes exchange their tree
// nodes at the end, and every process adds the whole sequence's total. The records are read, and
// the stop predicate asked, on the calling thread only; the other threads work on copies of the
// records and on buffers of their own.
//
// This is the arithmetic of the vector kernels: the hidden units come from
// the kernel's radial rows and the cross-products from its matrix product,
// so the sums differ from a record-by-record accumulation in the last bits
// (the order of the additions), never between two runs of one kernel.
#pragma once

#include <functional>
#include <vector>

#include "vxcommon/Record.h"

class MultiVariateRegression;
class NNetwork;

namespace VXNeural {
namespace detail {

struct KernelTable;

// One regression fed by a pass, with the network whose values give its
// regressors. The regression must fit the network (its regressors the
// hidden units, the constant when they are RadialBasis, or the network
// inputs and the constant; one dependent variable per output).
struct SolverFeed {
  MultiVariateRegression* regression = nullptr;
  NNetwork* network = nullptr;
  // The regressors are the hidden units' values (else the network inputs).
  bool hidden = true;
  // Also sum the squared errors of the current output weights.
  bool predictionError = false;
  // Out: that sum over the records added.
  double squaredError = 0.0;
};

// Records per block: fixed, so that no sum depends on the thread count.
constexpr int kSolverBlock = 96;

// Reads records of source from where it stands while it is good, fewer
// than limit have been counted and stop() says no (asked before every
// record), and adds each to every feed's regression with weight 1. A record
// shorter than the network's inputs and outputs is skipped; it counts
// towards the limit only with countShort. Returns the records added;
// counted receives the records counted towards the limit. The feeds share
// the network's numbers of inputs and outputs.
//
// A shared pass adds and counts the records of every process, and asks
// askHost (the host's cancel object) once, at the exchange: a yes on any
// process cancels the run on all of them (RunCanceled). It returns minus
// codes::kExchangeFailed or codes::kSharesDoNotMatch (a short record, which
// would shift the blocks' places, or shares that leave a gap) on every
// process, the feeds then unchanged.
int AccumulateBlocks(const KernelTable& kernel, std::vector<SolverFeed>& feeds,
                     VXCommon_1_2::MultiPassRecordIter& source, int limit, bool countShort,
                     const std::function<bool()>& stop, int& counted,
                     const std::function<bool()>& askHost = {});

}  // namespace detail
}  // namespace VXNeural
