#include "model/ModelFile.h"

#include <climits>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>

#include "data/CsvTable.h"
#include "data/OutputFile.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/algorithm/MLPSettings.h"
#include "vxneural/algorithm/RBFSettings.h"
#include "vxneural/variables/NNContVar.h"

namespace vxnn {

namespace {

// Collects what the library writes to std::cerr while it lives. One
// capture at a time in the process: std::cerr is one stream, and captures
// on several threads at once (the processes of a --distributed test played
// by threads, or a host's own threads) would put back each other's buffers
// out of order and leave std::cerr writing into a freed one.
class CerrCapture {
 public:
  CerrCapture() : fPrevious(std::cerr.rdbuf(fBuffer.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(fPrevious); }
  CerrCapture(const CerrCapture&) = delete;
  CerrCapture& operator=(const CerrCapture&) = delete;
  // The first line written, without its end.
  std::string FirstLine() const {
    const std::string s = fBuffer.str();
    return s.substr(0, s.find('\n'));
  }

 private:
  static std::recursive_mutex& Lock() {
    static std::recursive_mutex lock;
    return lock;
  }
  // Declared first: held from before the swap to after it is undone.
  std::lock_guard<std::recursive_mutex> fHeld{Lock()};
  std::ostringstream fBuffer;
  std::streambuf* fPrevious;
};

std::string StatusText(const VXCommon_1_2::VXStatus& status) {
  return "status " + std::to_string(status.GetErrorCode());
}

RecordSource SyntheticSource(const NNVarList& list) {
  VXCommon_1_2::Record r(static_cast<int>(list.Size()));
  for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
    const auto* cont = dynamic_cast<const NNContVar*>(list.GetVarAt(v));
    r[v] = cont ? cont->GetMean() : 0.0;
  }
  return std::make_unique<VXCommon_1_2::VectorRecordIter>(std::vector<VXCommon_1_2::Record>{r});
}

}  // namespace

const char* FormatName(ModelFormat format) {
  return format == ModelFormat::kXML ? "XML" : "binary";
}

void SaveModel(const INeuralAlgorithm& algorithm, const std::string& path, ModelFormat format,
               std::ostream& standardOutput) {
  OutputFile file(path, standardOutput, "cannot write the model file");
  std::ostream& out = file.Stream();
  VXCommon_1_2::VXStatus status =
      format == ModelFormat::kXML ? algorithm.SaveStateXML(out) : algorithm.SaveState(out);
  out.flush();
  if (!out) status = VXCommon_1_2::VXStatus(50016, false);
  if (!status.IsOK())
    throw InputError(path + ": the model could not be saved (" + StatusText(status) + ")");
  file.Commit();
}

namespace {

// The form and kind told by the first bytes of a saved model.
ModelType TypeOfHead(const std::string& start, const std::string& name) {
  if (start.empty()) throw InputError(name + ": the model file is empty");
  if (start.compare(0, 6, "MLPSet") == 0) return {ModelFormat::kBinary, NetworkKind::kMLP};
  if (start.compare(0, 6, "RBFSet") == 0) return {ModelFormat::kBinary, NetworkKind::kRBF};
  const std::size_t first = start.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && start.compare(first, 5, "<?xml") == 0) {
    const std::string object = "<object name=\"";
    const std::size_t at = start.find(object);
    const std::size_t objectName = at == std::string::npos ? at : at + object.size();
    if (objectName != std::string::npos && start.compare(objectName, 12, "RBFSettings\"") == 0)
      return {ModelFormat::kXML, NetworkKind::kRBF};
    // Anything else is left to the perceptron's reader, which names what
    // it could not read.
    return {ModelFormat::kXML, NetworkKind::kMLP};
  }
  throw InputError(name + ": not a vxnn model file");
}

// Enough for the XML declaration, the document type, the root and its
// notice before the first object.
constexpr std::size_t kHeadBytes = 1024;

}  // namespace

ModelType DetectModelType(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot open the model file");
  char head[kHeadBytes] = {};
  in.read(head, sizeof head);
  return TypeOfHead(std::string(head, static_cast<std::size_t>(in.gcount())), path);
}

