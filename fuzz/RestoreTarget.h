// The body of the four restore targets (MLP or RBF factory, binary or XML
// stream). Each input is taken as a saved model and restored twice: in two
// steps, the way a host does it (read the variable list, build record sources
// that match it, finish), and in one step over the same sources. The
// answers must keep the factory's promises:
//   - no algorithm comes with an error status whose code is one the factory
//     documents, and never with a non-error status, except that an XML
//     document that does not even begin as a saved model gives no algorithm
//     with the status untouched;
//   - a first step that refused leaves nothing kept, so the second step
//     answers 50017 (or 50016 when the stream is spent);
//   - a restored algorithm is whole: it is of the factory's kind, scores the
//     records, measures its error, displays itself, and what it saves in
//     either form restores again.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCommon.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLStream.h"
#include "vxneural/algorithm/INeuralAlgorithm.h"
#include "vxneural/variables/NNVarList.h"

namespace fuzz {

using VXCommon_1_2::Record;
using VXCommon_1_2::VectorRecordIter;
using VXCommon_1_2::VXStatus;

// Codes a restore may answer with when it gives no algorithm: its own
// refusals, those of the data preparation and those of the algorithm's
// construction.
inline bool DocumentedRestoreRefusal(const VXStatus& status) {
  static const std::set<int> codes = {5,     50001, 50002, 50004, 50006, 50007, 50008, 50009,
                                      50010, 50011, 50012, 50014, 50015, 50016, 50017, 50019};
  return status.IsError() && codes.count(status.GetErrorCode()) == 1;
}

inline bool BeginsAsDocument(const std::string& bytes) {
  std::istringstream in(bytes);
  return VXXML_1_2::ParseStartXML(in);
}

// Raw records for a saved variable list, one field per variable: continuous
// fields run through ordinary, extreme and missing values, categorical ones
// through their codes and one code past the last.
inline std::vector<Record> RawRecordsFor(const NNVarList& list) {
  static const double kValues[] = {0.0, 1.0, -2.5, 1e6, 0.25, VXMV::gMissingValue};
  const int nRecords = 6;
  std::vector<Record> records;
  for (int r = 0; r < nRecords; ++r) {
    Record record(static_cast<int>(list.Size()));
    for (int v = 0; v < static_cast<int>(list.Size()); ++v) {
      const INNVariable* var = list.GetVarAt(v);
      if (var->GetMeasureLevel() == INNVariable::kContinuous) {
        record[v] = kValues[(r + v) % nRecords];
      } else {
        const int n = var->GetNumberOfCategories();
        record[v] = n > 0 ? (r + v) % (n + 1) : 0.0;
      }
    }
    records.push_back(std::move(record));
  }
  return records;
}

// The scoring record of a raw record: the inputs' fields alone, in list
// order, as Score takes them.
inline Record InputsOf(const NNVarList& list, const Record& raw) {
  std::vector<double> inputs;
  for (int v = 0; v < static_cast<int>(list.Size()) && v < raw.Size(); ++v)
    if (list.GetVariableRole(v) == INNVariable::kInput) inputs.push_back(raw[v]);
  return Record(inputs);
}

// Encoded records for a model saved without a variable list: the settings
// give the width (inputs, then one unit per continuous target or per
// category). Widths beyond what a stream of this size could describe get no
// records; the restore refuses such settings before it reads records.
template <class Settings>
std::vector<Record> EncodedRecordsFor(const std::string& bytes, bool xml) {
  Settings settings;
  std::istringstream in(bytes);
  if (xml && !VXXML_1_2::ParseStartXML(in)) return {};
  if (!Reads([&] { xml ? settings.ReadObjectXML(in) : settings.ReadObject(in); })) return {};
  long long width = settings.GetNumInputs();
  for (int n : settings.GetNumOutCategories()) width += n;
  if (width <= 0 || width > 4096) return {};
  std::vector<Record> records;
  for (int r = 0; r < 6; ++r) {
    Record record(static_cast<int>(width));
    for (int u = 0; u < static_cast<int>(width); ++u) record[u] = ((r + u) % 3) * 0.5;
    records.push_back(std::move(record));
  }
  return records;
}

// Restores bytes as a model of Factory (whose settings are Settings).
// resaved: bytes are what a restored model saved, so both restores must
// succeed; the model that comes back is not saved again.
template <class Factory, class Settings>
class Restorer {
 public:
  Restorer(bool xml, VXNNCommon::AlgorithmType kind) : fXml(xml), fKind(kind) {}

