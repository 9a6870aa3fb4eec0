// The progress report handed to the host's listener during the search of an
// RBF network's number of hidden units: it answers the host's queries from
// the algorithm.
#pragma once

#include <string>

#include "vxcommon/Callbacks.h"

class RBFAlgorithm;

/// Reads the algorithm, which it does not own, at the moment of each query,
/// through its public getters. Built on the stack just before the listener's
/// Report and valid only during that call; during the search the algorithm
/// shows the candidate just scored.
///
/// Discrete keys: "hiddenUnits", "records" (the records the algorithm used),
/// "weights" (the network's weight count; needs a network). Scale keys:
/// "trainError", "testError", "bic", "elapsedTime" (seconds). Keys are exact
/// and case-sensitive; any other key, a key whose object is missing, or a
/// null algorithm answers -1 (discrete) or VXMV::gMissingValue (scale).
class RBFExpertReporter : public VXCommon_1_2::ProgressReport {
 public:
  /// A report on `algorithm`, which may be null (every query then answers
  /// -1 or VXMV::gMissingValue).
  explicit RBFExpertReporter(RBFAlgorithm* algorithm) : fAlgorithm(algorithm) {}
  /// Reports on the same object.
  RBFExpertReporter(const RBFExpertReporter&) = default;
  /// Reports on the same object.
  RBFExpertReporter& operator=(const RBFExpertReporter&) = default;
  ~RBFExpertReporter() override;

  int DiscreteMeasure(const std::string& key) override;
  double ScaleMeasure(const std::string& key) override;

 private:
  RBFAlgorithm* fAlgorithm;
};
