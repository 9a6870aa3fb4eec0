// The exchange of a data-parallel run over MPI, and the start and end of
// MPI for a host that has no MPI code of its own.
//
// A host links vxneural::mpi (find_package(vxneural COMPONENTS mpi)) and
// starts every process under mpirun. This header needs none of MPI's own
// headers: the communicator stays inside the library, and a host that
// already holds one hands it over as its integer handle (MPI_Comm_c2f).
//
//   int main(int argc, char** argv) {
//     VXNeural::MpiSession mpi(&argc, &argv);
//     if (!mpi.Ok()) return 1;
//     VXNeural::MpiPassCombiner combiner;  // every process, together
//     if (!combiner.Ok()) mpi.Abort(1);
//     VXNeural::SetPassCombiner(&combiner);
//     // ... hand this process ShareOf(records, combiner.Rank(),
//     //     combiner.Size()) of the training and test records, train ...
//     VXNeural::SetPassCombiner(nullptr);
//     if (failed) mpi.Abort(1);  // ends every process, not only this one
//     return 0;                   // ~combiner, then ~mpi finalises
//   }
//
// Every call here that takes part in an exchange (the constructor, the
// destructor, AllGather) must be made by every process of the
// communicator, in the same order, from the thread that started MPI.
#pragma once

#include <memory>
#include <vector>

#include "vxneural/network/PassCombiner.h"

namespace VXNeural {

/// Starts MPI for the life of the object and finalises it at the end. The
/// library's passes use worker threads but call MPI only from the thread
/// that runs the pass, so MPI is asked for that level of thread support
/// (funneled). When MPI was started already, by the host or another
/// session, this object neither starts nor finalises it.
class MpiSession {
 public:
  /// argc and argv may be null; MPI may take its own options out of them.
  MpiSession(int* argc, char*** argv);
  /// Finalises MPI when this object started it and MPI is still running.
  ~MpiSession();
  /// Not copyable: one session owns MPI's start and end.
  MpiSession(const MpiSession&) = delete;
  /// Not copyable.
  MpiSession& operator=(const MpiSession&) = delete;

  /// True when MPI is running with at least funneled thread support.
  bool Ok() const { return fOk; }
  /// This process's place in MPI_COMM_WORLD (0 when MPI is not running).
  int Rank() const;
  /// The number of processes in MPI_COMM_WORLD (1 when MPI is not running).
  int Size() const;

  /// Ends every process of the run with `code`. For a host whose process
  /// meets an error the others cannot know of: returning alone would leave
  /// the others waiting in their next exchange.
  [[noreturn]] void Abort(int code);

 private:
  bool fOk = false;
  bool fStarted = false;  ///< this object started MPI, so it finalises it
};

/// A PassCombiner over an MPI communicator. It works on its own duplicate
/// of the communicator, so that its exchanges never meet the host's, and
/// that duplicate returns errors instead of ending the process: a process
/// that dies makes AllGather return false on the others (when the MPI
/// run-time does not end them first).
class MpiPassCombiner : public PassCombiner {
 public:
  /// On MPI_COMM_WORLD.
  MpiPassCombiner();
  /// On the communicator whose integer handle is `communicator`
  /// (MPI_Comm_c2f of it).
  explicit MpiPassCombiner(int communicator);
  /// Frees the duplicate communicator, unless an exchange failed (a process
  /// may be gone): then the handle is left to MPI's finalisation.
  ~MpiPassCombiner() override;
  /// Not copyable: the combiner owns its communicator.
  MpiPassCombiner(const MpiPassCombiner&) = delete;
  /// Not copyable.
  MpiPassCombiner& operator=(const MpiPassCombiner&) = delete;

  /// False when MPI was not running or the duplicate could not be made; the
  /// combiner then has rank 0 of 1 and every AllGather fails.
  bool Ok() const;

  int Rank() const override;
  int Size() const override;
  /// Also false when the values of all processes together exceed what one
  /// MPI exchange can count (2^31 - 1), and after any earlier failure.
  bool AllGather(const std::vector<double>& local, std::vector<double>& all,
                 std::vector<int>& counts) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> fImpl;
};

}  // namespace VXNeural
