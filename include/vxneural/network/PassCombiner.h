// Data-parallel passes: one training run spread over several processes
// (on one machine or many), each holding its own share of the records.
//
// Each process forms the sums of its share's blocks (MLPBlockPass::kBlock
// records each) and the processes exchange them through a PassCombiner the
// host supplies. The blocks' sums are added up in a fixed binary tree over
// the blocks' places in the whole record sequence, whichever process formed
// a block, so every process ends each pass with the same sums, and a run on
// any number of processes trains the model that one process on one thread
// trains, bit for bit.
//
// The library knows nothing of the engine that carries the exchange: a
// host without one never sets a combiner, and its passes are those of a
// single process. The optional vxneural::mpi library supplies a combiner
// over MPI.
#pragma once

#include <vector>

namespace VXNeural {

/// The exchange the processes of one run share. Every process calls it the
/// same number of times in the same order (the passes are the same on every
/// process), so an implementation needs no tags or matching of its own.
class PassCombiner {
 public:
  /// Destroys the combiner.
  virtual ~PassCombiner() = default;

  /// This process's place among the run's processes, 0 .. Size() - 1.
  virtual int Rank() const = 0;
  /// The number of processes (at least 1).
  virtual int Size() const = 0;

  /// Every process hands its own values (any number, 0 included); on
  /// return `all` holds every process's values in rank order and counts[r]
  /// the number process r handed. False when the exchange failed (a process
  /// ended, the connection broke): the pass then ends with an error, and
  /// the caller must not call again.
  virtual bool AllGather(const std::vector<double>& local, std::vector<double>& all,
                         std::vector<int>& counts) = 0;
};

/// The records of a whole sequence that one process holds: [first, end).
struct RecordShare {
  long long first = 0;  ///< The first record held.
  long long end = 0;    ///< One past the last record held.
};

/// The share of `records` records that process `rank` of `size` holds: the
/// records are cut into blocks of MLPBlockPass::kBlock, and each process
/// takes a run of whole blocks, the first processes one block more when the
/// blocks do not divide evenly (so only the last share can end in a partial
/// block). The shares are disjoint, in rank order and cover every record.
/// A host that hands a process its records must hand it this share of its
/// training records and of its test records, in their order.
RecordShare ShareOf(long long records, int rank, int size);

/// Hands the library the combiner the trainings the calling thread runs
/// use from now on (nullptr, the default: none). A training with a combiner
/// expects its training and test sources to give this process's ShareOf
/// each set (a share may be empty, a whole set not), and every process of
/// the run to train with the same settings (the counts of records in them
/// the counts of the whole sets; a test count left to the factory to count
/// becomes the whole set's when the training starts). The caller
/// keeps the combiner alive while a training may use it. While a combiner
/// is set, the host's cancel object is asked when a training starts and at
/// each pass's exchange, and a cancel on any process cancels the training
/// on all of them after that pass. Per thread: one
/// thread runs one process's training, and a host may run other trainings,
/// its own, on other threads.
void SetPassCombiner(PassCombiner* combiner);
/// The combiner the calling thread's trainings use; nullptr when none is set.
PassCombiner* GetPassCombiner();

}  // namespace VXNeural
