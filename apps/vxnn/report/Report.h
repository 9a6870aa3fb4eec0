// What the commands print: the training summary, the figures of a model on
// a data set and the description of a saved model, as text or as JSON.
// Each is a summary structure made from the command's result
// (TrainSummary.h, EvalSummary.h, ModelSummary.h) and written by a text
// and a JSON writer that read only that structure; the functions here make
// the summary and write it in one call.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "model/ModelFile.h"
#include "report/EvalSummary.h"
#include "report/Figures.h"
#include "report/Json.h"
#include "report/ModelSummary.h"
#include "report/TrainSummary.h"
#include "training/Training.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/variables/NNVarList.h"

namespace vxnn {

void PrintTrainSummary(std::ostream& out, const TrainResult& result, const SavedAs& saved);
void PrintTimeLine(std::ostream& out, const TrainResult& result);
void WriteTrainJson(std::ostream& out, const TrainResult& result, const SavedAs& saved);

void PrintEval(std::ostream& out, const NNVarList& list, const EvalResult& result);
void WriteEvalJson(std::ostream& out, const NNVarList& list, const EvalResult& result);

void PrintModel(std::ostream& out, const std::string& path, ModelFormat format,
                const INeuralAlgorithm& algorithm);
// more, when given, adds members at the end of the model's object.
void WriteModelJson(std::ostream& out, const std::string& path, ModelFormat format,
                    const INeuralAlgorithm& algorithm,
                    const std::function<void(JsonWriter&)>& more = {});

// "MLP, 4 input units, hidden layer of 3 units (...), ...": the network in words.
std::string DescribeNetwork(const INeuralAlgorithm& algorithm);

}  // namespace vxnn
