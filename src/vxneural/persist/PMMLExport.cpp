#include "persist/PMMLExport.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/network/INLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/variables/INNUserMissing.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNVarList.h"

using VXXML_1_2::XMLElement;
using VXXML_1_2::XMLString;

namespace VXNeural::detail {
namespace {

// The values the documents carry when the host gives none, and the names
// of this component's own extension vocabulary.
constexpr const char* kPMMLNamespace = "http://www.dmg.org/PMML-4_0";
constexpr const char* kSchemaNamespace = "http://www.w3.org/2001/XMLSchema";
constexpr const char* kSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";
constexpr const char* kStatNamespace = "http://vxneural.org/statxml/1.0";
constexpr const char* kStatSchemaLocation = "http://vxneural.org/statxml/1.0/statxml.xsd";
constexpr const char* kDefaultApplication = "vxneural";
constexpr const char* kDefaultVersion = "1.0";
constexpr const char* kDefaultCopyright = "Exported by the vxneural neural-network library.";
constexpr const char* kModelName = "NeuralNet_";

using Element = std::unique_ptr<XMLElement>;

Element Make(const char* name) { return Element(XMLElement::Create(name)); }

XMLElement* Add(XMLElement& parent, const char* name) {
  XMLElement* child = XMLElement::Create(name);
  parent.AddElement(child);
  return child;
}

bool IsCategorical(const INNVariable& v) {
  return v.GetMeasureLevel() == INNVariable::kNumericCategorical ||
         v.GetMeasureLevel() == INNVariable::kStringCategorical;
}

bool IsOrdinal(const INNVariable& v) {
  const auto* cat = dynamic_cast<const NNCatVar*>(&v);
  return cat != nullptr && cat->GetOrdinalFlag();
}

bool IsModelled(const INNVariable& v) {
  return v.GetVariableRole() == INNVariable::kInput || v.GetVariableRole() == INNVariable::kOutput;
}

// The modelled variables: inputs and targets in list order. Unused
// variables are left out wherever they stand, so every field the document
// names is declared in it.
std::vector<const INNVariable*> Modelled(const NNVarList& vars, int role = 0) {
  std::vector<const INNVariable*> out;
  for (unsigned i = 0; i < vars.Size(); ++i) {
    const INNVariable* v = vars.GetVarAt(static_cast<int>(i));
    if (v == nullptr || !IsModelled(*v)) continue;
    if (role == 0 || v->GetVariableRole() == role) out.push_back(v);
  }
  return out;
}

// The category values in code order, as text; the index where a category
// has no value.
std::vector<std::string> CategoryValues(const INNVariable& v) {
  std::vector<std::string> text;
  const INNEncoder* enc = v.GetEncoder();
  if (const auto* num = dynamic_cast<const NNCatNumEncoder*>(enc)) {
    for (double x : num->GetCateValues()) text.push_back(VXXML_1_2::FormatDouble(x));
  } else if (const auto* str = dynamic_cast<const NNStringEncoder*>(enc)) {
    str->GetCateValues(text);
  }
  const int n = v.GetNumberOfCategories();
  if (static_cast<int>(text.size()) > n) text.resize(static_cast<std::size_t>(n));
  for (int k = static_cast<int>(text.size()); k < n; ++k) text.push_back(std::to_string(k));
  return text;
}

// Derived field names of a variable's network units, in unit order.
std::vector<std::string> UnitFieldNames(const INNVariable& v) {
  std::vector<std::string> names;
  if (!IsCategorical(v)) {
    names.push_back(v.GetVariableName() + "Norm");
    return names;
  }
  for (int k = 0; k < v.GetNumberOfCategories(); ++k)
    names.push_back(v.GetVariableName() + "Value" + std::to_string(k));
  return names;
}

void AddValueAttribute(XMLElement& e, const INNVariable& v, const std::string& value) {
  // Numeric categories are numbers in the document; strings stay text.
  if (v.GetMeasureLevel() == INNVariable::kNumericCategorical)
    e.AddAttribute("value", std::stod(value));
  else
    e.AddAttribute("value", value);
}

std::string LocalTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void AddHeader(XMLElement& root, const VXCommon_1_2::VXApplicInfo4XML* info) {
  const VXCommon_1_2::VXApplicInfo4XML none{"", "", "", ""};
  const VXCommon_1_2::VXApplicInfo4XML& app = info ? *info : none;
  XMLElement* header = Add(root, "Header");
  header->AddAttribute("copyright", app.fCopyright.empty() ? kDefaultCopyright : app.fCopyright);
  XMLElement* application = Add(*header, "Application");
  application->AddAttribute("name", app.fName.empty() ? kDefaultApplication : app.fName);
  application->AddAttribute("version", app.fVersion.empty() ? kDefaultVersion : app.fVersion);
  Add(*header, "Timestamp")->AddElement(XMLString::Create(LocalTimestamp()));
}

const char* ContinuousDataType(const INNVariable& v) {
  switch (v.GetVariableStorage()) {
    case INNVariable::kDate:
      return "dateDaysSince[1970]";
    case INNVariable::kTimestamp:
      return "dateTimeSecondsSince[1970]";
    case INNVariable::kTime:
      return "timeSeconds";
    default:
      return "double";
  }
}

const char* CategoricalDataType(const INNVariable& v) {
  if (v.GetMeasureLevel() == INNVariable::kStringCategorical) return "string";
  if (v.GetVariableRole() == INNVariable::kOutput &&
      v.GetVariableStorage() == INNVariable::kInteger)
    return "integer";
  return "double";
}

// The variable's user-missing declarations as data-field children: the
// "Extension" elements (the ends of a missing range) and the "Value"
// elements with property "missing", each list in declaration order.
struct MissingFragments {
  std::vector<Element> extensions;
  std::vector<Element> values;
};

MissingFragments UserMissingFragments(const INNVariable& v) {
  MissingFragments fragments;
  const INNUserMissing* um = v.GetUserMissingInfo();
  if (um == nullptr) return fragments;
  for (XMLElement* e : um->ExportXML()) {
    Element owned(e);
    (owned->GetName() == "Extension" ? fragments.extensions : fragments.values)
        .push_back(std::move(owned));
  }
  return fragments;
}

void AddDataDictionary(XMLElement& root, const NNVarList& vars) {
  const std::vector<const INNVariable*> fields = Modelled(vars);
  XMLElement* dict = Add(root, "DataDictionary");
  dict->AddAttribute("numberOfFields", static_cast<double>(fields.size()));
  for (const INNVariable* v : fields) {
    XMLElement* field = Add(*dict, "DataField");
    field->AddAttribute("name", v->GetVariableName());
    field->AddAttribute("displayName", v->GetVariableLabel());
    // A consumer that does not know the declared missing codes scores them
    // as real values. The schema wants every "Extension" of a data field
    // before its "Value" elements.
    MissingFragments missing = UserMissingFragments(*v);
    if (!IsCategorical(*v)) {
      field->AddAttribute("optype", "continuous");
      field->AddAttribute("dataType", ContinuousDataType(*v));
      for (Element& e : missing.extensions) field->AddElement(e.release());
      for (Element& e : missing.values) field->AddElement(e.release());
      continue;
    }
    field->AddAttribute("optype", IsOrdinal(*v) ? "ordinal" : "categorical");
    field->AddAttribute("dataType", CategoricalDataType(*v));
    const std::vector<std::string> values = CategoryValues(*v);
    bool flag = false;
    int trueIndex = -1;
    if (const auto* cat = dynamic_cast<const NNCatVar*>(v)) cat->GetBinaryFlag(flag, trueIndex);
    if (flag && trueIndex >= 0 && trueIndex < static_cast<int>(values.size())) {
      XMLElement* ext = Add(*field, "Extension");
      ext->AddAttribute("extender", kPMMLExtender);
      ext->AddAttribute("name", "flagTypeTrueValue");
      ext->AddAttribute("value", values[static_cast<std::size_t>(trueIndex)]);
    }
    for (Element& e : missing.extensions) field->AddElement(e.release());
    const std::vector<std::string>* labels =
        v->GetEncoder() ? v->GetEncoder()->GetValueLabels() : nullptr;
    for (std::size_t k = 0; k < values.size(); ++k) {
      XMLElement* value = Add(*field, "Value");
      AddValueAttribute(*value, *v, values[k]);
      if (labels && k < labels->size() && !(*labels)[k].empty())
        value->AddAttribute("displayValue", (*labels)[k]);
    }
    for (Element& e : missing.values) field->AddElement(e.release());
  }
}

void AddTransformations(XMLElement& root, const NNVarList& vars) {
  XMLElement* dict = Add(root, "TransformationDictionary");
  for (const INNVariable* v : Modelled(vars)) {
    const std::vector<std::string> names = UnitFieldNames(*v);
    if (!IsCategorical(*v)) {
      const auto* enc = dynamic_cast<const NNLinearEncoder*>(v->GetEncoder());
      if (enc == nullptr) continue;
      XMLElement* derived = Add(*dict, "DerivedField");
      derived->AddAttribute("optype", "continuous");
      derived->AddAttribute("dataType", "double");
      derived->AddAttribute("name", names[0]);
      XMLElement* norm = Add(*derived, "NormContinuous");
      norm->AddAttribute("field", v->GetVariableName());
      // The two points of the map at the ends of the range, from the map
      // itself: an end declared user-missing would normalise to the
      // missing value, which is no point of the map.
      for (const double orig : {enc->GetMin(), enc->GetMax()}) {
        XMLElement* linear = Add(*norm, "LinearNorm");
        linear->AddAttribute("orig", orig);
        linear->AddAttribute("norm", orig * enc->GetSlope() + enc->GetIntercept());
      }
      continue;
    }
    const std::vector<std::string> values = CategoryValues(*v);
    for (std::size_t k = 0; k < values.size(); ++k) {
      XMLElement* derived = Add(*dict, "DerivedField");
      derived->AddAttribute("optype", IsOrdinal(*v) ? "ordinal" : "categorical");
      derived->AddAttribute(
          "dataType", v->GetVariableStorage() == INNVariable::kInteger ? "integer" : "double");
      derived->AddAttribute("name", names[k]);
      XMLElement* norm = Add(*derived, "NormDiscrete");
      norm->AddAttribute("field", v->GetVariableName());
      AddValueAttribute(*norm, *v, values[k]);
    }
  }
}

const char* AlgorithmName(const NNetwork& net) {
  switch (net.GetAlgorithmType()) {
    case VXNNCommon::kRBF:
      return "RBF";
    case VXNNCommon::kMLP:
      return "MLP";
    default:
      return "UNKNOWN";
  }
}

const char* ActivationName(VXNNCommon::ActivationFunction f) {
  switch (f) {
    case VXNNCommon::kTanH:
      return "tanh";
    case VXNNCommon::kSigmoid:
      return "logistic";
    case VXNNCommon::kSoftMax:
      return "softmax";
    default:
      return "identity";
  }
}

// A "DerivedField" holding a "FieldRef" to the named field.
XMLElement* FieldRefElement(const std::string& field) {
  XMLElement* derived = XMLElement::Create("DerivedField");
  derived->AddAttribute("optype", "continuous");
  derived->AddAttribute("dataType", "double");
  Add(*derived, "FieldRef")->AddAttribute("field", field);
  return derived;
}

void AddMiningSchema(XMLElement& model, const NNVarList& vars, const std::vector<double>& imp) {
  XMLElement* schema = Add(model, "MiningSchema");
  std::size_t input = 0;
  for (const INNVariable* v : Modelled(vars, INNVariable::kInput)) {
    XMLElement* field = Add(*schema, "MiningField");
    field->AddAttribute("name", v->GetVariableName());
    if (input < imp.size()) field->AddAttribute("importance", imp[input]);
    ++input;
    if (const std::string* replacement = v->GetMissingValueReplacement())
      field->AddAttribute("missingValueReplacement", *replacement);
  }
  for (const INNVariable* v : Modelled(vars, INNVariable::kOutput)) {
    XMLElement* field = Add(*schema, "MiningField");
    field->AddAttribute("name", v->GetVariableName());
    field->AddAttribute("usageType", "predicted");
  }
}

// Quality elements with placeholder figures: the structure a consumer
// expects, with zero counts, since the export does not re-run the data.
void AddModelExplanation(XMLElement& model, const NNVarList& vars) {
  XMLElement* explanation = Add(model, "ModelExplanation");
  for (const INNVariable* v : Modelled(vars, INNVariable::kOutput)) {
    XMLElement* quality = Add(*explanation, "PredictiveModelQuality");
    quality->AddAttribute("targetField", v->GetVariableName());
    quality->AddAttribute("dataUsage", "training");
    if (!IsCategorical(*v)) {
      quality->AddAttribute("r-squared", 0.0);
      continue;
    }
    XMLElement* matrix = Add(*quality, "ConfusionMatrix");
    XMLElement* ext = Add(*matrix, "Extension");
    ext->AddAttribute("extender", kPMMLExtender);
    ext->AddAttribute("name", "observedMissing");
    ext->AddAttribute("value", 0.0);
    const std::vector<std::string> values = CategoryValues(*v);
    std::string labels;
    std::string zeros;
    for (const std::string& value : values) {
      labels += (labels.empty() ? "\"" : " \"") + value + "\"";
      zeros += zeros.empty() ? "0" : " 0";
    }
    XMLElement* classLabels = Add(*Add(*matrix, "ClassLabels"), "Array");
    classLabels->AddAttribute("n", static_cast<double>(values.size()));
    classLabels->AddAttribute("type", "string");
    classLabels->AddElement(XMLString::Create(labels));
    XMLElement* rows = Add(*matrix, "Matrix");
    for (std::size_t k = 0; k < values.size(); ++k) {
      XMLElement* row = Add(*rows, "Array");
      row->AddAttribute("n", static_cast<double>(values.size()));
      row->AddAttribute("type", "int");
      row->AddElement(XMLString::Create(zeros));
    }
  }
}

// The hidden layers of target 0's build and one output layer combining
// every target's output neurons.
bool AddLayers(XMLElement& model, const NNetwork& net, const NeuralSettings& settings) {
  const int nLayers = net.GetNumLayers();
  if (nLayers < 1) return false;
  const INLayer* output = net.GetLayer(nLayers);
  const INLayer* firstHidden = net.GetLayer(1);
  const bool withActivation =
      nLayers > 1 && output->GetActivationFunction() != firstHidden->GetActivationFunction();
  std::vector<int> firstIds(static_cast<std::size_t>(nLayers + 1), 0);
  for (int l = 1; l <= nLayers; ++l)
    firstIds[static_cast<std::size_t>(l)] =
        firstIds[static_cast<std::size_t>(l - 1)] + net.GetLayer(l - 1)->GetNumUnits();
  Element combined = Make("NeuralLayer");
  // The count goes first, where every layer has it; its value is known at
  // the end.
  combined->AddAttribute("numberOfNeurons", 0.0);
  int neurons = 0;
  std::vector<Element> hidden;
  for (int t = 0; t < net.GetNumOutputVariables(); ++t) {
    for (int l = 1; l <= nLayers; ++l) {
      int count = 0;
      Element layer(net.GetLayer(l)->CreatePMMLLayer(firstIds[static_cast<std::size_t>(l)],
                                                     l == nLayers && withActivation, t, count));
      if (!layer) continue;
      if (l < nLayers) {
        if (t == 0) hidden.push_back(std::move(layer));
        continue;
      }
      for (const auto& [name, value] : layer->Attributes()) {
        if (name == "numberOfNeurons") continue;
        std::string copied = value;
        if (name == "normalizationMethod") {
          const int method = settings.GetConfidenceMethod();
          if (method == NeuralSettings::kConfidenceSoftMax) copied = "softmax";
          if (method == NeuralSettings::kConfidenceSimpleMax) copied = "simplemax";
        }
        combined->AddAttribute(name, copied);
      }
      for (const auto& child : layer->Children()) {
        if (const auto* neuron = dynamic_cast<const XMLElement*>(child.get())) {
          combined->AddElement(neuron->Clone());
          ++neurons;
        }
      }
    }
  }
  combined->AddAttribute("numberOfNeurons", static_cast<double>(neurons));
  for (Element& layer : hidden) model.AddElement(layer.release());
  model.AddElement(combined.release());
  return neurons > 0;
}

bool AddNeuralNetwork(XMLElement& root, const ExportSource& s) {
  const NNetwork& net = *s.network;
  const NNVarList& vars = *s.vars;
  const std::vector<const INNVariable*> inputs = Modelled(vars, INNVariable::kInput);
  const std::vector<const INNVariable*> targets = Modelled(vars, INNVariable::kOutput);
  if (targets.empty() || net.GetNumLayers() < 1) return false;
  Element model = Make("NeuralNetwork");
  model->AddAttribute("functionName", IsCategorical(*targets[0]) ? "classification" : "regression");
  model->AddAttribute("algorithmName", AlgorithmName(net));
  if (net.GetAlgorithmType() == VXNNCommon::kRBF)
    model->AddAttribute("activationFunction", "radialBasis");
  else
    model->AddAttribute("activationFunction",
                        ActivationName(net.GetLayer(1)->GetActivationFunction()));
  XMLElement* id = Add(*model, "Extension");
  id->AddAttribute("extender", kPMMLExtender);
  id->AddAttribute("name", "modelID");
  if (s.settings->GetModelID() >= 0)
    id->AddAttribute("value", kModelName + std::to_string(s.settings->GetModelID()));
  AddMiningSchema(*model, vars, net.GetImportance());
  if (s.settings->GetOutputMEInfo()) AddModelExplanation(*model, vars);

  XMLElement* neuralInputs = Add(*model, "NeuralInputs");
  int unit = 0;
  for (const INNVariable* v : inputs) {
    for (const std::string& name : UnitFieldNames(*v)) {
      XMLElement* input = Add(*neuralInputs, "NeuralInput");
      input->AddAttribute("id", static_cast<double>(unit++));
      input->AddElement(FieldRefElement(name));
    }
  }
  if (unit != net.GetNumInputs()) return false;
  if (!AddLayers(*model, net, *s.settings)) return false;

  XMLElement* neuralOutputs = Add(*model, "NeuralOutputs");
  int neuron = 0;
  for (int l = 0; l < net.GetNumLayers(); ++l) neuron += net.GetLayer(l)->GetNumUnits();
  int outputs = 0;
  for (const INNVariable* v : targets) {
    for (const std::string& name : UnitFieldNames(*v)) {
      XMLElement* output = Add(*neuralOutputs, "NeuralOutput");
      output->AddAttribute("outputNeuron", static_cast<double>(neuron++));
      output->AddElement(FieldRefElement(name));
      ++outputs;
    }
  }
  if (outputs != net.GetNumOutputs()) return false;
  root.AddElement(model.release());
  return true;
}

const char* MeasureName(const INNVariable& v) {
  if (!IsCategorical(v)) return "continuous";
  if (const auto* cat = dynamic_cast<const NNCatVar*>(&v)) {
    bool flag = false;
    int trueIndex = -1;
    cat->GetBinaryFlag(flag, trueIndex);
    if (flag) return "flag";
    if (cat->GetOrdinalFlag()) return "ordinal";
  }
  return "nominal";
}

const char* StorageName(INNVariable::VariableStorage storage) {
  switch (storage) {
    case INNVariable::kString:
      return "string";
    case INNVariable::kInteger:
      return "integer";
    case INNVariable::kReal:
      return "real";
    case INNVariable::kDate:
      return "date";
    case INNVariable::kTime:
      return "time";
    case INNVariable::kTimestamp:
      return "timestamp";
    default:
      return "none";
  }
}

void AddParameter(XMLElement& settings, const char* name, const std::string& value) {
  XMLElement* p = Add(settings, "Parameter");
  p->AddAttribute("name", name);
  p->AddAttribute("value", value);
}

}  // namespace

XMLElement* BuildPMMLDocument(const ExportSource& s) {
  if (s.network == nullptr || s.vars == nullptr || s.settings == nullptr) return nullptr;
  Element root = Make("PMML");
  root->AddAttribute("version", "4.0");
  root->AddAttribute("xmlns", kPMMLNamespace);
  root->AddAttribute("xmlns:xsi", kSchemaNamespace);
  AddHeader(*root, s.info);
  AddDataDictionary(*root, *s.vars);
  AddTransformations(*root, *s.vars);
  if (!AddNeuralNetwork(*root, s)) return nullptr;
  return root.release();
}

XMLElement* BuildStatDocument(const ExportSource& s) {
  if (s.network == nullptr || s.vars == nullptr || s.settings == nullptr) return nullptr;
  const std::vector<const INNVariable*> targets = Modelled(*s.vars, INNVariable::kOutput);
  if (targets.empty()) return nullptr;
  const NNetwork& net = *s.network;
  const char* algorithm = AlgorithmName(net);
  Element root = Make("StatXML");
  root->AddAttribute("xmlns", kStatNamespace);
  root->AddAttribute("xmlns:xsi", kSchemaInstanceNamespace);
  root->AddAttribute("version", "1.0");
  root->AddAttribute("xsi:schemaLocation", std::string(kStatNamespace) + " " + kStatSchemaLocation);

  XMLElement* fields = Add(*Add(*root, "DataModel"), "Fields");
  const std::vector<const INNVariable*> modelled = Modelled(*s.vars);
  fields->AddAttribute("count", static_cast<double>(modelled.size()));
  for (const INNVariable* v : modelled) {
    XMLElement* field = Add(*fields, "Field");
    field->AddAttribute("name", v->GetVariableName());
    field->AddAttribute("displayLabel", v->GetVariableLabel());
    field->AddAttribute("role", v->GetVariableRole() == INNVariable::kInput ? "input" : "target");
    field->AddAttribute("measure", MeasureName(*v));
    field->AddAttribute("storage", StorageName(v->GetVariableStorage()));
  }

  XMLElement* build = Add(*Add(*root, "CommonAnalyticComponentType"), "BuildSettings");
  AddParameter(*build, "algorithm", algorithm);
  AddParameter(*build, "hiddenLayers", std::to_string(s.settings->GetNumHiddenLayers()));
  for (int l = 1; l <= s.settings->GetNumHiddenLayers(); ++l)
    AddParameter(*build, "hiddenUnits", std::to_string(s.settings->GetNumHiddenUnits(l)));

  XMLElement* pmmlModel = Add(*root, "PMMLModel");
  const int inputs = static_cast<int>(Modelled(*s.vars, INNVariable::kInput).size());
  for (std::size_t t = 0; t < targets.size(); ++t) {
    const INNVariable& v = *targets[t];
    if (t == 0) {
      pmmlModel->AddAttribute("modelID", static_cast<double>(s.settings->GetModelID()));
      pmmlModel->AddAttribute("modelType", "NeuralNetwork");
      Add(*pmmlModel, "TrainingSummary")->AddAttribute("stoppingRule", net.GetStopReasonName());
    }
    XMLElement* summary = Add(*pmmlModel, "PredictiveSummary");
    summary->AddAttribute("targetField", v.GetVariableName());
    summary->AddAttribute("dataUsage", "training");
    summary->AddAttribute("algorithmName", algorithm);
    Add(*summary, "Counts")->AddAttribute("totalFreq", 0.0);
    const std::pair<const char*, double> statistics[] = {
        {"predictors", static_cast<double>(inputs)},
        {"modelSize", static_cast<double>(net.GetNumWeights())},
        {IsCategorical(v) ? "accuracy" : "r-squared", 0.0}};
    for (const auto& [name, value] : statistics) {
      XMLElement* statistic = Add(*summary, "Statistic");
      statistic->AddAttribute("name", name);
      statistic->AddAttribute("value", value);
    }
    if (!s.settings->GetOutputMEInfo()) continue;
    XMLElement* diagnostics = Add(*summary, "ModelDiagnostics");
    diagnostics->AddAttribute("targetField", v.GetVariableName());
    diagnostics->AddAttribute("dataUsage", "training");
    XMLElement* bivariate = Add(*diagnostics, "BivariateData");
    bivariate->AddAttribute("description", "observedByPredicted");
    XMLElement* coordinates = Add(*bivariate, "Coordinates");
    for (const char* name : {"observed", "predicted", "frequency"}) {
      XMLElement* array = Add(*coordinates, name);
      array->AddAttribute("n", 0.0);
      array->AddAttribute("type", name[0] == 'f' ? "int" : "real");
    }
  }
  return root.release();
}

}  // namespace VXNeural::detail
