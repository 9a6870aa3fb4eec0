// The progress report handed to the host's listener during an MLP training
// run: it answers the host's queries from the optimizer that is training.
#pragma once

#include <string>

#include "vxcommon/Callbacks.h"

class IOptimizationAlgorithm;

/// Reads the optimizer, which it does not own, at the moment of each query.
/// Built on the stack just before the listener's Report and valid only during
/// that call.
///
/// Discrete keys: "records" (records processed), "dataPasses". Scale keys:
/// "gradNorm", "trainError", "testError", "relChangeError", "errorRatio",
/// "elapsedTime" (seconds), "accuracy" (a percentage). Keys are exact and
/// case-sensitive; any other key (or a null optimizer) answers -1 (discrete)
/// or VXMV::gMissingValue (scale).
class MLPReporter : public VXCommon_1_2::ProgressReport {
 public:
  explicit MLPReporter(IOptimizationAlgorithm* optimizer) : fOptimizer(optimizer) {}
  MLPReporter(const MLPReporter&) = default;
  MLPReporter& operator=(const MLPReporter&) = default;
  ~MLPReporter() override;

  int DiscreteMeasure(const std::string& key) override;
  double ScaleMeasure(const std::string& key) override;

 private:
  IOptimizationAlgorithm* fOptimizer;
};
