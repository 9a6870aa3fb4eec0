// The exported documents of a trained model: the PMML 4.0 "NeuralNetwork"
// document and the "StatXML" statistics document, built as element trees.
#pragma once

#include "vxcommon/VXVarList.h"
#include "vxcommon/XMLTree.h"

class NNetwork;
class NNVarList;
class NeuralSettings;

namespace VXNeural::detail {

struct ExportSource {
  const NNetwork* network = nullptr;
  const NeuralSettings* settings = nullptr;
  const NNVarList* vars = nullptr;
  const VXCommon_1_2::VXApplicInfo4XML* info = nullptr;
};

// The whole "PMML" tree (owned by the caller), or null when the network
// element cannot be built (no network, variable list or settings).
VXXML_1_2::XMLElement* BuildPMMLDocument(const ExportSource& source);
// The "StatXML" tree, or null without targets, variable list or network.
VXXML_1_2::XMLElement* BuildStatDocument(const ExportSource& source);

}  // namespace VXNeural::detail
