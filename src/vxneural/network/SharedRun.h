// The data-parallel run the calling thread takes part in (PassCombiner.h):
// the combiner it exchanges through, and the sources whose passes it
// shares with the other processes. Per thread: a training runs its passes
// from one thread, and a test may play several processes on threads of
// one process. The other threads of a pass never look here.
#pragma once

#include <cmath>
#include <cstddef>
#include <ctime>
#include <vector>

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxneural/network/PassCombiner.h"

namespace VXNeural {
namespace detail {

struct SharedSource {
  const VXCommon_1_2::RecordIterator* source = nullptr;
  long long firstBlock = 0;  // of the source's first record in the whole sequence
  PassCombiner* combiner = nullptr;
};

// Makes the calling thread's passes over source this process's part of a
// shared pass: source holds the records of the whole sequence from record
// `first` on (a multiple of the block size, ShareOf's first). A null
// combiner ends source's sharing.
void ShareSource(const VXCommon_1_2::RecordIterator* source, long long first,
                 PassCombiner* combiner);
// The calling thread's entry for source; null when its passes are its own.
const SharedSource* FindSharedSource(const VXCommon_1_2::RecordIterator* source);

// The combiner of the calling thread's run, null outside one.
void SetRunCombiner(PassCombiner* combiner);
PassCombiner* RunCombiner();

// Whether a process of the calling thread's run has been cancelled by its
// host. In a run the host's cancel object is asked at each shared pass's
// exchange only, and a cancel there cancels every process at once: asked
// anywhere else it would stop one process between passes while the others
// wait for it at the next exchange.
void SetRunCanceled(bool canceled);
bool RunCanceled();

// What the cancel readers of a training's parts (algorithm, optimizer,
// network) answer, `canceled` being what the reader has latched: in a run,
// the run's cancel (RunCanceled), the host not asked; outside one, the
// host's cancel object (null: none), asked until it first says yes. The
// reader latches the answer.
bool CancelAnswer(bool canceled, VXCommon_1_2::VXQueryCancel* host);

// Whether v, a value of a message another process sent, is a whole number
// from lo to hi (never NaN). Counts and places are checked so before they
// become integers: a damaged message must end the run with an error, and a
// double outside an integer's range does not convert to one.
inline bool WholeIn(double v, double lo, double hi) {
  return v >= lo && v <= hi && std::floor(v) == v;
}

// Every process's record counts of its share of some sets, as they came
// in the processes' messages: process r's count of set s (of `sets`) at
// counts[r * stride + s], -1 when that process could not count.
struct ShareCounts {
  const double* counts;
  std::size_t stride;
  int processes;
  std::size_t sets;
};
// The whole sets' records, per set, into `totals`, each count checked
// before it is converted. 0; kSharesDoNotMatch when a process could not
// count; kExchangeFailed when a count is neither -1 nor a whole number
// from 0 to INT_MAX, which no process sends. Between two faults the first
// in rank order decides, so every process reading the same messages gets
// the same answer.
int WholeSets(const ShareCounts& shares, std::vector<long long>& totals);
// Whether every process holds its ShareOf every whole set (the totals
// WholeSets found).
bool AreTheShares(const ShareCounts& shares, const std::vector<long long>& totals);

// The processor seconds the processes of the calling thread's run agree
// on: the largest of their `local` readings, so that a time limit stops
// every process after the same pass and the saved times are the same.
// Every process must ask at the same point of the run. Outside a run, or
// when the exchange fails (the next pass then fails too), local.
double AgreedSeconds(double local);
// The seconds since start on the processor clock (read in milliseconds),
// agreed on as above: the clock of every training's time limit and saved
// times.
double ProcessorSecondsSince(std::clock_t start);

}  // namespace detail
}  // namespace VXNeural
