#include "report/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

#include "training/NetworkComparison.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"

namespace vxnn {

namespace {

std::string Fixed(double value, int digits) {
  if (VXMV::IsMissing(value)) return "n/a";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", digits, value);
  return buf;
}

std::string General(double value) {
  if (VXMV::IsMissing(value)) return "n/a";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.4g", value);
  return buf;
}

// A percentage as a fraction, keeping the missing value missing.
double Fraction(double percent) { return VXMV::IsMissing(percent) ? percent : percent / 100.0; }

std::string Plural(long n, const std::string& word, const std::string& plural = "") {
  return std::to_string(n) + " " + (n == 1 ? word : plural.empty() ? word + "s" : plural);
}

std::string Join(const std::vector<std::string>& items, const std::string& sep = ", ") {
  std::string s;
  for (std::size_t i = 0; i < items.size(); ++i) s += (i ? sep : "") + items[i];
  return s;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

const char* TrainingTypeName(VXNNCommon::TrainingType t) {
  switch (t) {
    case VXNNCommon::kMiniBatch:
      return "minibatch";
    case VXNNCommon::kOnline:
      return "online";
    default:
      return "batch";
  }
}

const char* MethodName(VXNNCommon::MLPTrainingMethod m) {
  switch (m) {
    case VXNNCommon::kGradientDescent:
      return "gradient descent";
    case VXNNCommon::kLinearRegression:
      return "linear regression";
    default:
      return "scaled conjugate gradient";
  }
}

bool IsRBF(const INeuralAlgorithm& a) { return a.GetAlgorithmType() == VXNNCommon::kRBF; }

// The perceptron's settings; null for an RBF network.
const MLPSettings* MLPSettingsOf(const INeuralAlgorithm& a) {
  return IsRBF(a) ? nullptr : static_cast<const MLPSettings*>(a.GetSettings());
}
const RBFSettings* RBFSettingsOf(const INeuralAlgorithm& a) {
  return IsRBF(a) ? static_cast<const RBFSettings*>(a.GetSettings()) : nullptr;
}

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

Shape ShapeOf(const INeuralAlgorithm& a) {
  Shape shape;
  if (const RBFSettings* s = RBFSettingsOf(a)) {
    const int centres = a.GetNumberOfHiddenUnits();
    const bool normalized = s->GetActivFnHiddenLayer() == VXNNCommon::kNormalizedRadialBasis;
    shape.fKind = NetworkKind::kRBF;
    shape.fUnits = {s->GetNumInputs(), centres, s->GetNumOutUnits()};
    shape.fActivations = {VXNNCommon::DisplayText(s->GetActivFnHiddenLayer()),
                          VXNNCommon::DisplayText(VXNNCommon::kIdentity)};
    // One row per output unit, with a bias unless the activations are
    // normalised (they then sum to 1, which plays the bias's part).
    shape.fWeights = s->GetNumOutUnits() * (centres + (normalized ? 0 : 1));
    shape.fError = "sum of squares";
    shape.fOverlap = s->GetOverlapFactor();
    return shape;
  }
  const auto* mlp = dynamic_cast<const MLPAlgorithm*>(&a);
  const NNetwork* net = mlp ? mlp->GetNetwork() : nullptr;
  if (!net) return shape;
  for (int l = 0; l <= net->GetNumLayers(); ++l) {
    const INLayer* layer = net->GetLayer(l);
    if (!layer) continue;
    shape.fUnits.push_back(layer->GetNumUnits());
    if (l > 0)
      shape.fActivations.push_back(VXNNCommon::DisplayText(layer->GetActivationFunction()));
  }
  shape.fWeights = net->GetNumWeights();
  shape.fError =
      net->GetErrorFunction() == VXNNCommon::kCrossEntropy ? "cross entropy" : "sum of squares";
  return shape;
}

// How continuous inputs reach the network: the key in JSON, and the text.
std::pair<const char*, const char*> ScalingOf(VXNNCommon::Standardization s) {
  switch (s) {
    case VXNNCommon::kMeanStdDev:
      return {"standard", "continuous inputs scaled to mean 0, sd 1"};
    case VXNNCommon::kMinRangeSymmetric:
      return {"range", "continuous inputs scaled to -1..1"};
    case VXNNCommon::kMinRange:
      return {"unit range", "continuous inputs scaled to 0..1"};
    default:
      return {"none", "continuous inputs unscaled"};
  }
}

std::string ShapeText(const Shape& s) {
  if (s.fUnits.size() < 2) return "no network";
  std::string t = Plural(s.fUnits.front(), "input unit") + ", ";
  if (s.fKind == NetworkKind::kRBF)
    return t + Plural(s.fUnits[1], "centre") + " (" + s.fActivations[0] + ", overlap factor " +
           General(s.fOverlap) + "), " + Plural(s.fUnits[2], "output unit") + " (" +
           s.fActivations[1] + "); " + Plural(s.fWeights, "output weight");
  const std::size_t hidden = s.fUnits.size() - 2;
  if (hidden == 0) t += "no hidden layer, ";
  for (std::size_t l = 1; l + 1 < s.fUnits.size(); ++l)
    t += "hidden layer " + (hidden > 1 ? std::to_string(l) + " " : std::string()) + "of " +
         Plural(s.fUnits[l], "unit") + " (" + s.fActivations[l - 1] + "), ";
  t += Plural(s.fUnits.back(), "output unit") + " (" + s.fActivations.back() + "); " +
       Plural(s.fWeights, "weight");
  return t;
}

void ShapeJson(JsonWriter& j, const Shape& s) {
  j.Key("network").BeginObject();
  j.Field("kind", KindName(s.fKind));
  j.Key("units_per_layer").BeginArray();
  for (int u : s.fUnits) j.Integer(u);
  j.EndArray();
  j.Key("activations").BeginArray();
  for (const auto& a : s.fActivations) j.String(a);
  j.EndArray();
  j.Field("weights", s.fWeights);
  j.Field("error_function", s.fError);
  if (s.fKind == NetworkKind::kRBF) {
    j.Field("centres", s.fUnits[1]);
    j.Field("overlap_factor", s.fOverlap);
  }
  j.EndObject();
}

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

// "MLP, 4 input units, ..." or "RBF, ...".
std::string NetworkText(const Shape& s) { return Upper(KindName(s.fKind)) + ", " + ShapeText(s); }

// The RBF settings that shape the centres, for inspect.
std::string RBFSettingsText(const RBFSettings& s) {
  std::string t = "  hidden activation " +
                  Lower(VXNNCommon::DisplayText(s.GetActivFnHiddenLayer())) + ", overlap factor " +
                  General(s.GetOverlapFactor()) + "\n  number of centres: ";
  // The count itself is the network's; the settings keep the range the
  // clustering and the candidate search were given.
  if (s.GetMaxNHiddenUnits() < s.GetMinNHiddenUnits())
    t += "range left to the data";
  else
    t += "range " + std::to_string(s.GetMinNHiddenUnits()) + ".." +
         std::to_string(s.GetMaxNHiddenUnits());
  t +=
      std::string("; candidate search: ") +
      (s.GetExpertOneDataPass() ? "one data pass for all candidates" : "a data pass per candidate");
  return t + "\n";
}

// The training method in words.
std::string MethodText(const INeuralAlgorithm& a) {
  const MLPSettings* s = MLPSettingsOf(a);
  return s ? MethodName(s->GetTrainingMethod()) : "clustering and least squares";
}

void PrintConfusion(std::ostream& out, const TargetFigures& t, const std::string& indent) {
  std::size_t width = 9;
  for (const auto& c : t.fCategories) width = std::max(width, c.size() + 2);
  for (const auto& row : t.fConfusion)
    for (int n : row) width = std::max(width, std::to_string(n).size() + 2);
  std::size_t first = 6;
  for (const auto& c : t.fCategories) first = std::max(first, c.size());
  out << indent << std::string(first, ' ');
  for (const auto& c : t.fCategories) out << std::setw(static_cast<int>(width)) << c;
  out << "\n";
  for (std::size_t i = 0; i < t.fConfusion.size(); ++i) {
    out << indent << std::left << std::setw(static_cast<int>(first)) << t.fCategories[i]
        << std::right;
    for (int n : t.fConfusion[i]) out << std::setw(static_cast<int>(width)) << n;
    out << "\n";
  }
}

// Accuracy and the confusion matrix of a categorical target.
void CategoricalFiguresJson(JsonWriter& j, const TargetFigures& t) {
  j.Field("accuracy", Fraction(t.fPercentCorrect));
  j.Key("confusion_matrix").BeginArray();
  for (const auto& row : t.fConfusion) {
    j.BeginArray();
    for (int n : row) j.Integer(n);
    j.EndArray();
  }
  j.EndArray();
}

void TargetJson(JsonWriter& j, const TargetFigures& t) {
  j.BeginObject();
  if (t.fCategorical) {
    CategoricalFiguresJson(j, t);
  } else {
    j.Field("relative_error", t.fRelativeError);
  }
  j.EndObject();
}

void LeftOutJson(JsonWriter& j, const std::vector<std::pair<CellProblem, int>>& leftOut) {
  j.BeginObject();
  for (const auto& p : leftOut) {
    const char* key = p.first == CellProblem::kMissing          ? "missing_value"
                      : p.first == CellProblem::kUnseenCategory ? "unknown_category"
                                                                : "not_a_number";
    j.Field(key, p.second);
  }
  j.EndObject();
}

void ImputedJson(JsonWriter& j, const PassCounts& c) {
  j.BeginObject();
  j.Field("inputs", c.fImputedCells);
  j.Field("records", c.fImputedRecords);
  j.EndObject();
}

// "5 inputs in 4 training records" or "" when none.
std::string ImputedText(const PassCounts& c, const char* side) {
  if (c.fImputedCells == 0) return "";
  return Plural(c.fImputedCells, "input") + " in " + std::to_string(c.fImputedRecords) + " " +
         side + (*side ? " " : "") + "record" + (c.fImputedRecords == 1 ? "" : "s");
}

const char* ReasonKey(KindReason r) {
  switch (r) {
    case KindReason::kText:
      return "text";
    case KindReason::kFewWholeNumbers:
      return "few whole numbers";
    case KindReason::kUserCategorical:
      return "user-set categorical";
    case KindReason::kUserContinuous:
      return "user-set continuous";
    case KindReason::kNumbers:
      break;
  }
  return "numbers";
}

// Training and test figures of every target, side by side.
struct TargetPair {
  TargetFigures fTrain;
  TargetFigures fTest;
  bool fHasTest = false;
};

std::vector<TargetPair> TargetPairs(const TrainResult& r) {
  const std::vector<TargetFigures> train = TargetsOf(*r.fList, r.fTrain.fStats);
  const std::vector<TargetFigures> test =
      r.fTest.fRecords > 0 ? TargetsOf(*r.fList, r.fTest.fStats) : std::vector<TargetFigures>();
  std::vector<TargetPair> pairs;
  for (std::size_t i = 0; i < train.size(); ++i) {
    TargetPair p;
    p.fTrain = train[i];
    if (i < test.size()) {
      p.fTest = test[i];
      p.fHasTest = true;
    }
    pairs.push_back(p);
  }
  return pairs;
}

std::string KindText(const INNVariable& v) {
  switch (v.GetMeasureLevel()) {
    case INNVariable::kContinuous:
      return "continuous";
    case INNVariable::kNumericCategorical:
      return "categorical (numbers)";
    case INNVariable::kStringCategorical:
      return "categorical (text)";
    default:
      return "unknown";
  }
}

std::string RoleText(INNVariable::VariableRole role) {
  switch (role) {
    case INNVariable::kInput:
      return "input";
    case INNVariable::kOutput:
      return "target";
    case INNVariable::kUnused:
      return "unused";
    default:
      return "undefined";
  }
}

void PrintImportance(std::ostream& out, const NNVarList& list, const TrainResult& result) {
  const auto ranked = RankImportance(list, result.fImportance);
  if (ranked.empty()) return;
  std::size_t width = 4;
  for (const auto& r : ranked) width = std::max(width, r.first.size());
  const double top = std::max(ranked.front().second, 1e-300);
  out << "\nPredictor importance (sensitivity of the outputs; sums to 1)\n";
  const std::string sample = ImportanceSampleText(result);
  if (!sample.empty()) out << "  importance from " << sample << " (fixed seed)\n";
  for (std::size_t i = 0; i < ranked.size(); ++i) {
    const int bar = static_cast<int>(30.0 * ranked[i].second / top + 0.5);
    out << std::setw(4) << i + 1 << ". " << std::left << std::setw(static_cast<int>(width))
        << ranked[i].first << std::right << "  " << Fixed(ranked[i].second, 3) << "  "
        << std::string(static_cast<std::size_t>(std::max(bar, 0)), '#') << "\n";
  }
}

}  // namespace

std::string DescribeNetwork(const INeuralAlgorithm& a) { return NetworkText(ShapeOf(a)); }

std::string ImportanceSampleText(const TrainResult& r) {
  if (r.fImportanceRecords >= r.fImportanceOf) return "";
  return "a sample of " + std::to_string(r.fImportanceRecords) + " of " +
         std::to_string(r.fImportanceOf) + " records";
}

std::string StopReasonText(VXNNCommon::StopReason reason) {
  switch (reason) {
    case VXNNCommon::kStoppedMaxTime:
      return "the time limit was reached";
    case VXNNCommon::kStoppedMaxDataPasses:
      return "the data-pass limit was reached";
    case VXNNCommon::kStoppedErrorChangeLimit:
      return "the training error stopped changing";
    case VXNNCommon::kStoppedErrorRatioLimit:
      return "the error ratio fell below its limit";
    case VXNNCommon::kStoppedSmallGradient:
      return "the gradient became negligible";
    case VXNNCommon::kStoppedVerifyingCycle:
      return "the test error stopped improving";
    case VXNNCommon::kStoppedAccuracy:
      return "the accuracy target was reached";
    case VXNNCommon::kStoppedComputed:
      return "the weights were computed directly";
    default:
      return "no stop reason recorded";
  }
}

std::string LeftOutText(const std::vector<std::pair<CellProblem, int>>& leftOut) {
  std::vector<std::string> parts;
  for (const auto& p : leftOut)
    parts.push_back(Plural(p.second, "record") + " " + ProblemText(p.first));
  return Join(parts);
}

std::vector<TargetFigures> TargetsOf(const NNVarList& list, const NNOutputStatistics& stats) {
  std::vector<TargetFigures> targets;
  int cat = 0, cont = 0;
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
    const INNVariable& var = *list.GetVarAt(v);
    TargetFigures t;
    t.fName = var.GetVariableName();
    t.fCategorical = var.GetMeasureLevel() != INNVariable::kContinuous;
    if (t.fCategorical) {
      t.fCategories = CategoryLabels(var);
      const auto& pc = stats.GetPercentsCorrect();
      t.fPercentCorrect = cat < static_cast<int>(pc.size()) ? pc[static_cast<std::size_t>(cat)]
                                                            : VXMV::gMissingValue;
      t.fConfusion = stats.GetMisClassMatrixAsVecOfRows(cat);
      ++cat;
    } else {
      const auto& re = stats.GetRelativeErrors();
      t.fRelativeError = cont < static_cast<int>(re.size()) ? re[static_cast<std::size_t>(cont)]
                                                            : VXMV::gMissingValue;
      ++cont;
    }
    targets.push_back(t);
  }
  return targets;
}

namespace {

// The phases of a job that ran, with their seconds, in the order they run;
// the whole; and the runs that read their encoded training records from
// temporary files, with their data passes.
struct TimeLine {
  std::vector<std::pair<Phase, double>> fPhases;
  int fFilePasses = 0;
  double fTotal = 0.0;
  long long fMemoryBudget = 0;
  std::vector<std::pair<const char*, int>> fSpilled;  // "training" or "refit", data passes
};

TimeLine TimeLineOf(const TrainResult& r) {
  TimeLine t;
  for (int p = 1; p < kPhaseCount; ++p) {
    const Phase phase = static_cast<Phase>(p);
    if (r.fTimes.Ran(phase)) t.fPhases.emplace_back(phase, r.fTimes.Seconds(phase));
  }
  t.fFilePasses = r.fTimes.Passes();
  t.fTotal = r.fTimes.Total();
  const INeuralAlgorithm& m = r.MeasuredModel();
  t.fMemoryBudget = m.GetSettings()->GetMaxRecordsInMemory();
  if (TrainsFromTemporaryFile(m)) t.fSpilled.emplace_back("training", m.GetNumberOfDataPasses());
  if (r.fHeldOutModel && TrainsFromTemporaryFile(*r.fAlgorithm))
    t.fSpilled.emplace_back("refit", r.fAlgorithm->GetNumberOfDataPasses());
  return t;
}

}  // namespace

void PrintTimeLine(std::ostream& out, const TrainResult& r) {
  const TimeLine t = TimeLineOf(r);
  std::vector<std::string> phases;
  for (const auto& [phase, seconds] : t.fPhases) {
    std::string text = std::string(PhaseName(phase)) + " " + Fixed(seconds, 2) + " s";
    if (phase == Phase::kReading)
      text += " (" + Plural(t.fFilePasses, "pass", "passes") + " over the file)";
    phases.push_back(text);
  }
  out << "Time: " << Join(phases) << "; " << Fixed(t.fTotal, 2) << " s in all";
  if (!t.fSpilled.empty()) {
    std::vector<std::string> runs;
    for (const auto& [run, passes] : t.fSpilled)
      runs.push_back(std::string(run) + " on " + Plural(passes, "data pass", "data passes"));
    out << "; encoded records read from temporary files (the memory budget is "
        << Plural(t.fMemoryBudget, "record") << "): " << Join(runs);
  }
  out << "\n";
}

std::vector<std::pair<std::string, double>> RankImportance(const NNVarList& list,
                                                           const std::vector<double>& importance) {
  std::vector<std::string> inputs, outputs;
  list.GetVarNames(inputs, outputs);
  std::vector<std::pair<std::string, double>> ranked;
  for (std::size_t i = 0; i < inputs.size() && i < importance.size(); ++i)
    ranked.emplace_back(inputs[i], importance[i]);
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  return ranked;
}

void PrintTrainSummary(std::ostream& out, const TrainResult& r, const SavedAs& saved) {
  const INeuralAlgorithm& a = *r.fAlgorithm;
  const MLPSettings* mlpSettings = MLPSettingsOf(a);
  const NNVarList& list = *r.fList;
  std::vector<std::string> inputs, outputs;
  list.GetVarNames(inputs, outputs);

  out << "Data: " << r.fSource << ", " << Plural(static_cast<long>(r.fRecordsRead), "record")
      << ": " << r.fTrainRows << " for training, " << r.fTestRows << " for testing (partition seed "
      << r.fOptions.fPartitionSeed << ")\n";
  const std::string trainOut = LeftOutText(r.fTrainLeftOut), testOut = LeftOutText(r.fTestLeftOut);
  if (!trainOut.empty()) out << "  left out of training: " << trainOut << "\n";
  if (!testOut.empty()) out << "  left out of testing: " << testOut << "\n";
  if (r.fTrainCounts.fImputedCells > 0 || r.fTestCounts.fImputedCells > 0) {
    std::string both = ImputedText(r.fTrainCounts, "training");
    const std::string test = ImputedText(r.fTestCounts, "test");
    if (!test.empty()) both += (both.empty() ? "" : ", ") + test;
    out << "  missing inputs filled in (training mean, or most frequent category): " << both
        << "\n";
  }
  if (!r.fUnusedConstant.empty())
    out << "  not used (constant in the training records): " << Join(r.fUnusedConstant) << "\n";
  // Every field's kind with the reason, grouped, so that a wide file stays
  // readable; --categorical and --continuous change any of them.
  std::vector<std::pair<std::string, std::vector<std::string>>> groups;
  for (const FieldPlan& f : r.fFields) {
    if (f.fTarget) continue;
    const std::string kind = FieldKindText(f);
    auto g =
        std::find_if(groups.begin(), groups.end(), [&](const auto& e) { return e.first == kind; });
    if (g == groups.end()) g = groups.insert(groups.end(), {kind, {}});
    g->second.push_back(f.fName);
  }
  if (!r.fFields.empty()) out << "Field kinds:\n";
  for (const auto& g : groups) out << "  " << g.first << ": " << Join(g.second) << "\n";
  for (const FieldPlan& f : r.fFields)
    if (f.fTarget) out << "  target " << f.fName << ": " << FieldKindText(f) << "\n";
  out << "Inputs: " << Join(inputs) << "\n";
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    if (list.GetVariableRole(v) != INNVariable::kOutput) continue;
    const INNVariable& var = *list.GetVarAt(v);
    out << "Target: " << var.GetVariableName() << ", " << KindText(var);
    if (var.GetMeasureLevel() != INNVariable::kContinuous) out << ": " << Join(CategoryLabels(var));
    out << "\n";
  }

