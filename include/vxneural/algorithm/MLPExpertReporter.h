// The progress report handed to the host's listener during an MLP
// architecture search: it answers the host's queries from the algorithm.
#pragma once

#include <string>

#include "vxcommon/Callbacks.h"

class MLPAlgorithm;

/// Reads the algorithm, which it does not own, at the moment of each query,
/// through its public getters (counters, GetNetwork, GetOptimizer). Built on
/// the stack just before the listener's Report and valid only during that
/// call.
///
/// Discrete keys: "records" (the optimizer's records processed; needs an
/// optimizer), "dataPasses", "hiddenUnits", "weights" (the network's weight
/// count; needs a network), "whyStop" (the algorithm's stop reason). Scale
/// keys: "gradNorm", "trainError", "testError", "relChangeError", "errorRatio"
/// (the optimizer's; need an optimizer), "elapsedTime" (the algorithm's,
/// seconds). Keys are exact and case-sensitive; any other key, a key whose
/// object is missing, or a null algorithm answers -1 (discrete) or
/// VXMV::gMissingValue (scale).
class MLPExpertReporter : public VXCommon_1_2::ProgressReport {
 public:
  /// A report on `algorithm`, which may be null (every query then answers
  /// -1 or VXMV::gMissingValue).
  explicit MLPExpertReporter(MLPAlgorithm* algorithm) : fAlgorithm(algorithm) {}
  /// Reports on the same object.
  MLPExpertReporter(const MLPExpertReporter&) = default;
  /// Reports on the same object.
  MLPExpertReporter& operator=(const MLPExpertReporter&) = default;
  ~MLPExpertReporter() override;

  int DiscreteMeasure(const std::string& key) override;
  double ScaleMeasure(const std::string& key) override;

 private:
  MLPAlgorithm* fAlgorithm;
};
