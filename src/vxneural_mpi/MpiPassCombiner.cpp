#include "vxneural/mpi/MpiPassCombiner.h"

#include <mpi.h>

#include <climits>
#include <cstdlib>

namespace VXNeural {

namespace {

// MPI calls are only legal between MPI_Init and MPI_Finalize.
bool MpiRunning() {
  int initialised = 0, finalised = 0;
  MPI_Initialized(&initialised);
  MPI_Finalized(&finalised);
  return initialised && !finalised;
}

}  // namespace

MpiSession::MpiSession(int* argc, char*** argv) {
  int initialised = 0;
  MPI_Initialized(&initialised);
  int provided = MPI_THREAD_SINGLE;
  if (initialised) {
    MPI_Query_thread(&provided);
  } else {
    if (MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) return;
    fStarted = true;
  }
  fOk = MpiRunning() && provided >= MPI_THREAD_FUNNELED;
}

MpiSession::~MpiSession() {
  if (fStarted && MpiRunning()) MPI_Finalize();
}

int MpiSession::Rank() const {
  int rank = 0;
  if (MpiRunning()) MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

int MpiSession::Size() const {
  int size = 1;
  if (MpiRunning()) MPI_Comm_size(MPI_COMM_WORLD, &size);
  return size;
}

void MpiSession::Abort(int code) {
  if (MpiRunning()) MPI_Abort(MPI_COMM_WORLD, code);
  // MPI_Abort does not return; without MPI this process is the whole run.
  std::_Exit(code);
}

struct MpiPassCombiner::Impl {
  MPI_Comm comm = MPI_COMM_NULL;
  int rank = 0;
  int size = 1;
  // Once an exchange has failed the processes no longer agree on which
  // exchange comes next, so none may start.
  bool failed = false;

  explicit Impl(MPI_Comm from) {
    if (!MpiRunning() || from == MPI_COMM_NULL) return;
    if (MPI_Comm_dup(from, &comm) != MPI_SUCCESS) {
      comm = MPI_COMM_NULL;
      return;
    }
    MPI_Comm_set_errhandler(comm, MPI_ERRORS_RETURN);
    if (MPI_Comm_rank(comm, &rank) != MPI_SUCCESS || MPI_Comm_size(comm, &size) != MPI_SUCCESS) {
      failed = true;
      rank = 0;
      size = 1;
    }
  }

  // Freeing is collective in principle; after a failure a process may be
  // gone, so the handle is left to MPI_Finalize rather than risk a wait.
  ~Impl() {
    if (comm != MPI_COMM_NULL && !failed && MpiRunning()) MPI_Comm_free(&comm);
  }
};

MpiPassCombiner::MpiPassCombiner() : fImpl(std::make_unique<Impl>(MPI_COMM_WORLD)) {}

MpiPassCombiner::MpiPassCombiner(int communicator)
    : fImpl(std::make_unique<Impl>(MpiRunning() ? MPI_Comm_f2c(communicator) : MPI_COMM_NULL)) {}

MpiPassCombiner::~MpiPassCombiner() = default;

bool MpiPassCombiner::Ok() const { return fImpl->comm != MPI_COMM_NULL && !fImpl->failed; }

int MpiPassCombiner::Rank() const { return fImpl->rank; }

int MpiPassCombiner::Size() const { return fImpl->size; }

bool MpiPassCombiner::AllGather(const std::vector<double>& local, std::vector<double>& all,
                                std::vector<int>& counts) {
  Impl& impl = *fImpl;
  if (!Ok() || !MpiRunning()) return false;
  // A process with more values than an int counts still takes part in the
  // exchange of counts, handing -1, so that every process sees the refusal
  // and none is left waiting for the values.
  const int mine =
      local.size() > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(local.size());
  counts.assign(impl.size, 0);
  if (MPI_Allgather(&mine, 1, MPI_INT, counts.data(), 1, MPI_INT, impl.comm) != MPI_SUCCESS) {
    impl.failed = true;
    return false;
  }
  std::vector<int> offsets(impl.size, 0);
  long long total = 0;
  for (int r = 0; r < impl.size; ++r) {
    if (counts[r] < 0 || total + counts[r] > INT_MAX) {
      impl.failed = true;
      return false;
    }
    offsets[r] = static_cast<int>(total);
    total += counts[r];
  }
  all.resize(static_cast<size_t>(total));
  if (MPI_Allgatherv(local.data(), mine, MPI_DOUBLE, all.data(), counts.data(), offsets.data(),
                     MPI_DOUBLE, impl.comm) != MPI_SUCCESS) {
    impl.failed = true;
    return false;
  }
  return true;
}

}  // namespace VXNeural