  const auto* mlp = dynamic_cast<const MLPAlgorithm*>(&a);
  out << "Network: " << NetworkText(ShapeOf(a))
      << (mlp && r.fSelectedArchitecture ? "; hidden units chosen by the architecture search" : "")
      << "\n";
  if (const MLPSettings* s = mlpSettings) {
    out << "Training: " << MethodName(s->GetTrainingMethod()) << ", "
        << TrainingTypeName(s->GetTrainType());
    if (s->GetTrainType() == VXNNCommon::kMiniBatch)
      out << " of " << s->GetMiniBatchSize() << " records";
    out << "; weight seed " << s->GetRandomSeed() << ", sampling seed "
        << s->GetRandomSeedSampling() << "; " << ScalingOf(s->GetStandInputs()).second << "\n";
  } else {
    out << "Centres: " << a.GetNumberOfHiddenUnits() << ", " << HiddenChoiceText(r.fHiddenChoice)
        << "\n"
        << "Training: centres and widths from clustering the training records, output weights "
           "by least squares\n";
  }
  // The stop, the errors and the figures below are the held-out run's; a
  // refitted model has no test records left to be measured on.
  const INeuralAlgorithm& m = r.MeasuredModel();
  const auto* measuredMlp = dynamic_cast<const MLPAlgorithm*>(&m);
  out << "Stopped: " << StopReasonText(m.GetStopReason()) << ", after "
      << Plural(m.GetNumberOfDataPasses(), "data pass", "data passes")
      << (measuredMlp ? " (" + Plural(measuredMlp->GetNumberOfIterations(), "iteration") + ")"
                      : std::string())
      << "; " << Fixed(m.GetElapsedTime(), 2) << " s of processor time\n";
  out << "Error (" << ShapeOf(m).fError << ", summed over records): training "
      << General(m.GetTrainingError());
  // An RBF network trained directly measures no test error while it
  // trains; its test figures follow per target.
  if (r.fTest.fRecords > 0 && !VXMV::IsMissing(m.GetTestingError()))
    out << ", test " << General(m.GetTestingError());
  out << "\n";
  if (r.fHeldOutModel) {
    out << "Refitted: the model kept was trained again on all " << Plural(r.fRefitRecords, "record")
        << " (training and test)";
    if (r.fRefitPassLimit > 0)
      out << " for at most " << Plural(r.fRefitPassLimit, "data pass", "data passes")
          << ", where the test error was lowest (stopped: " << StopReasonText(a.GetStopReason())
          << ", after " << a.GetNumberOfDataPasses() << ")";
    out << "; the figures here are those of the run on the " << r.fTrain.fRecords
        << " training records (--no-refit keeps that model)\n";
  } else if (r.fRefitSkippedForSize) {
    out << "Not refitted: " << r.fTrain.fRecords << " training records are enough (the model is "
        << "trained again on every record below " << kRefitAutoMaxRecords
        << "; --refit forces it)\n";
  }
  PrintSizeSelections(out, r);
  PrintNetworksCompared(out, r);

