#include "report/ModelSummary.h"

#include "data/Records.h"
#include "vxneural/algorithm/MLPAlgorithm.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNVarList.h"

namespace vxnn {

namespace {

FieldDescription Describe(const INNVariable& var) {
  FieldDescription f;
  f.fName = var.GetVariableName();
  f.fRole = RoleText(var.GetVariableRole());
  f.fKindText = KindText(var);
  f.fCategorical = var.GetMeasureLevel() != INNVariable::kContinuous;
  if (const auto* c = dynamic_cast<const NNContVar*>(&var)) {
    f.fContinuous = ContinuousStatistics{c->GetMin(), c->GetMax(), c->GetMean(), c->GetVariance()};
  } else {
    f.fCategoryCount = var.GetNumberOfCategories();
    f.fCategories = CategoryLabels(var);
  }
  const INNUserMissing* um = var.GetUserMissingInfo();
  if (um && (um->GetNDiscreteValues() > 0 || um->HasInterval()))
    f.fDeclaredMissing = um->GetNDiscreteValues();
  return f;
}

}  // namespace

ModelSummary SummarizeModel(const std::string& path, ModelFormat format,
                            const INeuralAlgorithm& a) {
  const NeuralSettings& settings = *a.GetSettings();
  const NNVarList& list = *a.GetVarList();
  ModelSummary s;
  s.fModelFile = path;
  s.fFormat = format;
  s.fVersion = a.GetComponentVersion();
  s.fStatus = VXNNCommon::DisplayText(a.GetAlgorithmStatus());
  for (unsigned v = 0; v < list.Size(); ++v)
    s.fFields.push_back(Describe(*list.GetVarAt(static_cast<int>(v))));
  s.fNetwork = ShapeOf(a);

  s.fMethod = MethodText(a);
  s.fMemoryBudget = settings.GetMaxRecordsInMemory();
  s.fInputScaling = VXNNCommon::DisplayText(settings.GetStandInputs());
  s.fTargetScaling = VXNNCommon::DisplayText(settings.GetStandOutputs());
  if (const MLPSettings* m = MLPSettingsOf(a)) {
    PerceptronSettings p;
    p.fType = m->GetTrainType();
    if (p.fType == VXNNCommon::kMiniBatch) p.fMiniBatchSize = m->GetMiniBatchSize();
    p.fWeightSeed = m->GetRandomSeed();
    p.fSamplingSeed = m->GetRandomSeedSampling();
    p.fMaxDataPasses = m->GetMaxNDataPasses();
    p.fMaxTime = m->GetMaxTime();
    p.fErrorChange = m->GetMinRelativeChangeError();
    p.fErrorRatio = m->GetMinErrorRatio();
    p.fGradientNorm = m->GetGradientNormLimit();
    // Above 100% the accuracy stop is off.
    if (m->GetAccuracy() <= 100.0) p.fStopAccuracy = m->GetAccuracy();
    p.fStepsWithoutImprovement = m->GetMaxNStepsTrackError();
    s.fPerceptron = p;
  } else if (const RBFSettings* r = RBFSettingsOf(a)) {
    RBFCentreSettings c;
    c.fHiddenActivation = VXNNCommon::DisplayText(r->GetActivFnHiddenLayer());
    c.fOverlap = r->GetOverlapFactor();
    c.fMinHiddenUnits = r->GetMinNHiddenUnits();
    c.fMaxHiddenUnits = r->GetMaxNHiddenUnits();
    c.fSearchOneDataPass = r->GetExpertOneDataPass();
    s.fRBF = c;
  }

  s.fTrainingRecords = settings.GetNTrainRecords();
  s.fTestRecords = settings.GetNTestRecords();
  s.fStopReason = a.GetStopReason();
  s.fDataPasses = a.GetNumberOfDataPasses();
  if (const auto* mlp = dynamic_cast<const MLPAlgorithm*>(&a))
    s.fIterations = mlp->GetNumberOfIterations();
  s.fProcessorSeconds = a.GetElapsedTime();
  s.fTrainingError = a.GetTrainingError();
  s.fTestError = a.GetTestingError();
  return s;
}

}  // namespace vxnn
