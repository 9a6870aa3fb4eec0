// The host's entry point for MLP algorithms: builds one from settings, a
// variable list and record sources, or restores a saved one. Its operations
// and refusals are those of every factory (NeuralFactory).
#pragma once

#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/NeuralFactory.h"

extern template class NeuralFactory<MLPSettings, MLPAlgorithm>;

/// The factory of multi-layer perceptron algorithms (see NeuralFactory).
class MLPFactory : public NeuralFactory<MLPSettings, MLPAlgorithm> {};