  for (const TargetPair& p : TargetPairs(r)) {
    out << "\n" << p.fTrain.fName << ": ";
    if (p.fTrain.fCategorical) {
      out << "accuracy " << Fixed(p.fTrain.fPercentCorrect, 1) << "% on training";
      if (p.fHasTest) out << ", " << Fixed(p.fTest.fPercentCorrect, 1) << "% on test";
      out << "\n";
      const bool onTest = p.fHasTest;
      out << "  confusion matrix on the " << (onTest ? "test" : "training")
          << " records (rows: actual, columns: predicted)\n";
      PrintConfusion(out, onTest ? p.fTest : p.fTrain, "    ");
    } else {
      out << "relative error " << Fixed(p.fTrain.fRelativeError, 3) << " on training";
      if (p.fHasTest) out << ", " << Fixed(p.fTest.fRelativeError, 3) << " on test";
      out << " (0 is perfect, 1 no better than the mean)\n";
    }
  }
  PrintImportance(out, list, r);
  if (!saved.fPath.empty())
    out << "\nModel saved to " << saved.fPath << " (" << FormatName(saved.fFormat) << ")\n";
  out << "\n";
  PrintTimeLine(out, r);
}

void WriteTrainJson(std::ostream& out, const TrainResult& r, const SavedAs& saved) {
  const INeuralAlgorithm& a = *r.fAlgorithm;
  const MLPSettings* s = MLPSettingsOf(a);
  JsonWriter j(out);
  j.BeginObject();
  j.Key("data").BeginObject();
  j.Field("file", r.fSource);
  j.Field("records", static_cast<long>(r.fRecordsRead));
  j.Field("training_records", static_cast<long>(r.fTrainRows));
  j.Field("test_records", static_cast<long>(r.fTestRows));
  j.Field("test_fraction", r.fOptions.fTestFraction);
  j.Key("partition_seed").Integer(r.fOptions.fPartitionSeed);
  j.Key("left_out_of_training");
  LeftOutJson(j, r.fTrainLeftOut);
  j.Key("left_out_of_test");
  LeftOutJson(j, r.fTestLeftOut);
  j.Key("unused_constant_inputs").BeginArray();
  for (const auto& n : r.fUnusedConstant) j.String(n);
  j.EndArray();
  j.Field("missing_inputs",
          r.fOptions.fMissingInputs == MissingInputs::kImpute ? "impute" : "drop");
  j.Key("imputed_training");
  ImputedJson(j, r.fTrainCounts);
  j.Key("imputed_test");
  ImputedJson(j, r.fTestCounts);
  j.Key("fields").BeginArray();
  for (const FieldPlan& f : r.fFields) {
    j.BeginObject();
    j.Field("name", f.fName);
    j.Field("role", f.fTarget ? "target" : "input");
    j.Field("kind", f.fKind == FieldKind::kContinuous ? "continuous" : "categorical");
    j.Field("reason", ReasonKey(f.fReason));
    if (f.fReason == KindReason::kFewWholeNumbers) j.Field("whole_number_values", f.fWholeValues);
    j.Field("non_finite_missing", f.fNonFinite);
    j.EndObject();
  }
  j.EndArray();
  j.EndObject();

  ShapeJson(j, ShapeOf(a));
  j.Key("training").BeginObject();
  j.Field("method", MethodText(a));
  j.Field("input_scaling", ScalingOf(a.GetSettings()->GetStandInputs()).first);
  if (s) {
    j.Field("training_type", TrainingTypeName(s->GetTrainType()));
    if (s->GetTrainType() == VXNNCommon::kMiniBatch)
      j.Field("mini_batch_size", s->GetMiniBatchSize());
  }
  j.Field("architecture_selected", r.fSelectedArchitecture);
  j.Key("hidden_units").BeginObject();
  j.Field("count", a.GetNumberOfHiddenUnits());
  j.Field("chosen", HiddenChoiceKey(r.fHiddenChoice.fHow));
  if (r.fHiddenChoice.fHigh > 0) {
    j.Field("low", r.fHiddenChoice.fLow);
    j.Field("high", r.fHiddenChoice.fHigh);
  }
  j.EndObject();
  if (s) {
    j.Key("weight_seed").Integer(s->GetRandomSeed());
    j.Key("sampling_seed").Integer(s->GetRandomSeedSampling());
  }
  // The held-out run's, as every figure; the refit has its own object.
  const INeuralAlgorithm& m = r.MeasuredModel();
  j.Field("stop_reason", VXNNCommon::DisplayText(m.GetStopReason()));
  j.Field("data_passes", m.GetNumberOfDataPasses());
  if (const auto* mlp = dynamic_cast<const MLPAlgorithm*>(&m))
    j.Field("iterations", mlp->GetNumberOfIterations());
  j.Field("processor_seconds", m.GetElapsedTime());
  j.Field("wall_seconds", r.fWallSeconds);
  j.Field("training_error", m.GetTrainingError());
  j.Field("test_error", r.fTest.fRecords > 0 ? m.GetTestingError() : VXMV::gMissingValue);
  j.EndObject();
  j.Field("refit_skipped_for_size", r.fRefitSkippedForSize);
  j.Key("refit");
  if (r.fHeldOutModel) {
    j.BeginObject();
    j.Field("records", r.fRefitRecords);
    j.Field("max_data_passes", r.fRefitPassLimit);
    j.Field("stop_reason", VXNNCommon::DisplayText(a.GetStopReason()));
    j.Field("data_passes", a.GetNumberOfDataPasses());
    j.Field("processor_seconds", a.GetElapsedTime());
    j.Field("training_error", a.GetTrainingError());
    j.EndObject();
  } else {
    j.Null();
  }
  SizeSelectionsJson(j, r);
  NetworksComparedJson(j, r);

  j.Key("targets").BeginArray();
  for (const TargetPair& p : TargetPairs(r)) {
    j.BeginObject();
    j.Field("name", p.fTrain.fName);
    j.Field("kind", p.fTrain.fCategorical ? "categorical" : "continuous");
    if (p.fTrain.fCategorical) {
      j.Key("categories").BeginArray();
      for (const auto& c : p.fTrain.fCategories) j.String(c);
      j.EndArray();
    }
    j.Key("training");
    TargetJson(j, p.fTrain);
    j.Key("test");
    if (p.fHasTest)
      TargetJson(j, p.fTest);
    else
      j.Null();
    j.EndObject();
  }
  j.EndArray();

  j.Key("importance").BeginArray();
  for (const auto& imp : RankImportance(*r.fList, r.fImportance)) {
    j.BeginObject();
    j.Field("input", imp.first);
    j.Field("importance", imp.second);
    j.EndObject();
  }
  j.EndArray();
  // The records the importance came from (a fixed-seed sample when fewer
  // than the model's); both null without importance.
  if (r.fImportance.empty()) {
    j.Key("importance_records").Null();
    j.Key("importance_of_records").Null();
  } else {
    j.Field("importance_records", static_cast<long>(r.fImportanceRecords));
    j.Field("importance_of_records", static_cast<long>(r.fImportanceOf));
  }
  const TimeLine t = TimeLineOf(r);
  j.Key("time").BeginObject();
  j.Key("phases").BeginObject();
  for (const auto& [phase, seconds] : t.fPhases) j.Field(PhaseName(phase), seconds);
  j.EndObject();
  j.Field("file_passes", t.fFilePasses);
  j.Key("temporary_files");
  if (t.fSpilled.empty()) {
    j.Null();
  } else {
    j.BeginObject();
    j.Key("memory_budget").Integer(t.fMemoryBudget);
    for (const auto& [run, passes] : t.fSpilled) j.Field(std::string(run) + "_passes", passes);
    j.EndObject();
  }
  j.Field("seconds", t.fTotal);
  j.EndObject();
  if (saved.fPath.empty()) {
    j.Key("model_file").Null();
  } else {
    j.Field("model_file", saved.fPath);
    j.Field("model_format", Lower(FormatName(saved.fFormat)));
  }
  j.EndObject();
}

