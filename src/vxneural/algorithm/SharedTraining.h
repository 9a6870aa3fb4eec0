// One process's part of a data-parallel training (PassCombiner.h), for
// the length of one training operation on the calling thread.
//
// Begin finds the combiner the host set for this thread (none: a training
// of its own, and nothing here does anything), exchanges the processes'
// record counts, checks that each holds its ShareOf the training and test
// sets, and makes the thread's passes over the two sources shared. The
// scope's end makes them the process's own again.
#pragma once

#include "vxcommon/Record.h"
#include "vxcommon/VXStatus.h"
#include "vxneural/network/PassCombiner.h"

class NNDataPreparator;
class NeuralSettings;

namespace VXNeural {
namespace detail {

// The records a training's sources are known to hold, where the caller
// knows them without reading the sources; kUnknownRecords where not.
inline constexpr int kUnknownRecords = -1;
struct KnownRecords {
  int train = kUnknownRecords;
  int test = kUnknownRecords;
};

// What the preparator encoded into the sources that are its own (the
// training and test sources of an algorithm built over a variable list).
KnownRecords PreparedRecords(NNDataPreparator* preparator,
                             const VXCommon_1_2::MultiPassRecordIter* train,
                             const VXCommon_1_2::MultiPassRecordIter* test);

// The shares of a running data-parallel training.
struct SharedRecords {
  PassCombiner* combiner = nullptr;
  RecordShare train, test;
  long long nTrain = 0, nTest = 0;  // the whole sets
};

class SharedTraining {
 public:
  // Begin reads a source to count its records only where `known` does
  // not give them: over a spilled set that is a pass through its file.
  SharedTraining(VXCommon_1_2::MultiPassRecordIter* train, VXCommon_1_2::MultiPassRecordIter* test,
                 KnownRecords known = {})
      : fTrain(train), fTest(test), fKnown(known) {}
  SharedTraining(const SharedTraining&) = delete;
  SharedTraining& operator=(const SharedTraining&) = delete;
  ~SharedTraining();

  // OK without a combiner. Errors: 50020 when a process's records are not
  // its share (or a source failed while counted), 50021 when the exchange
  // failed; every process sees the same outcome. `canceled`: whether this
  // process's host cancelled before the start, which then cancels every
  // process (RunCanceled), rather than leave the others waiting here.
  // `settings`, the training's (none: left alone), take the whole test
  // set's count: a factory that counted the test records (the host left
  // their count to it) counted this process's share alone, and every
  // process must train, and save, the one process's settings.
  VXCommon_1_2::VXStatus Begin(bool canceled, NeuralSettings* settings = nullptr);
  // The shares, null when the training is the process's own.
  const SharedRecords* Records() const { return fActive ? &fRecords : nullptr; }

 private:
  VXCommon_1_2::MultiPassRecordIter* fTrain;
  VXCommon_1_2::MultiPassRecordIter* fTest;
  KnownRecords fKnown;
  SharedRecords fRecords;
  bool fActive = false;
};

// A training step's part in a data-parallel training over an algorithm's
// sources, begun as it is made: the records the preparator encoded into
// them are known (PreparedRecords), and `begun` is what Begin answered
// with `canceled` and `settings`.
struct StartedSharedTraining {
  StartedSharedTraining(NNDataPreparator* preparator, VXCommon_1_2::MultiPassRecordIter* train,
                        VXCommon_1_2::MultiPassRecordIter* test, bool canceled,
                        NeuralSettings* settings)
      : shared(train, test, PreparedRecords(preparator, train, test)),
        begun(shared.Begin(canceled, settings)) {}
  SharedTraining shared;
  const VXCommon_1_2::VXStatus begun;
};

}  // namespace detail
}  // namespace VXNeural
