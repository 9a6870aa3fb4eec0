// The text and the JSON description of a saved model (`vxnn inspect`),
// from the ModelSummary alone.
#include <algorithm>
#include <cmath>
#include <iomanip>

#include "report/Figures.h"
#include "report/Format.h"
#include "report/ModelSummary.h"

namespace vxnn {

namespace {

std::string VariableDetails(const FieldDescription& f) {
  if (const auto& c = f.fContinuous) {
    const double sd = c->fVariance > 0 ? std::sqrt(c->fVariance) : 0.0;
    return "min " + General(c->fMin) + ", max " + General(c->fMax) + ", mean " + General(c->fMean) +
           ", sd " + General(sd);
  }
  return Plural(f.fCategoryCount, "category", "categories") + ": " + Join(f.fCategories);
}

std::string MissingDetails(const FieldDescription& f) {
  if (!f.fDeclaredMissing) return "";
  return "; " + Plural(*f.fDeclaredMissing, "declared missing value");
}

// The RBF settings that shape the centres.
std::string RBFSettingsText(const RBFCentreSettings& s) {
  std::string t = "  hidden activation " + Lower(s.fHiddenActivation) + ", overlap factor " +
                  General(s.fOverlap) + "\n  number of centres: ";
  // The count itself is the network's; the settings keep the range the
  // clustering and the candidate search were given.
  if (s.fMaxHiddenUnits < s.fMinHiddenUnits)
    t += "range left to the data";
  else
    t += "range " + std::to_string(s.fMinHiddenUnits) + ".." + std::to_string(s.fMaxHiddenUnits);
  t += std::string("; candidate search: ") +
       (s.fSearchOneDataPass ? "one data pass for all candidates" : "a data pass per candidate");
  return t + "\n";
}

}  // namespace

void PrintModel(std::ostream& out, const ModelSummary& s) {
  out << "Model: " << s.fModelFile << " (" << FormatName(s.fFormat) << "), " << s.fVersion << "\n";
  out << "Status: " << s.fStatus << "\n";
  out << "\nFields (" << s.fFields.size() << "):\n";
  std::size_t width = 4;
  for (const FieldDescription& f : s.fFields) width = std::max(width, f.fName.size());
  for (const FieldDescription& f : s.fFields)
    out << "  " << std::left << std::setw(static_cast<int>(width)) << f.fName << "  "
        << std::setw(7) << f.fRole << "  " << std::setw(22) << f.fKindText << std::right
        << VariableDetails(f) << MissingDetails(f) << "\n";
  out << "\nNetwork: " << NetworkText(s.fNetwork) << "; error function " << s.fNetwork.fError
      << "\n";
  out << "\nSettings:\n";
  const auto& m = s.fPerceptron;
  if (m) {
    out << "  method " << s.fMethod << ", training type " << TrainingTypeName(m->fType);
    if (m->fMiniBatchSize) out << ", mini-batch " << *m->fMiniBatchSize;
    out << "\n  weight seed " << m->fWeightSeed << ", sampling seed " << m->fSamplingSeed << ", ";
  } else {
    out << "  method " << s.fMethod << "\n" << (s.fRBF ? RBFSettingsText(*s.fRBF) : "") << "  ";
  }
  out << "memory budget " << s.fMemoryBudget << " records\n"
      << "  inputs: " << Lower(s.fInputScaling)
      << "; continuous targets: " << Lower(s.fTargetScaling) << "\n";
  if (m)
    out << "  stop rules: at most " << m->fMaxDataPasses << " data passes and "
        << General(m->fMaxTime) << " s; relative error change below " << General(m->fErrorChange)
        << "; error ratio below " << General(m->fErrorRatio) << "; gradient norm below "
        << General(m->fGradientNorm) << "; "
        << (m->fStopAccuracy ? "accuracy " + General(*m->fStopAccuracy) + "%"
                             : "no accuracy target")
        << "; " << m->fStepsWithoutImprovement << " steps without a better test error\n";
  out << "\nTraining:\n"
      << "  " << s.fTrainingRecords << " training records, " << s.fTestRecords << " test records\n"
      << "  stopped: " << StopReasonText(s.fStopReason) << "\n"
      << "  " << Plural(s.fDataPasses, "data pass", "data passes");
  if (s.fIterations) out << ", " << Plural(*s.fIterations, "iteration");
  out << ", " << Fixed(s.fProcessorSeconds, 2) << " s of processor time\n"
      << "  error (summed over records): training " << General(s.fTrainingError) << ", test "
      << General(s.fTestError) << "\n";
}

void WriteModelJson(std::ostream& out, const ModelSummary& s,
                    const std::function<void(JsonWriter&)>& more) {
  JsonWriter j(out);
  j.BeginObject();
  j.Field("model_file", s.fModelFile);
  j.Field("model_format", Lower(FormatName(s.fFormat)));
  j.Field("status", s.fStatus);
  j.Key("fields").BeginArray();
  for (const FieldDescription& f : s.fFields) {
    j.BeginObject();
    j.Field("name", f.fName);
    j.Field("role", f.fRole);
    j.Field("kind", f.fCategorical ? "categorical" : "continuous");
    if (const auto& c = f.fContinuous) {
      j.Field("min", c->fMin);
      j.Field("max", c->fMax);
      j.Field("mean", c->fMean);
      j.Field("variance", c->fVariance);
    } else {
      j.Key("categories").BeginArray();
      for (const auto& label : f.fCategories) j.String(label);
      j.EndArray();
    }
    j.EndObject();
  }
  j.EndArray();
  ShapeJson(j, s.fNetwork);
  j.Key("settings").BeginObject();
  j.Field("method", s.fMethod);
  j.Field("memory_budget", s.fMemoryBudget);
  if (const auto& m = s.fPerceptron) {
    j.Field("training_type", TrainingTypeName(m->fType));
    j.Key("weight_seed").Integer(m->fWeightSeed);
    j.Key("sampling_seed").Integer(m->fSamplingSeed);
    j.Field("max_data_passes", m->fMaxDataPasses);
    j.Field("max_time", m->fMaxTime);
    j.Field("error_change", m->fErrorChange);
    j.Field("error_ratio", m->fErrorRatio);
    j.Field("gradient_norm", m->fGradientNorm);
    j.Key("stop_accuracy");
    if (m->fStopAccuracy)
      j.Number(*m->fStopAccuracy);
    else
      j.Null();
    j.Field("steps_without_improvement", m->fStepsWithoutImprovement);
  } else if (const auto& r = s.fRBF) {
    j.Field("hidden_activation", r->fHiddenActivation);
    j.Field("overlap_factor", r->fOverlap);
    j.Field("min_hidden_units", r->fMinHiddenUnits);
    j.Field("max_hidden_units", r->fMaxHiddenUnits);
    j.Field("search_one_data_pass", r->fSearchOneDataPass);
  }
  j.EndObject();
  j.Key("training").BeginObject();
  j.Field("training_records", s.fTrainingRecords);
  j.Field("test_records", s.fTestRecords);
  j.Field("stop_reason", VXNNCommon::DisplayText(s.fStopReason));
  j.Field("data_passes", s.fDataPasses);
  if (s.fIterations) j.Field("iterations", *s.fIterations);
  j.Field("processor_seconds", s.fProcessorSeconds);
  j.Field("training_error", s.fTrainingError);
  j.Field("test_error", s.fTestError);
  j.EndObject();
  if (more) more(j);
  j.EndObject();
}

}  // namespace vxnn
