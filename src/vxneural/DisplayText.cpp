// The one table of enumeration display texts.
#include <string>

#include "vxneural/VXNNCommon.h"
#include "vxneural/variables/INNVariable.h"

namespace {

enum class Fallback { kUnrecognized, kNumber, kNothing };

template <std::size_t N>
std::string Lookup(int value, const char* const (&texts)[N], Fallback fallback,
                   const char* numberPrefix = "") {
  if (value >= 0 && static_cast<std::size_t>(value) < N) return texts[value];
  switch (fallback) {
    case Fallback::kUnrecognized:
      return "Unrecognized";
    case Fallback::kNumber:
      return numberPrefix + std::to_string(value);
    case Fallback::kNothing:
      break;
  }
  return "";
}

const char* const kActivation[] = {"TanH",     "Sigmoid",      "SoftMax",
                                   "Identity", "Radial Basis", "Normalized Radial Basis"};
const char* const kAlgorithmStatus[] = {"Not Started", "In Progress", "Trained",
                                        "Updating",    "Saving",      "Cancelled",
                                        "Scoring",     "Expert",      "Inconsistent"};
const char* const kAlgorithmType[] = {"Unknown", "MLP", "RBF"};
const char* const kErrorFunction[] = {"Sum of Squares Error", "Cross Entropy Error"};
const char* const kLayerType[] = {"Input", "Hidden", "Output", "RBFLayer"};
const char* const kMeasureLevel[] = {"Unknown measure level", "Continuous", "Numeric Categorical",
                                     "String Categorical"};
const char* const kTrainingMethod[] = {"Scaled Conjugate Gradient", "Gradient Descent",
                                       "Linear Regression"};
const char* const kOutputType[] = {"Continuous", "Categorical", "Mixed"};
const char* const kOutStat[] = {"Default", "Computed", "Invalid"};
const char* const kSelection[] = {"BIC", "Test Data"};
const char* const kStandardization[] = {
    "Values are not changed", "Subtract mean and divide by standard deviation",
    "Subtract min and divide by range", "2*(subtract min and divide by range)-1"};
const char* const kStopReason[] = {"Stopped Undefined",          "Stopped Max Time",
                                   "Stopped Max Data Passes",    "Stopped Error Change Limit",
                                   "Stopped Error Ratio Limit",  "Stopped Small Gradient",
                                   "Stopped Verifying Cycle",    "Stopped Accuracy",
                                   "Stopped Computed"};
const char* const kTrainingType[] = {"Batch", "MiniBatch", "Online"};
const char* const kRole[] = {"Undefined variable role", "Input", "Output", "Unused variable"};
const char* const kStorage[] = {"Undefined variable storage", "Integer", "Real", "String",
                                "Date", "Time", "Timestamp"};

}  // namespace

namespace VXNNCommon {

std::string DisplayText(ActivationFunction v) { return Lookup(v, kActivation, Fallback::kUnrecognized); }
std::string DisplayText(AlgorithmStatus v) { return Lookup(v, kAlgorithmStatus, Fallback::kNumber); }
std::string DisplayText(AlgorithmType v) { return Lookup(v, kAlgorithmType, Fallback::kNumber); }
std::string DisplayText(ErrorFunction v) { return Lookup(v, kErrorFunction, Fallback::kNothing); }
std::string DisplayText(LayerType v) { return Lookup(v, kLayerType, Fallback::kNumber); }
std::string DisplayText(MLPTrainingMethod v) { return Lookup(v, kTrainingMethod, Fallback::kNumber); }
std::string DisplayText(NetworkOutputType v) { return Lookup(v, kOutputType, Fallback::kNothing); }
std::string DisplayText(OutStatStatus v) { return Lookup(v, kOutStat, Fallback::kNothing); }
std::string DisplayText(SelectionCriterion v) { return Lookup(v, kSelection, Fallback::kNumber); }
std::string DisplayText(Standardization v) { return Lookup(v, kStandardization, Fallback::kNumber); }
std::string DisplayText(StopReason v) { return Lookup(v, kStopReason, Fallback::kNumber); }
std::string DisplayText(TrainingType v) { return Lookup(v, kTrainingType, Fallback::kNothing); }

}  // namespace VXNNCommon

std::string DisplayText(INNVariable::MeasureLevel v) {
  return Lookup(v, kMeasureLevel, Fallback::kNumber, "Measure level ");
}
std::string DisplayText(INNVariable::VariableRole v) {
  return Lookup(v, kRole, Fallback::kNumber, "Variable role ");
}
std::string DisplayText(INNVariable::VariableStorage v) {
  return Lookup(v, kStorage, Fallback::kNumber, "Variable storage ");
}
