// The text and the JSON summary of `vxnn eval`, from the EvalSummary alone.
#include "report/EvalSummary.h"
#include "report/Format.h"

namespace vxnn {

void PrintEval(std::ostream& out, const EvalSummary& s) {
  out << "Model " << s.fModelFile << " on " << s.fDataFile << ": "
      << Plural(s.fEvaluatedRecords, "record") << " evaluated of " << s.fRecords << "\n";
  const std::string leftOut = LeftOutText(s.fLeftOut);
  if (!leftOut.empty()) out << "  left out: " << leftOut << "\n";
  if (s.fImputed.fImputedCells > 0)
    out << "  missing inputs filled in (training mean, or most frequent category): "
        << ImputedText(s.fImputed, "") << "\n";
  if (s.fImputed.fUnknownCells > 0)
    out << "  unknown values filled in (a new category, or text in a numeric column; most "
           "frequent training category, or training mean): "
        << Plural(s.fImputed.fUnknownCells, "input") << " in "
        << Plural(s.fImputed.fUnknownRecords, "record") << "\n";
  if (s.fEvaluatedRecords == 0) return;
  out << "Error (summed over records): " << General(s.fTotalError) << "\n";
  for (const TargetFigures& t : s.fTargets) {
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

void WriteEvalJson(std::ostream& out, const EvalSummary& s) {
  JsonWriter j(out);
  j.BeginObject();
  j.Field("model_file", s.fModelFile);
  j.Field("data_file", s.fDataFile);
  j.Field("records", s.fRecords);
  j.Field("evaluated_records", s.fEvaluatedRecords);
  j.Key("left_out");
  LeftOutJson(j, s.fLeftOut);
  j.Key("imputed");
  ImputedJson(j, s.fImputed);
  j.Key("unknown_categories_imputed").BeginObject();
  j.Field("inputs", s.fImputed.fUnknownCells);
  j.Field("records", s.fImputed.fUnknownRecords);
  j.EndObject();
  j.Field("total_error", s.fTotalError);
  j.Key("targets").BeginArray();
  for (const TargetFigures& t : s.fTargets) {
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
  j.EndArray();
  j.EndObject();
}

}  // namespace vxnn