void PrintEval(std::ostream& out, const NNVarList& list, const EvalResult& r) {
  out << "Model " << r.fModelPath << " on " << r.fDataPath << ": "
      << Plural(r.fFigures.fRecords, "record") << " evaluated of " << r.fRecordsRead << "\n";
  const std::string leftOut = LeftOutText(r.fLeftOut);
  if (!leftOut.empty()) out << "  left out: " << leftOut << "\n";
  if (r.fImputed.fImputedCells > 0)
    out << "  missing inputs filled in (training mean, or most frequent category): "
        << ImputedText(r.fImputed, "") << "\n";
  if (r.fImputed.fUnknownCells > 0)
    out << "  unknown values filled in (a new category, or text in a numeric column; most "
           "frequent training category, or training mean): "
        << Plural(r.fImputed.fUnknownCells, "input") << " in "
        << Plural(r.fImputed.fUnknownRecords, "record") << "\n";
  if (r.fFigures.fRecords == 0) return;
  out << "Error (summed over records): " << General(r.fFigures.fStats.GetTotalError()) << "\n";
  for (const TargetFigures& t : TargetsOf(list, r.fFigures.fStats)) {
    out << "\n" << t.fName << ": ";
    if (t.fCategorical) {
      out << "accuracy " << Fixed(t.fPercentCorrect, 1) << "%\n"
          << "  confusion matrix (rows: actual, columns: predicted)\n";
      PrintConfusion(out, t, "    ");
    } else {
      out << "relative error " << Fixed(t.fRelativeError, 3)
          << " (0 is perfect, 1 no better than the mean)\n";
    }
  }
}

