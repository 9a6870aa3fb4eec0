// The host's entry point for RBF algorithms: builds one from settings, a
// variable list and record sources, or restores a saved one. Its operations
// and refusals are those of every factory (NeuralFactory).
#pragma once

#include "vxneural/algorithm/NeuralFactory.h"
#include "vxneural/algorithm/RBFAlgorithm.h"
#include "vxneural/algorithm/RBFSettings.h"

extern template class NeuralFactory<RBFSettings, RBFAlgorithm>;

/// The factory of radial basis function algorithms (see NeuralFactory).
class RBFFactory : public NeuralFactory<RBFSettings, RBFAlgorithm> {};
