#include <map>
#include <memory>

#include "commands/Commands.h"
#include "data/Records.h"
#include "data/RowRecords.h"
#include "report/Report.h"
#include "report/StructureView.h"

namespace vxnn {

EvalSource EvalRecords(const NNVarList& list, const std::string& dataPath, MissingInputs missing,
                       UnknownCategories unknown, EvalResult& result) {
  // One pass to count the usable records here, the others for the library:
  // the file is never held in memory.
  auto rows = std::make_unique<CsvFileRows>(dataPath);
  EvalSource source;
  source.fMaker =
      std::make_unique<RecordMaker>(list, rows->Header(), true, dataPath, missing, unknown);
  source.fRecords = std::make_unique<RowRecordIter>(std::move(rows), *source.fMaker, true,
                                                    std::nullopt, RowSide::kAll);
  result.fDataPath = dataPath;
  result.fImputed = ReadAll(*source.fRecords);
  const PassCounts& counts = result.fImputed;
  result.fLeftOut.assign(counts.fLeftOut.begin(), counts.fLeftOut.end());
  result.fRecordsRead = counts.fKept;
  for (const auto& p : result.fLeftOut) result.fRecordsRead += static_cast<std::size_t>(p.second);
  if (counts.fKept == 0)
    throw InputError(dataPath + ": no record can be evaluated" +
                     (result.fLeftOut.empty() ? std::string(" (the file has none)")
                                              : " (" + LeftOutText(result.fLeftOut) + ")"));
  return source;
}

EvalSource MeasureOnFile(LoadedModel& model, const std::string& modelPath,
                         const std::string& dataPath, MissingInputs missing,
                         UnknownCategories unknown, const char* what, EvalResult& result,
                         std::ostream& err) {
  result.fModelPath = modelPath;
  EvalSource source = EvalRecords(model.VarList(), dataPath, missing, unknown, result);
  result.fFigures =
      Evaluate(*model.fAlgorithm, *source.fRecords, static_cast<int>(result.fImputed.fKept));
  if (!result.fLeftOut.empty())
    err << "vxnn: " << LeftOutText(result.fLeftOut) << " left out of the " << what << "\n";
  return source;
}

int RunEval(const EvalCommand& c, std::ostream& out, std::ostream& err) {
  LoadedModel model = LoadModel(c.fModel);
  const NNVarList& list = model.VarList();
  EvalResult result;
  MeasureOnFile(model, c.fModel, c.fData, c.fMissingInputs, c.fUnknownCategories, "evaluation",
                result, err);
  if (c.fJson)
    WriteEvalJson(out, list, result);
  else
    PrintEval(out, list, result);
  return 0;
}

int RunInspect(const std::string& modelPath, bool json, bool weights, std::ostream& out) {
  const LoadedModel model = LoadModel(modelPath);
  const std::unique_ptr<NNStructure> structure(model.fAlgorithm->GetStructure());
  if (json) {
    WriteModelJson(out, modelPath, model.fFormat, *model.fAlgorithm,
                   [&](JsonWriter& j) { WriteStructureJson(j, *structure, weights); });
  } else {
    PrintModel(out, modelPath, model.fFormat, *model.fAlgorithm);
    PrintStructure(out, *structure, weights);
  }
  return 0;
}

}  // namespace vxnn