void WriteEvalJson(std::ostream& out, const NNVarList& list, const EvalResult& r) {
  JsonWriter j(out);
  j.BeginObject();
  j.Field("model_file", r.fModelPath);
  j.Field("data_file", r.fDataPath);
  j.Field("records", static_cast<long>(r.fRecordsRead));
  j.Field("evaluated_records", r.fFigures.fRecords);
  j.Key("left_out");
  LeftOutJson(j, r.fLeftOut);
  j.Key("imputed");
  ImputedJson(j, r.fImputed);
  j.Key("unknown_categories_imputed").BeginObject();
  j.Field("inputs", r.fImputed.fUnknownCells);
  j.Field("records", r.fImputed.fUnknownRecords);
  j.EndObject();
  j.Field("total_error",
          r.fFigures.fRecords > 0 ? r.fFigures.fStats.GetTotalError() : VXMV::gMissingValue);
  j.Key("targets").BeginArray();
  if (r.fFigures.fRecords > 0) {
    for (const TargetFigures& t : TargetsOf(list, r.fFigures.fStats)) {
      j.BeginObject();
      j.Field("name", t.fName);
      j.Field("kind", t.fCategorical ? "categorical" : "continuous");
      if (t.fCategorical) {
        j.Key("categories").BeginArray();
        for (const auto& c : t.fCategories) j.String(c);
        j.EndArray();
        CategoricalFiguresJson(j, t);
      } else {
        j.Field("relative_error", t.fRelativeError);
      }
      j.EndObject();
    }
  }
  j.EndArray();
  j.EndObject();
}