  // The two-step restore, then the one-step restore with the same records.
  void Run(const std::string& bytes, bool resaved) const {
    std::vector<Record> records;
    {
      Factory factory;
      std::istringstream in(bytes);
      const NNVarList* list =
          fXml ? factory.RestoreNNVarListFromXML(in) : factory.RestoreNNVarListFromBinary(in);
      const VXStatus first = factory.GetStatus();
      const bool started = !first.IsError() && (!fXml || BeginsAsDocument(bytes));
      if (first.IsError())
        Check(list == nullptr &&
                  (first.GetErrorCode() == (fXml ? 50007 : 50006) || first.GetErrorCode() == 50016),
              "a refused first step gives no list and answers 50006/50007 or 50016");
      if (list != nullptr) {
        records = RawRecordsFor(*list);
      } else if (started) {
        records = EncodedRecordsFor<Settings>(bytes, fXml);
      }
      if (records.empty()) records.push_back(Record(1));
      VectorRecordIter train = VectorRecordIter::Borrow(records);
      VectorRecordIter test = VectorRecordIter::Borrow(records);
      const int notStarted = in.good() ? 50017 : 50016;  // the stream is checked first
      INeuralAlgorithm* algorithm =
          fXml ? factory.FinishRestoringAlgorithmFromXML(in, train, &test)
               : factory.FinishRestoringAlgorithmFromBinary(in, train, &test);
      if (!started)
        Check(algorithm == nullptr && factory.GetStatus().GetErrorCode() == notStarted,
              "finishing after a refused first step answers 50017 (50016 at the stream's end)");
      Answer(factory, algorithm, bytes, records, resaved);
    }
    Factory factory;
    std::istringstream in(bytes);
    VectorRecordIter train = VectorRecordIter::Borrow(records);
    VectorRecordIter test = VectorRecordIter::Borrow(records);
    Answer(factory,
           fXml ? factory.RestoreNeuralAlgorithmFromXML(in, train, &test)
                : factory.RestoreNeuralAlgorithmFromBinary(in, train, &test),
           bytes, records, resaved);
  }

 private:
  void Answer(const Factory& factory, INeuralAlgorithm* algorithm, const std::string& bytes,
              std::vector<Record>& records, bool resaved) const {
    const VXStatus status = factory.GetStatus();
    if (algorithm == nullptr) {
      Check(!resaved, "what a restored model saved restores again");
      const bool untouched = fXml && status == VXStatus() && !BeginsAsDocument(bytes);
      Check(untouched || DocumentedRestoreRefusal(status),
            "a refused restore answers with a documented error code");
      return;
    }
    std::unique_ptr<INeuralAlgorithm> owned(algorithm);
    Check(!status.IsError() && !algorithm->GetStatus().IsError(),
          "a restored algorithm comes with no error status");
    Check(algorithm->GetAlgorithmType() == fKind, "the factory restores its own kind of model");
    const NNVarList* list = algorithm->GetVarList();
    for (const Record& record : records)
      algorithm->Score(list != nullptr ? InputsOf(*list, record) : record);
    VectorRecordIter source = VectorRecordIter::Borrow(records);
    algorithm->GetErrorOnData(source, static_cast<int>(records.size()));
    std::ostringstream display;
    algorithm->Display(display);
    if (resaved) return;
    std::ostringstream saved;
    const VXStatus save = fXml ? algorithm->SaveStateXML(saved) : algorithm->SaveState(saved);
    if (save.IsOK()) Run(saved.str(), true);
  }

  bool fXml;
  VXNNCommon::AlgorithmType fKind;
};

}  // namespace fuzz

// One restore target: define the fuzzer's entry points for a factory, its
// settings, the stream form and the kind of model.
#define VXNN_RESTORE_TARGET(FACTORY, SETTINGS, XML, KIND)                              \
  extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) { \
    fuzz::Restorer<FACTORY, SETTINGS>(XML, KIND).Run(fuzz::Bytes(data, size), false);  \
    return 0;                                                                          \
  }