namespace {

// The two steps of a restore from in, over the source makeSource builds for
// the saved variable list.
void Restore(LoadedModel& model, std::istream& in, const std::string& path,
             const RecordsFor& makeSource) {
  const bool xml = model.fFormat == ModelFormat::kXML;
  const std::unique_ptr<ModelFactory> factory = FactoryFor(model.fKind);
  CerrCapture capture;
  const NNVarList* list = factory->RestoreVarList(in, xml);
  const auto unreadable = [&](const VXCommon_1_2::VXStatus& status) {
    const std::string said = capture.FirstLine();
    return InputError(path + ": the model file is damaged or not a model (" +
                      (said.empty() ? StatusText(status) : said) + ")");
  };
  if (!factory->GetStatus().IsOK()) throw unreadable(factory->GetStatus());
  if (list == nullptr)
    throw InputError(path +
                     ": the model has no description of its fields, so vxnn cannot read "
                     "data for it");
  model.fSource = makeSource(*list);
  model.fAlgorithm.reset(factory->FinishRestoring(in, xml, *model.fSource));
  if (!model.fAlgorithm) throw unreadable(factory->GetStatus());
  if (KindOf(model.fAlgorithm->GetAlgorithmType()) != model.fKind ||
      !model.fAlgorithm->GetVarList())
    throw InputError(path + ": not a model with a description of its fields");
  if (model.fAlgorithm->GetAlgorithmStatus() != VXNNCommon::kTrained)
    throw InputError(path + ": the model has not been trained");
}

}  // namespace

LoadedModel LoadModel(const std::string& path) {
  LoadedModel model;
  const ModelType type = DetectModelType(path);
  model.fFormat = type.fFormat;
  model.fKind = type.fKind;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot open the model file");
  Restore(model, in, path, SyntheticSource);
  return model;
}

LoadedModel LoadModelFromBytes(const std::string& bytes, const std::string& name) {
  LoadedModel model;
  const ModelType type = TypeOfHead(bytes.substr(0, kHeadBytes), name);
  model.fFormat = type.fFormat;
  model.fKind = type.fKind;
  std::istringstream in(bytes);
  Restore(model, in, name, SyntheticSource);
  return model;
}

LoadedModel LoadModelWithImportance(const std::string& path, const RecordsFor& records) {
  const LoadedModel saved = LoadModel(path);
  LoadedModel model = CopyWithImportance(*saved.fAlgorithm, saved.fKind, path, records);
  model.fFormat = saved.fFormat;
  return model;
}

LoadedModel CopyWithImportance(const INeuralAlgorithm& trained, NetworkKind kind,
                               const std::string& path, const RecordsFor& records) {
  // The model is restored once more from its binary form, whatever form the
  // file has, with its settings rewritten in front of the rest.
  std::ostringstream bytes;
  if (!trained.SaveState(bytes).IsOK()) throw InputError(path + ": the model cannot be read back");
  const std::string stream = bytes.str();
  std::unique_ptr<NeuralSettings> settings;
  if (kind == NetworkKind::kRBF)
    settings = std::make_unique<RBFSettings>();
  else
    settings = std::make_unique<MLPSettings>();
  std::istringstream in(stream);
  try {
    CerrCapture quiet;
    settings->ReadObject(in);
  } catch (VXNeural::IOException* e) {
    delete e;
    throw InputError(path + ": the model's settings cannot be read back");
  }
  const std::streamoff rest = in.tellg();
  if (rest < 0) throw InputError(path + ": the model's settings cannot be read back");

  RecordSource source;
  if (records) {
    source = records(*trained.GetVarList());
    const long n = static_cast<long>(source->Count());
    if (n <= 0 || n > INT_MAX) throw InputError(path + ": no records to compute importance from");
    // Every record given counts, and nothing else.
    settings->SetNTrainRecords(static_cast<int>(n));
    settings->SetNTestRecords(0);
  }
  settings->SetComputeSensitivity(static_cast<bool>(records));
  std::ostringstream patched;
  settings->WriteObject(patched);
  patched.write(stream.data() + rest, static_cast<std::streamsize>(stream.size()) - rest);

  LoadedModel model;
  model.fFormat = ModelFormat::kBinary;
  model.fKind = kind;
  std::istringstream again(patched.str());
  Restore(model, again, path, [&](const NNVarList& list) {
    return source ? std::move(source) : SyntheticSource(list);
  });
  return model;
}

}  // namespace vxnn
