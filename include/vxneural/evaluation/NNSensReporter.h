// The progress report handed to the host's listener while predictor
// importance is computed: it answers from the counters the network keeps
// for the run.
#pragma once

#include <string>

#include "vxcommon/Callbacks.h"

class NNetwork;

/// Reads the network, which it does not own and which must outlive it, at
/// the moment of each query.
///
/// Discrete key "records": the records processed so far. Scale key
/// "elapsedTime": seconds since the computation started. Keys are exact and
/// case-sensitive; any other key answers -1 (discrete) or VXMV::gMissingValue
/// (scale).
class NNSensReporter : public VXCommon_1_2::ProgressReport {
 public:
  /// Reports on `network`, which must outlive the reporter.
  explicit NNSensReporter(const NNetwork& network) : fNetwork(&network) {}
  /// The copy reads the same network.
  NNSensReporter(const NNSensReporter&) = default;
  /// The copy reads the same network.
  NNSensReporter& operator=(const NNSensReporter&) = default;
  ~NNSensReporter() override;

  int DiscreteMeasure(const std::string& name) override;
  double ScaleMeasure(const std::string& name) override;

 private:
  const NNetwork* fNetwork;
};
