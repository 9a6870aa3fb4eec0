#include "vxneural/algorithm/MLPFactory.h"

#include <algorithm>
#include <cstdint>

#include "algorithm/NeuralFactoryImpl.h"

// Weights of the network the settings describe, counted without overflow.
std::uint64_t StoredWeightsAtLeast(const MLPSettings& settings) {
  std::uint64_t total = 0;
  std::uint64_t lower = static_cast<std::uint64_t>(std::max(settings.GetNumInputs(), 0));
  for (int layer = 1; layer <= settings.GetNumHiddenLayers(); ++layer) {
    const std::uint64_t units =
        static_cast<std::uint64_t>(std::max(settings.GetNumHiddenUnits(layer), 0));
    total += (lower + 1) * units;
    lower = units;
  }
  return total + (lower + 1) * static_cast<std::uint64_t>(std::max(settings.GetNumOutUnits(), 0));
}

const char* SettingsClassName(const MLPSettings&) { return "MLPSettings"; }

template class NeuralFactory<MLPSettings, MLPAlgorithm>;
