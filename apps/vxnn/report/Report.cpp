#include "report/Report.h"

namespace vxnn {

void PrintTrainSummary(std::ostream& out, const TrainResult& result, const SavedAs& saved) {
  PrintTrainSummary(out, SummarizeTraining(result, saved));
}

void PrintTimeLine(std::ostream& out, const TrainResult& result) {
  PrintTimeLine(out, TimeLineOf(result));
}

void WriteTrainJson(std::ostream& out, const TrainResult& result, const SavedAs& saved) {
  WriteTrainJson(out, SummarizeTraining(result, saved));
}

void PrintEval(std::ostream& out, const NNVarList& list, const EvalResult& result) {
  PrintEval(out, SummarizeEval(list, result));
}

void WriteEvalJson(std::ostream& out, const NNVarList& list, const EvalResult& result) {
  WriteEvalJson(out, SummarizeEval(list, result));
}

void PrintModel(std::ostream& out, const std::string& path, ModelFormat format,
                const INeuralAlgorithm& algorithm) {
  PrintModel(out, SummarizeModel(path, format, algorithm));
}

void WriteModelJson(std::ostream& out, const std::string& path, ModelFormat format,
                    const INeuralAlgorithm& algorithm,
                    const std::function<void(JsonWriter&)>& more) {
  WriteModelJson(out, SummarizeModel(path, format, algorithm), more);
}

std::string DescribeNetwork(const INeuralAlgorithm& algorithm) {
  return NetworkText(ShapeOf(algorithm));
}

}  // namespace vxnn
