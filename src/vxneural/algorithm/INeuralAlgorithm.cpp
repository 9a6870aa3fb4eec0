#include "vxneural/algorithm/INeuralAlgorithm.h"

INeuralAlgorithm::~INeuralAlgorithm() = default;
