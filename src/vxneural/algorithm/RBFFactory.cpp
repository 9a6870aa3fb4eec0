#include "vxneural/algorithm/RBFFactory.h"

#include <algorithm>
#include <cstdint>

#include "algorithm/NeuralFactoryImpl.h"

// A saved RBF network holds at least one centre coordinate per hidden unit
// and input and one output weight per hidden unit and output unit.
std::uint64_t StoredWeightsAtLeast(const RBFSettings& settings) {
  const std::uint64_t hidden =
      static_cast<std::uint64_t>(std::max(settings.GetNumHiddenUnits(1), 0));
  const std::uint64_t inputs = static_cast<std::uint64_t>(std::max(settings.GetNumInputs(), 0));
  const std::uint64_t outputs = static_cast<std::uint64_t>(std::max(settings.GetNumOutUnits(), 0));
  return hidden * (inputs + outputs);
}

const char* SettingsClassName(const RBFSettings&) { return "RBFSettings"; }

template class NeuralFactory<RBFSettings, RBFAlgorithm>;
