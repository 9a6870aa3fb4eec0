// The binary model an algorithm saves, with the processor times it carries
// set to 0, so that two trainings can be compared byte for byte: the
// algorithm's total (the first value after its block header, its status and
// its counters) and the optimizer's (after the optimizer's tag, status and
// stop reason). They are found by position, never by value: a time of
// exactly 0.001 s once matched a setting of the same value and zeroed it in
// one of the two forms.
#pragma once

#include <sstream>
#include <string>

#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/algorithm/RBFAlgorithm.h"
#include "vxneural/optim/IOptimizationAlgorithm.h"
#include "vxneural/optim/RBFLinReg.h"

namespace saved_times {

// What the helper returns when the model cannot be saved or its layout is
// not the one it knows; no saved model is that short.
inline const std::string kNotSaved = "not saved";

inline std::string SavedWithoutTimes(const INeuralAlgorithm& algorithm) {
  std::ostringstream saved, optimizer;
  if (!algorithm.SaveState(saved).IsOK()) return kNotSaved;
  std::string header;
  int counters = 0;
  if (auto* mlp = dynamic_cast<const MLPAlgorithm*>(&algorithm)) {
    header = "MLPAlgorithm 1.00";
    counters = 5;
    if (!mlp->GetOptimizer()) return kNotSaved;
    mlp->GetOptimizer()->WriteObject(optimizer);
  } else if (auto* rbf = dynamic_cast<const RBFAlgorithm*>(&algorithm)) {
    header = "RBFAlgorithm 1.00";
    counters = 4;
    if (!rbf->GetOptimizer()) return kNotSaved;
    rbf->GetOptimizer()->WriteObject(optimizer);
  } else {
    return kNotSaved;
  }
  std::string bytes = saved.str();
  const std::string tail = optimizer.str();
  const std::size_t block = bytes.find(header);
  const std::size_t algorithmTime = block + header.size() + 4 * (1 + counters);
  constexpr std::size_t kOptimizerTime = 3 + 4 + 4;  // tag, status, stop reason
  // The optimizer's form closes the model.
  if (block == std::string::npos || tail.size() < kOptimizerTime + 8 ||
      bytes.size() < algorithmTime + 8 + tail.size() ||
      bytes.compare(bytes.size() - tail.size(), tail.size(), tail) != 0)
    return kNotSaved;
  bytes.replace(algorithmTime, 8, 8, '\0');
  bytes.replace(bytes.size() - tail.size() + kOptimizerTime, 8, 8, '\0');
  return bytes;
}

}  // namespace saved_times
