// The JSON summary of `vxnn train`, from the TrainSummary alone; its shape
// is docs/schema/train-summary.schema.json.
#include "report/Format.h"
#include "report/TrainSummary.h"

namespace vxnn {

namespace {

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

void DataJson(JsonWriter& j, const TrainSummary& s) {
  j.Key("data").BeginObject();
  j.Field("file", s.fSource);
  j.Field("records", s.fRecords);
  j.Field("training_records", s.fTrainingRows);
  j.Field("test_records", s.fTestRows);
  j.Field("test_fraction", s.fTestFraction);
  j.Key("partition_seed").Integer(s.fPartitionSeed);
  j.Key("left_out_of_training");
  LeftOutJson(j, s.fLeftOutOfTraining);
  j.Key("left_out_of_test");
  LeftOutJson(j, s.fLeftOutOfTest);
  j.Key("unused_constant_inputs").BeginArray();
  for (const auto& n : s.fUnusedConstant) j.String(n);
  j.EndArray();
  j.Field("missing_inputs", s.fMissingInputs == MissingInputs::kImpute ? "impute" : "drop");
  j.Key("imputed_training");
  ImputedJson(j, s.fImputedTraining);
  j.Key("imputed_test");
  ImputedJson(j, s.fImputedTest);
  j.Key("fields").BeginArray();
  for (const FieldPlan& f : s.fFields) {
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
}

void TrainingJson(JsonWriter& j, const TrainSummary& s) {
  j.Key("training").BeginObject();
  j.Field("method", s.fMethod);
  j.Field("input_scaling", ScalingOf(s.fInputScaling).first);
  if (const auto& p = s.fPerceptronTraining) {
    j.Field("training_type", TrainingTypeName(p->fType));
    if (p->fMiniBatchSize) j.Field("mini_batch_size", *p->fMiniBatchSize);
  }
  j.Field("architecture_selected", s.fArchitectureSelected);
  j.Key("hidden_units").BeginObject();
  j.Field("count", s.fHiddenUnits);
  j.Field("chosen", HiddenChoiceKey(s.fHiddenChoice.fHow));
  if (s.fHiddenChoice.fHigh > 0) {
    j.Field("low", s.fHiddenChoice.fLow);
    j.Field("high", s.fHiddenChoice.fHigh);
  }
  j.EndObject();
  if (const auto& p = s.fPerceptronTraining) {
    j.Key("weight_seed").Integer(p->fWeightSeed);
    j.Key("sampling_seed").Integer(p->fSamplingSeed);
  }
  // The held-out run's, as every figure; the refit has its own object.
  const MeasuredRun& m = s.fMeasured;
  j.Field("stop_reason", VXNNCommon::DisplayText(m.fStopReason));
  j.Field("data_passes", m.fDataPasses);
  if (m.fIterations) j.Field("iterations", *m.fIterations);
  j.Field("processor_seconds", m.fProcessorSeconds);
  j.Field("wall_seconds", m.fWallSeconds);
  j.Field("training_error", m.fTrainingError);
  j.Field("test_error", m.fTestError);
  j.EndObject();
  j.Field("refit_skipped_for_size", s.fRefitSkippedForSize);
  j.Key("refit");
  if (const auto& refit = s.fRefit) {
    j.BeginObject();
    j.Field("records", refit->fRecords);
    j.Field("max_data_passes", refit->fMaxDataPasses);
    j.Field("stop_reason", VXNNCommon::DisplayText(refit->fStopReason));
    j.Field("data_passes", refit->fDataPasses);
    j.Field("processor_seconds", refit->fProcessorSeconds);
    j.Field("training_error", refit->fTrainingError);
    j.EndObject();
  } else {
    j.Null();
  }
}

// The "size_selection" member: one object per network whose size was left
// to the selection, or null when the options fixed every size.
void SizeSelectionsJson(JsonWriter& j, const std::vector<SizeSelection>& selections) {
  j.Key("size_selection");
  if (selections.empty()) {
    j.Null();
    return;
  }
  j.BeginArray();
  for (const SizeSelection& s : selections) {
    const bool rbf = s.fNetwork == "rbf";
    j.BeginObject();
    j.Field("network", s.fNetwork);
    j.Field("records", s.fRecords);
    j.Key("skipped");
    if (s.fSkipped.empty())
      j.Null();
    else
      j.String(s.fSkipped);
    j.Field("folds", s.fFolds);
    j.Key("candidates").BeginArray();
    for (const SizeCandidate& t : s.fCandidates) {
      j.BeginObject();
      j.Field(rbf ? "centres" : "hidden_units", t.fUnits);
      if (rbf)
        j.Field("overlap", t.fOverlap);
      else
        j.Field("early_stopping", !t.fToStopRules);
      if (!t.fLeftOut.empty()) j.Field("left_out", t.fLeftOut);
      j.Field("mean_held_out_loss", t.fLoss);
      j.Field("seconds", t.fSeconds);
      j.Field("kept", t.fKept);
      j.EndObject();
    }
    j.EndArray();
    j.Key("kept_because");
    if (s.fKeptBecause.empty())
      j.Null();
    else
      j.String(s.fKeptBecause);
    j.EndObject();
  }
  j.EndArray();
}

// "networks_compared" (an array), "comparison_baseline_loss" and
// "comparison_kept_because"; all three null without a comparison.
void NetworksComparedJson(JsonWriter& j, const NetworkComparison& c) {
  j.Key("networks_compared");
  if (c.fNetworks.empty()) {
    j.Null();
    j.Key("comparison_baseline_loss").Null();
    j.Key("comparison_kept_because").Null();
    return;
  }
  j.BeginArray();
  for (const ComparedNetwork& n : c.fNetworks) {
    j.BeginObject();
    j.Field("network", n.fName);
    if (!n.fLeftOut.empty()) {
      j.Field("left_out", n.fLeftOut);
      j.EndObject();
      continue;
    }
    j.Field("kept", n.fKept);
    j.Field("hidden_units", n.fHiddenUnits);
    j.Field("seconds", n.fSeconds);
    j.Field("held_out_loss", n.fLoss);
    j.Key("test").BeginArray();
    for (const TargetFigures& f : n.fTest) {
      j.BeginObject();
      j.Field("name", f.fName);
      if (f.fCategorical)
        j.Field("accuracy", Fraction(f.fPercentCorrect));
      else
        j.Field("relative_error", f.fRelativeError);
      j.EndObject();
    }
    j.EndArray();
    j.EndObject();
  }
  j.EndArray();
  j.Field("comparison_baseline_loss", c.fBaselineLoss);
  j.Field("comparison_kept_because", c.fKeptBecause);
}

void TargetJson(JsonWriter& j, const TargetFigures& t) {
  j.BeginObject();
  if (t.fCategorical)
    CategoricalFiguresJson(j, t);
  else
    j.Field("relative_error", t.fRelativeError);
  j.EndObject();
}

void TargetsJson(JsonWriter& j, const TrainSummary& s) {
  j.Key("targets").BeginArray();
  for (const TargetPair& p : s.fTargetFigures) {
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
    if (p.fTest)
      TargetJson(j, *p.fTest);
    else
      j.Null();
    j.EndObject();
  }
  j.EndArray();
}

void ImportanceJson(JsonWriter& j, const TrainSummary& s) {
  j.Key("importance").BeginArray();
  for (const auto& imp : s.fImportance) {
    j.BeginObject();
    j.Field("input", imp.first);
    j.Field("importance", imp.second);
    j.EndObject();
  }
  j.EndArray();
  // The records the importance came from (a fixed-seed sample when fewer
  // than the model's); both null without importance.
  j.Key("importance_records");
  if (s.fImportanceRecords)
    j.Integer(*s.fImportanceRecords);
  else
    j.Null();
  j.Key("importance_of_records");
  if (s.fImportanceOf)
    j.Integer(*s.fImportanceOf);
  else
    j.Null();
}

void TimeJson(JsonWriter& j, const TimeLine& t) {
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
}

}  // namespace

void WriteTrainJson(std::ostream& out, const TrainSummary& s) {
  JsonWriter j(out);
  j.BeginObject();
  DataJson(j, s);
  ShapeJson(j, s.fNetwork);
  TrainingJson(j, s);
  SizeSelectionsJson(j, s.fSizeSelections);
  NetworksComparedJson(j, s.fComparison);
  TargetsJson(j, s);
  ImportanceJson(j, s);
  TimeJson(j, s.fTime);
  if (s.fSaved.fPath.empty()) {
    j.Key("model_file").Null();
  } else {
    j.Field("model_file", s.fSaved.fPath);
    j.Field("model_format", Lower(FormatName(s.fSaved.fFormat)));
  }
  j.EndObject();
}

}  // namespace vxnn
