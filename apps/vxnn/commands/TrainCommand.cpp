#include <sstream>

#include "commands/Commands.h"
#include "report/HtmlReport.h"
#include "report/Report.h"

namespace vxnn {

std::string DefaultModelPath(const std::string& dataPath) {
  std::string name = dataPath.substr(dataPath.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  if (name.empty()) name = "vxnn";
  return name + ".model";
}

int RunTrain(const TrainCommand& command, std::ostream& out, std::ostream& err) {
  TrainCommand c = command;
  const VXNeural::PassCombiner* combiner = c.fTrain.fCombiner;
  if (combiner && combiner->Rank() != 0) {
    // In a --distributed run the first process alone writes: the model,
    // the summaries and the progress. The others train the same model.
    c.fSave = false;
    c.fSummaryJson.clear();
    c.fReport.clear();
    c.fProgress = false;
  }
  const std::string modelPath =
      c.fSave ? (c.fModelPath.empty() ? DefaultModelPath(c.fData) : c.fModelPath) : std::string();
  // Refused before the training, not after it.
  CheckOutputPaths(
      {{"--model", modelPath}, {"--summary-json", c.fSummaryJson}, {"--report", c.fReport}});
  // With a file on standard output the summary goes to standard error.
  const bool toStandardOutput = IsStandardOutput(modelPath) || IsStandardOutput(c.fSummaryJson) ||
                                IsStandardOutput(c.fReport);
  std::ostream& said = toStandardOutput ? err : out;
  ProgressBar progress(err, c.fProgress && ProgressBar::StderrIsTerminal());
  InterruptGuard guard;
  // The file is streamed: read again on every pass rather than held.
  const std::unique_ptr<TrainResult> result =
      TrainModel(FileOpener(c.fData), c.fTrain, progress, false);

  SavedAs saved;
  if (c.fSave) {
    const JobClock::Scope saving = result->fTimes.Enter(Phase::kSaving);
    saved.fPath = modelPath;
    saved.fFormat = c.fFormat;
    SaveModel(*result->fAlgorithm, saved.fPath, saved.fFormat, out);
  }
  // Every form of the summary shows the same times.
  result->fTimes.Stop();
  const TrainSummary summary = SummarizeTraining(*result, saved);
  if (!c.fSummaryJson.empty()) {
    std::ostringstream json;
    WriteTrainJson(json, summary);
    WriteOutput(c.fSummaryJson, json.str(), out, "cannot write the summary");
  }
  if (!c.fReport.empty())
    SaveHtmlReport(TrainingReport(*result, saved, progress.TrainingSteps()), c.fReport, out);
  if (c.fJson)
    WriteTrainJson(said, summary);
  else
    PrintTrainSummary(said, summary);
  if (!c.fJson && !c.fReport.empty()) said << "Report written to " << c.fReport << "\n";
  return 0;
}

}  // namespace vxnn
