// `vxnn export`: the PMML document of a saved model and, on request, its
// statistics document.
#include <fstream>
#include <map>
#include <sstream>

#include "commands/Commands.h"
#include "data/Records.h"
#include "report/Report.h"

namespace vxnn {

namespace {

// The whole document is made in memory first, so a refusal leaves no file.
std::string MakeDocument(const LoadedModel& model, const std::string& modelPath, bool stats) {
  std::ostringstream text;
  const VXCommon_1_2::VXStatus status = stats
                                            ? model.fAlgorithm->ExportModelStatXML(text, 0, nullptr)
                                            : model.fAlgorithm->ExportModelXML(text, 0, nullptr);
  if (!status.IsOK() || text.str().empty())
    throw InputError(modelPath + ": the model cannot be exported" +
                     (status.IsOK() ? std::string()
                                    : " (status " + std::to_string(status.GetErrorCode()) + ")"));
  return text.str();
}

}  // namespace

RecordsFor ImportanceRecords(const std::string& dataPath, MissingInputs missing,
                             UnknownCategories unknown, long limit,
                             std::vector<std::pair<CellProblem, int>>& leftOut) {
  return [dataPath, missing, unknown, limit, &leftOut](const NNVarList& list) {
    std::ifstream in(dataPath, std::ios::binary);
    if (!in) throw InputError(dataPath + ": cannot open the file");
    // Streamed: a file of any size costs no more than the records kept.
    CsvReader reader(in, dataPath);
    const RecordMaker maker(list, reader.Header(), true, dataPath, missing, unknown);
    std::vector<VXCommon_1_2::Record> records;
    std::map<CellProblem, int> problems;
    VXCommon_1_2::Record r;
    while (limit <= 0 || static_cast<long>(records.size()) < limit) {
      const std::vector<std::string>* row = reader.Next();
      if (!row) break;
      if (const RecordIssue issue = maker.Make(*row, r, true))
        ++problems[issue.fProblem];
      else
        records.push_back(r);
    }
    leftOut.assign(problems.begin(), problems.end());
    if (records.empty())
      throw InputError(dataPath + ": no record to compute the importance from" +
                       (leftOut.empty() ? std::string(" (the file has none)")
                                        : " (" + LeftOutText(leftOut) + ")"));
    return std::make_unique<VXCommon_1_2::VectorRecordIter>(std::move(records));
  };
}

int RunExport(const ExportCommand& command, std::ostream& out, std::ostream& err) {
  CheckOutputPaths({{"--pmml", command.fPmml}, {"--stats", command.fStats}});
  // A document on standard output is not followed by the confirmations.
  const bool toStandardOutput = IsStandardOutput(command.fPmml) || IsStandardOutput(command.fStats);
  std::ostream& said = toStandardOutput ? err : out;
  std::vector<std::pair<CellProblem, int>> leftOut;
  const LoadedModel model = LoadModelWithImportance(
      command.fModel,
      command.fData.empty()
          ? RecordsFor()
          : ImportanceRecords(command.fData, MissingInputs::kImpute, UnknownCategories::kImpute,
                              command.fImportanceRecords, leftOut));
  // Both documents are made before either file is written.
  const std::string pmml = MakeDocument(model, command.fModel, false);
  const std::string stats =
      command.fStats.empty() ? std::string() : MakeDocument(model, command.fModel, true);
  WriteOutput(command.fPmml, pmml, out, kDocumentFailure);
  said << "PMML written to " << command.fPmml;
  if (!command.fData.empty()) {
    said << ", with predictor importance from " << model.fSource->Count() << " records of "
         << command.fData;
    if (!leftOut.empty()) said << " (left out: " << LeftOutText(leftOut) << ")";
  }
  said << "\n";
  if (!command.fStats.empty()) {
    WriteOutput(command.fStats, stats, out, kDocumentFailure);
    said << "statistics written to " << command.fStats << "\n";
  }
  return 0;
}

}  // namespace vxnn
