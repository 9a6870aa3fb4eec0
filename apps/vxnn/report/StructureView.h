// The layers and units of a trained model (`vxnn inspect`): unit counts,
// and on request every unit's weights, or an RBF unit's centre and width.
#pragma once

#include <ostream>

#include "report/Json.h"
#include "vxneural/network/NNStructure.h"

namespace vxnn {

// "Structure: ..." and one line per layer; with weights, one line per unit.
// An empty structure (an untrained model) prints one line saying so.
void PrintStructure(std::ostream& out, const NNStructure& structure, bool weights);
// The "structure" member of the model's JSON object: null when empty, else
// the algorithm, the activations and the layers with their unit counts and
// (with weights) their units.
void WriteStructureJson(JsonWriter& j, const NNStructure& structure, bool weights);

}  // namespace vxnn
