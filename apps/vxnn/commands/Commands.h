// The subcommands. Each returns the process exit code; unusable input ends
// in an InputError (or Interrupted after Ctrl-C) that the caller reports.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "data/OutputFile.h"
#include "model/ModelFile.h"
#include "training/Training.h"

namespace vxnn {

struct TrainCommand {
  std::string fData;
  TrainOptions fTrain;
  std::string fModelPath;  // empty: <data file stem>.model in the working directory
  bool fSave = true;
  ModelFormat fFormat = ModelFormat::kBinary;
  bool fJson = false;        // JSON instead of the text summary
  std::string fSummaryJson;  // also write the JSON summary to this file
  std::string fReport;       // also write the report page to this file
  bool fProgress = true;     // a progress bar when standard error is a terminal
};
int RunTrain(const TrainCommand& command, std::ostream& out, std::ostream& err);

// The model's path when none is given: the data file's name without
// directory and extension, with ".model".
std::string DefaultModelPath(const std::string& dataPath);

struct ScoreCommand {
  std::string fModel;
  std::string fData;
  std::string fOutput;  // empty or "-": standard output
  MissingInputs fMissingInputs = MissingInputs::kImpute;
  UnknownCategories fUnknownCategories = UnknownCategories::kImpute;
  // --distributed: the exchange of the run's processes, each of which
  // scores every size-th piece of kScoreChunkRows rows (from its rank on),
  // while the first writes the one output; null: this process alone.
  VXNeural::PassCombiner* fCombiner = nullptr;
};
// Scores the file in pieces of this many rows, on GetPassThreads() threads
// (a thread of its own for each beside the caller's, which reads and
// writes), with a few pieces per thread in flight: enough that no thread
// waits for another's piece, few enough that memory stays flat. The output
// is the same, byte for byte, for any number of threads.
constexpr std::size_t kScoreChunkRows = 4096;
int RunScore(const ScoreCommand& command, std::ostream& out, std::ostream& err);

// Columns `vxnn score` appends for a model: per target "predicted_<name>",
// and for a categorical one a column per category and one for the winner
// ("probability_<name>_<category>", "probability_<name>"; "output_..."
// instead when the output layer is not SoftMax, whose units are not
// probabilities).
std::vector<std::string> PredictionColumns(const NNVarList& list, bool probabilities);

struct EvalCommand {
  std::string fModel;
  std::string fData;
  bool fJson = false;
  MissingInputs fMissingInputs = MissingInputs::kImpute;
  UnknownCategories fUnknownCategories = UnknownCategories::kImpute;
};
int RunEval(const EvalCommand& command, std::ostream& out, std::ostream& err);

struct EvalResult;
class RecordMaker;
class RowRecordIter;
// The usable records of a data file with its targets, streamed from the
// file on every pass (the maker lives as long as the records). Counts them
// once into the result (data path, records read, left out, imputed, unknown
// categories filled in). Throws InputError when no record can be evaluated.
struct EvalSource {
  std::unique_ptr<RecordMaker> fMaker;
  std::unique_ptr<RowRecordIter> fRecords;
};
EvalSource EvalRecords(const NNVarList& list, const std::string& dataPath, MissingInputs missing,
                       UnknownCategories unknown, EvalResult& result);
// EvalRecords, then the model's figures on those records into the result;
// the records left out are named on err as left out of "the <what>".
EvalSource MeasureOnFile(LoadedModel& model, const std::string& modelPath,
                         const std::string& dataPath, MissingInputs missing,
                         UnknownCategories unknown, const char* what, EvalResult& result,
                         std::ostream& err);
// weights: every unit's weights (an RBF unit's centre and width) too.
int RunInspect(const std::string& model, bool json, bool weights, std::ostream& out);

// The first `limit` rows of a CSV file (every row when limit is 0) that
// make complete records for the model, as the source a saved model is
// restored over to compute its predictor importance; the rows that do not
// are counted in leftOut. Throws InputError when none does.
RecordsFor ImportanceRecords(const std::string& dataPath, MissingInputs missing,
                             UnknownCategories unknown, long limit,
                             std::vector<std::pair<CellProblem, int>>& leftOut);

struct ExportCommand {
  std::string fModel;
  std::string fPmml;
  std::string fStats;  // empty: no statistics document
  // Records for the predictor importance in the PMML document; empty: the
  // document carries no importance.
  std::string fData;
  long fImportanceRecords = kImportanceRecords;
};
// Output paths as OutputFile takes them; with a document on standard
// output the confirmations go to err.
int RunExport(const ExportCommand& command, std::ostream& out, std::ostream& err);
// The error text of a document that cannot be written.
constexpr const char* kDocumentFailure = "cannot write the document";

}  // namespace vxnn
