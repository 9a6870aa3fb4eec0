#include <map>
#include <memory>

#include "Commands.h"
#include "Records.h"
#include "Report.h"
#include "StructureView.h"

namespace vxnn {

VXCommon_1_2::VectorRecordIter EvalRecords(const NNVarList& list, const std::string& dataPath,
                                           EvalResult& result) {
  const CsvTable table = ReadCsvFile(dataPath);
  const RecordMaker maker(list, table.fHeader, true, dataPath);
  result.fDataPath = dataPath;
  result.fRecordsRead = table.fRows.size();
  std::vector<VXCommon_1_2::Record> records;
  std::map<CellProblem, int> problems;
  VXCommon_1_2::Record r;
  for (const auto& row : table.fRows) {
    if (const RecordIssue issue = maker.Make(row, r, true))
      ++problems[issue.fProblem];
    else
      records.push_back(r);
  }
  result.fLeftOut.assign(problems.begin(), problems.end());
  if (records.empty())
    throw InputError(dataPath + ": no record can be evaluated" +
                     (result.fLeftOut.empty() ? std::string(" (the file has none)")
                                              : " (" + LeftOutText(result.fLeftOut) + ")"));
  return VXCommon_1_2::VectorRecordIter(std::move(records));
}

int RunEval(const std::string& modelPath, const std::string& dataPath, bool json, std::ostream& out,
            std::ostream& err) {
  LoadedModel model = LoadModel(modelPath);
  const NNVarList& list = model.VarList();
  EvalResult result;
  result.fModelPath = modelPath;
  VXCommon_1_2::VectorRecordIter source = EvalRecords(list, dataPath, result);
  result.fFigures = Evaluate(*model.fAlgorithm, source);
  if (!result.fLeftOut.empty())
    err << "vxnn: " << LeftOutText(result.fLeftOut) << " left out of the evaluation\n";
  if (json)
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
