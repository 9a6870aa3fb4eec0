// `vxnn report`: a saved model measured on a CSV file, as a page.
#include <cstdio>
#include <sstream>

#include "commands/Commands.h"
#include "data/RowRecords.h"
#include "report/HtmlReport.h"
#include "report/Report.h"

namespace vxnn {

int RunReport(const ReportCommand& c, std::ostream& out, std::ostream& err) {
  CheckOutputPaths({{"--output", c.fOutput}});
  LoadedModel model = LoadModel(c.fModel);
  const NNVarList& list = model.VarList();
  EvalResult result;
  const EvalSource source = MeasureOnFile(model, c.fModel, c.fData, c.fMissingInputs,
                                          c.fUnknownCategories, "report", result, err);

  ReportPage p;
  p.fTitle = "vxnn model " + c.fModel + " on " + c.fData;
  p.fSubtitle = DescribeNetwork(*model.fAlgorithm) + "; measured on " +
                std::to_string(result.fFigures.fRecords) + " records";
  std::ostringstream summary;
  PrintModel(summary, c.fModel, model.fFormat, *model.fAlgorithm);
  summary << "\n";
  PrintEval(summary, list, result);
  p.fSummaryText = summary.str();
  p.fStructure.reset(model.fAlgorithm->GetStructure());
  p.fTargets = TargetsOf(list, result.fFigures.fStats);
  for (const TargetFigures& t : p.fTargets) {
    char figure[48];
    std::snprintf(figure, sizeof figure, t.fCategorical ? "%.4g%% correct" : "rel. error %.4g",
                  t.fCategorical ? t.fPercentCorrect : t.fRelativeError);
    p.fHeadline.emplace_back(t.fName, figure);
  }
  p.fFiguresOn = "the " + std::to_string(result.fFigures.fRecords) + " records of " + c.fData;
  p.fScatter = PredictedVsActual(*model.fAlgorithm, list, *source.fRecords);

  // The saved form keeps no training records, so the importance is computed
  // over the page's own data: the model is restored once more over its
  // first records, as its training records.
  std::vector<std::pair<CellProblem, int>> leftOut;
  const LoadedModel over = LoadModelWithImportance(
      c.fModel, ImportanceRecords(c.fData, c.fMissingInputs, c.fUnknownCategories,
                                  c.fImportanceRecords, leftOut));
  std::vector<double> importance;
  const VXCommon_1_2::VXStatus status = over.fAlgorithm->ComputeSensitivity(importance);
  if (status.IsOK() && !importance.empty()) {
    p.fImportance = RankImportance(list, importance);
    p.fImportanceNote =
        "Computed over the first " + std::to_string(over.fSource->Count()) +
        " complete records of " + c.fData +
        (leftOut.empty() ? std::string() : " (left out: " + LeftOutText(leftOut) + ")") + ".";
  } else {
    p.fImportanceNote = "Could not be computed for this model (status " +
                        std::to_string(status.GetErrorCode()) + ").";
  }
  p.fCurveNote =
      "The error per data pass is recorded while a model trains and is not kept in the saved "
      "model: train with --report FILE to see it.";
  SaveHtmlReport(p, c.fOutput, out);
  // Not after a page on standard output, which it would end.
  (IsStandardOutput(c.fOutput) ? err : out) << "Report written to " << c.fOutput << "\n";
  return 0;
}

}  // namespace vxnn
