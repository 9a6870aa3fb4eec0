// The words for a model's network and settings that the train and inspect
// summaries share: the network's shape (units, activations, weights) read
// from the algorithm, the names of its training method, training type and
// input scaling, and the words for a variable's kind and role.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "model/Factories.h"
#include "report/Json.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/variables/INNVariable.h"

namespace vxnn {

// Units per layer (inputs first) and the activation of every layer above
// the inputs. For an RBF network the hidden layer holds the centres and the
// weights are the output weights solved by least squares.
struct Shape {
  NetworkKind fKind = NetworkKind::kMLP;
  std::vector<int> fUnits;
  std::vector<std::string> fActivations;
  int fWeights = 0;
  std::string fError;
  double fOverlap = 0.0;  // RBF
};
Shape ShapeOf(const INeuralAlgorithm& algorithm);

// "4 input units, hidden layer of 3 units (TanH), ...; 27 weights".
std::string ShapeText(const Shape& shape);
// "MLP, 4 input units, ..." or "RBF, ...".
std::string NetworkText(const Shape& shape);
// The "network" member of a summary.
void ShapeJson(JsonWriter& j, const Shape& shape);

// The perceptron's settings; null for an RBF network.
const MLPSettings* MLPSettingsOf(const INeuralAlgorithm& algorithm);
// The RBF network's settings; null for a perceptron.
const RBFSettings* RBFSettingsOf(const INeuralAlgorithm& algorithm);

// "minibatch", "online" or "batch".
const char* TrainingTypeName(VXNNCommon::TrainingType type);
// "scaled conjugate gradient", "gradient descent" or "linear regression".
const char* MethodName(VXNNCommon::MLPTrainingMethod method);
// The training method in words, for either network.
std::string MethodText(const INeuralAlgorithm& algorithm);
// How continuous inputs reach the network: the word of the JSON summary
// ("standard") and the text's phrase ("continuous inputs scaled to mean 0,
// sd 1").
std::pair<const char*, const char*> ScalingOf(VXNNCommon::Standardization scaling);

// "continuous", "categorical (numbers)", "categorical (text)" or "unknown".
std::string KindText(const INNVariable& variable);
// "input", "target", "unused" or "undefined".
std::string RoleText(INNVariable::VariableRole role);

}  // namespace vxnn
