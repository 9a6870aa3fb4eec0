// Predictor importance by sensitivity analysis: how far the network's
// outputs move when one input variable is swept over its range while the
// others keep the values of a real record.
#pragma once

#include <vector>

#include "vxcommon/Record.h"
#include "vxneural/VXStatus.h"

class NNetwork;

namespace VXNeural {

/// How each probe's outputs are found. Moving one input changes only the
/// first layer's sums, by that input's weights (or its distance terms) times
/// the change: kFirstLayerUpdate keeps each record's sums and updates them,
/// which makes a probe cost the first layer's units rather than inputs x
/// units, so wide data no longer costs inputs squared per record.
/// kFullForward runs the whole network for every probe; it is the plain
/// form of the computation, kept to check the other against. The two agree
/// up to the rounding of the update.
enum class SensitivityMethod {
  kFirstLayerUpdate,  ///< Updates each record's first-layer sums per probe.
  kFullForward        ///< Runs the whole network for every probe.
};

/// Works on any network through its forward pass alone. Reads at most nTrain
/// encoded records of train and then at most nTest of test (which may be
/// null), rewinding each source after reading it.
///
/// nInputCats has one entry per input variable, in the order of the encoded
/// input columns: 1 for a continuous variable (one column), the number of
/// categories for a categorical one (that many indicator columns). Per
/// record, a continuous variable is probed at 5 evenly spaced points of its
/// range and a categorical one at each of its categories; the variable's
/// contribution is the largest Euclidean distance between two of the output
/// vectors so obtained (the output layer's unit values: log-probabilities
/// for a cross-entropy network). importance (resized to nInputVars when its
/// size differs) receives the contributions averaged over the records and
/// then divided by their sum when that is positive, so that they sum to 1.
/// Records shorter than the network's inputs are skipped and not counted.
///
/// Ranges: with useGivenRanges, mins[c] .. maxs[c] is the range of the c-th
/// continuous input in network units; otherwise a first pass over the same
/// records finds each continuous input's smallest and largest value (missing
/// values ignored; a column with no value gets the range 0 .. 0).
///
/// When the network's settings carry a progress listener it is called with
/// an NNSensReporter on the first record, then whenever 8.5 seconds have
/// passed or 900 records have been processed since the last report, and once
/// more at the end for the records not yet reported.
///
/// Results: OK. Code 50008 (error): a record's categorical input has no
/// active indicator column; the computation stops and importance keeps its
/// unscaled sums. Code 50005 (error): the arguments do not describe the
/// network's inputs (nInputCats not nInputVars entries of at least 1, their
/// sum not the network's input count, or too few ranges); nothing is read
/// and importance is untouched. Code 6 (warning): the network has no layers;
/// likewise. A cancel request (polled through the network before each
/// record) ends the computation with an OK status and importance unscaled.
///
/// The records are read, the cancel object asked and the listener called on
/// the calling thread; the probes run on the pass threads
/// (vxneural/network/PassThreads.h), each on a copy of the network. The
/// records' contributions are added in order within fixed blocks of 96
/// records and the blocks' sums in the fixed binary tree over the blocks'
/// places (network/BlockTree.h), the training records' tree and the test
/// records' tree apart, then the two added: the importance is the same bits
/// for any thread count and any cut of the records between processes.
///
/// Shared over processes (vxneural/network/PassCombiner.h): with a combiner
/// set on the calling thread, train and test hold this process's ShareOf
/// the whole training and test sets, in order, and nTrain and nTest bound
/// the whole sets: every process of the run calls this together with the
/// same network and arguments, and every process gets the importance one
/// process on one thread computes over all the records, bit for bit. Every
/// process reads its own records, which is where the time goes (each record
/// costs a forward pass per probe), and the processes exchange their counts
/// first (a source over records in memory tells its count; any other is
/// read once more), then their ranges when they are
/// found, then the blocks' sums after each source. Code 50020 (error) when
/// the counts are not the shares, 50021 when an exchange fails; a process's
/// own failure is every process's answer. The host's cancel object is asked
/// at the exchanges only, and a cancel on any process cancels all of them.
/// The listener sees this process's records. The host's PMML export
/// computes importance this way too: with a combiner set, every process
/// must export together. The first layer's tanh is the pass
/// kernel's (PassKernel.h), within a few units in the last place of the
/// scalar one, which the reference kernel keeps.
///
/// The network's sensitivity counters (records processed, elapsed seconds)
/// are reset at the start and kept up to date for the reporter.
VXCommon_1_2::VXStatus ComputeSensitivity(
    NNetwork& network, VXCommon_1_2::MultiPassRecordIter& train,
    VXCommon_1_2::MultiPassRecordIter* test, int nTrain, int nTest, int nInputVars,
    const std::vector<int>& nInputCats, bool useGivenRanges, const std::vector<double>& mins,
    const std::vector<double>& maxs, std::vector<double>& importance,
    SensitivityMethod method = SensitivityMethod::kFirstLayerUpdate);

}  // namespace VXNeural
