// Saving a trained model to a file and reading it back, in either of the
// library's saved forms.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "model/Factories.h"
#include "vxcommon/Record.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/variables/NNVarList.h"

namespace vxnn {

enum class ModelFormat { kBinary, kXML };

const char* FormatName(ModelFormat format);

// Writes the model to path through OutputFile (all or nothing for a file;
// "-": standardOutput, in either form, so that a model can be piped).
// Throws InputError when the file cannot be written or the algorithm
// refuses to save.
void SaveModel(const INeuralAlgorithm& algorithm, const std::string& path, ModelFormat format,
               std::ostream& standardOutput);

// The form and the kind of a saved model, told by its first bytes: a
// binary model begins with its settings' tag ("MLPSet" or "RBFSet"), an XML
// one with the XML declaration, and its first object is the settings
// ("MLPSettings" or "RBFSettings"). Throws InputError for a file that
// cannot be read or is not a saved model.
struct ModelType {
  ModelFormat fFormat = ModelFormat::kBinary;
  NetworkKind fKind = NetworkKind::kMLP;
};
ModelType DetectModelType(const std::string& path);

// A restored model with the record source it was restored over. The
// library prepares the training source of a restore as if to train, so
// the model is handed one synthetic record (every continuous field at its
// mean, every categorical field at its first category): enough to restore,
// independent of whatever data the model is then used on.
using RecordSource = std::unique_ptr<VXCommon_1_2::VectorRecordIter>;

struct LoadedModel {
  ModelFormat fFormat = ModelFormat::kBinary;
  NetworkKind fKind = NetworkKind::kMLP;
  // Declared before the algorithm, which reads it, so it outlives it.
  RecordSource fSource;
  std::unique_ptr<INeuralAlgorithm> fAlgorithm;

  const NNVarList& VarList() const { return *fAlgorithm->GetVarList(); }
  const NeuralSettings& Settings() const { return *fAlgorithm->GetSettings(); }
};

// Throws InputError, naming the file, for anything but a trained model
// with its variable list. The library's own read-failure message, which it
// writes to standard error, becomes part of that one error line instead.
LoadedModel LoadModel(const std::string& path);
// The same from a saved model held in memory (either form); name stands
// for the file in messages.
LoadedModel LoadModelFromBytes(const std::string& bytes, const std::string& name);

// Raw records for a saved variable list (the caller's, read from its data).
using RecordsFor = std::function<RecordSource(const NNVarList&)>;
// LoadModel for an export, which computes predictor importance when the
// settings ask for it, and computes it from the records the model was
// restored over. With records, the model is restored over them and the
// settings ask for importance from all of them; without, the settings ask
// for none, so that no importance ever comes from the synthetic record.
// Throws InputError as LoadModel does, and when records gives none.
LoadedModel LoadModelWithImportance(const std::string& path, const RecordsFor& records);
// The same for a trained model held by the caller (of the kind given):
// a copy of it over the records, name standing for it in messages. The
// copy's form is binary.
LoadedModel CopyWithImportance(const INeuralAlgorithm& trained, NetworkKind kind,
                               const std::string& name, const RecordsFor& records);

}  // namespace vxnn
