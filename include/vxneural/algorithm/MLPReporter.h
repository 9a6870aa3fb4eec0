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
/// "elapsedTime" (seconds), "accuracy" (a percentage; before any accuracy
/// is measured, the missing value times 100, which is minus infinity and not
/// the missing value). Keys are exact and case-sensitive; any other key (or
/// a null optimizer) answers -1 (discrete) or VXMV::gMissingValue (scale).
class MLPReporter : public VXCommon_1_2::ProgressReport {
 public:
  /// A report on `optimizer`, which may be null (every query then answers
  /// -1 or VXMV::gMissingValue).
  explicit MLPReporter(IOptimizationAlgorithm* optimizer) : fOptimizer(optimizer) {}
  /// Reports on the same object.
  MLPReporter(const MLPReporter&) = default;
  /// Reports on the same object.
  MLPReporter& operator=(const MLPReporter&) = default;
  ~MLPReporter() override;

  int DiscreteMeasure(const std::string& key) override;
  double ScaleMeasure(const std::string& key) override;

 private:
  IOptimizationAlgorithm* fOptimizer;
};