namespace {

std::string VariableDetails(const INNVariable& var) {
  if (const auto* c = dynamic_cast<const NNContVar*>(&var)) {
    const double sd = c->GetVariance() > 0 ? std::sqrt(c->GetVariance()) : 0.0;
    return "min " + General(c->GetMin()) + ", max " + General(c->GetMax()) + ", mean " +
           General(c->GetMean()) + ", sd " + General(sd);
  }
  return Plural(var.GetNumberOfCategories(), "category", "categories") + ": " +
         Join(CategoryLabels(var));
}

std::string MissingDetails(const INNVariable& var) {
  const INNUserMissing* um = var.GetUserMissingInfo();
  if (!um || (um->GetNDiscreteValues() == 0 && !um->HasInterval())) return "";
  return "; " + Plural(um->GetNDiscreteValues(), "declared missing value");
}

}  // namespace

void PrintModel(std::ostream& out, const std::string& path, ModelFormat format,
                const INeuralAlgorithm& a) {
  const NeuralSettings& s = *a.GetSettings();
  const NNVarList& list = *a.GetVarList();
  out << "Model: " << path << " (" << FormatName(format) << "), " << a.GetComponentVersion()
      << "\n";
  out << "Status: " << VXNNCommon::DisplayText(a.GetAlgorithmStatus()) << "\n";
  out << "\nFields (" << list.Size() << "):\n";
  std::size_t width = 4;
  for (unsigned v = 0; v < list.Size(); ++v)
    width = std::max(width, list.GetVarAt(static_cast<int>(v))->GetVariableName().size());
  for (unsigned v = 0; v < list.Size(); ++v) {
    const INNVariable& var = *list.GetVarAt(static_cast<int>(v));
    out << "  " << std::left << std::setw(static_cast<int>(width)) << var.GetVariableName() << "  "
        << std::setw(7) << RoleText(var.GetVariableRole()) << "  " << std::setw(22) << KindText(var)
        << std::right << VariableDetails(var) << MissingDetails(var) << "\n";
  }
  const Shape shape = ShapeOf(a);
  out << "\nNetwork: " << NetworkText(shape) << "; error function " << shape.fError << "\n";
  out << "\nSettings:\n";
  const MLPSettings* m = MLPSettingsOf(a);
  if (m) {
    out << "  method " << MethodName(m->GetTrainingMethod()) << ", training type "
        << TrainingTypeName(m->GetTrainType());
    if (m->GetTrainType() == VXNNCommon::kMiniBatch)
      out << ", mini-batch " << m->GetMiniBatchSize();
    out << "\n  weight seed " << s.GetRandomSeed() << ", sampling seed "
        << s.GetRandomSeedSampling() << ", ";
  } else {
    out << "  method " << MethodText(a) << "\n" << RBFSettingsText(*RBFSettingsOf(a)) << "  ";
  }
  out << "memory budget " << s.GetMaxRecordsInMemory() << " records\n"
      << "  inputs: " << Lower(VXNNCommon::DisplayText(s.GetStandInputs()))
      << "; continuous targets: " << Lower(VXNNCommon::DisplayText(s.GetStandOutputs())) << "\n";
  if (m)
    out << "  stop rules: at most " << m->GetMaxNDataPasses() << " data passes and "
        << General(m->GetMaxTime()) << " s; relative error change below "
        << General(m->GetMinRelativeChangeError()) << "; error ratio below "
        << General(m->GetMinErrorRatio()) << "; gradient norm below "
        << General(m->GetGradientNormLimit()) << "; "
        << (m->GetAccuracy() > 100.0 ? "no accuracy target"
                                     : "accuracy " + General(m->GetAccuracy()) + "%")
        << "; " << m->GetMaxNStepsTrackError() << " steps without a better test error\n";
  out << "\nTraining:\n"
      << "  " << s.GetNTrainRecords() << " training records, " << s.GetNTestRecords()
      << " test records\n"
      << "  stopped: " << StopReasonText(a.GetStopReason()) << "\n"
      << "  " << Plural(a.GetNumberOfDataPasses(), "data pass", "data passes");
  if (const auto* mlp = dynamic_cast<const MLPAlgorithm*>(&a))
    out << ", " << Plural(mlp->GetNumberOfIterations(), "iteration");
  out << ", " << Fixed(a.GetElapsedTime(), 2) << " s of processor time\n"
      << "  error (summed over records): training " << General(a.GetTrainingError()) << ", test "
      << General(a.GetTestingError()) << "\n";
}

