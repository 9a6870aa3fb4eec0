#include <fstream>

#include "Commands.h"
#include "HtmlReport.h"
#include "Report.h"

namespace vxnn {

std::string DefaultModelPath(const std::string& dataPath) {
  std::string name = dataPath.substr(dataPath.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  if (name.empty()) name = "vxnn";
  return name + ".model";
}

int RunTrain(const TrainCommand& c, std::ostream& out, std::ostream& err) {
  ProgressBar progress(err, c.fProgress && ProgressBar::StderrIsTerminal());
  InterruptGuard guard;
  // The file is streamed: read again on every pass rather than held.
  const std::unique_ptr<TrainResult> result =
      TrainModel(FileOpener(c.fData), c.fTrain, progress, false);

  SavedAs saved;
  if (c.fSave) {
    saved.fPath = c.fModelPath.empty() ? DefaultModelPath(c.fData) : c.fModelPath;
    saved.fFormat = c.fFormat;
    SaveModel(*result->fAlgorithm, saved.fPath, saved.fFormat);
  }
  if (!c.fSummaryJson.empty()) {
    std::ofstream file(c.fSummaryJson);
    if (file) WriteTrainJson(file, *result, saved);
    if (!file) throw InputError(c.fSummaryJson + ": cannot write the summary");
  }
  if (!c.fReport.empty())
    SaveHtmlReport(TrainingReport(*result, saved, progress.TrainingSteps()), c.fReport);
  if (c.fJson)
    WriteTrainJson(out, *result, saved);
  else
    PrintTrainSummary(out, *result, saved);
  if (!c.fJson && !c.fReport.empty()) out << "Report written to " << c.fReport << "\n";
  return 0;
}

}  // namespace vxnn