void WriteModelJson(std::ostream& out, const std::string& path, ModelFormat format,
                    const INeuralAlgorithm& a, const std::function<void(JsonWriter&)>& more) {
  const NeuralSettings& s = *a.GetSettings();
  const NNVarList& list = *a.GetVarList();
  JsonWriter j(out);
  j.BeginObject();
  j.Field("model_file", path);
  j.Field("model_format", Lower(FormatName(format)));
  j.Field("status", VXNNCommon::DisplayText(a.GetAlgorithmStatus()));
  j.Key("fields").BeginArray();
  for (unsigned v = 0; v < list.Size(); ++v) {
    const INNVariable& var = *list.GetVarAt(static_cast<int>(v));
    j.BeginObject();
    j.Field("name", var.GetVariableName());
    j.Field("role", RoleText(var.GetVariableRole()));
    const bool categorical = var.GetMeasureLevel() != INNVariable::kContinuous;
    j.Field("kind", categorical ? "categorical" : "continuous");
    if (const auto* c = dynamic_cast<const NNContVar*>(&var)) {
      j.Field("min", c->GetMin());
      j.Field("max", c->GetMax());
      j.Field("mean", c->GetMean());
      j.Field("variance", c->GetVariance());
    } else {
      j.Key("categories").BeginArray();
      for (const auto& label : CategoryLabels(var)) j.String(label);
      j.EndArray();
    }
    j.EndObject();
  }
  j.EndArray();
  ShapeJson(j, ShapeOf(a));
  j.Key("settings").BeginObject();
  j.Field("method", MethodText(a));
  j.Field("memory_budget", s.GetMaxRecordsInMemory());
  if (const MLPSettings* m = MLPSettingsOf(a)) {
    j.Field("training_type", TrainingTypeName(m->GetTrainType()));
    j.Key("weight_seed").Integer(m->GetRandomSeed());
    j.Key("sampling_seed").Integer(m->GetRandomSeedSampling());
    j.Field("max_data_passes", m->GetMaxNDataPasses());
    j.Field("max_time", m->GetMaxTime());
    j.Field("error_change", m->GetMinRelativeChangeError());
    j.Field("error_ratio", m->GetMinErrorRatio());
    j.Field("gradient_norm", m->GetGradientNormLimit());
    // Above 100% the accuracy stop is off.
    if (m->GetAccuracy() > 100.0)
      j.Key("stop_accuracy").Null();
    else
      j.Field("stop_accuracy", m->GetAccuracy());
    j.Field("steps_without_improvement", m->GetMaxNStepsTrackError());
  } else {
    const RBFSettings& r = *RBFSettingsOf(a);
    j.Field("hidden_activation", VXNNCommon::DisplayText(r.GetActivFnHiddenLayer()));
    j.Field("overlap_factor", r.GetOverlapFactor());
    j.Field("min_hidden_units", r.GetMinNHiddenUnits());
    j.Field("max_hidden_units", r.GetMaxNHiddenUnits());
    j.Field("search_one_data_pass", r.GetExpertOneDataPass());
  }
  j.EndObject();
  j.Key("training").BeginObject();
  j.Field("training_records", s.GetNTrainRecords());
  j.Field("test_records", s.GetNTestRecords());
  j.Field("stop_reason", VXNNCommon::DisplayText(a.GetStopReason()));
  j.Field("data_passes", a.GetNumberOfDataPasses());
  if (const auto* mlp = dynamic_cast<const MLPAlgorithm*>(&a))
    j.Field("iterations", mlp->GetNumberOfIterations());
  j.Field("processor_seconds", a.GetElapsedTime());
  j.Field("training_error", a.GetTrainingError());
  j.Field("test_error", a.GetTestingError());
  j.EndObject();
  if (more) more(j);
  j.EndObject();
}

}  // namespace vxnn
