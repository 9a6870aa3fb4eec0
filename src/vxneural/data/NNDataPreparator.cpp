#include "vxneural/data/NNDataPreparator.h"

#include <stdio.h>   // fdopen, P_tmpdir
#include <stdlib.h>  // mkstemp
#include <unistd.h>  // close

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <utility>

#include "network/kernels/KernelTable.h"
#include "persist/Display.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/data/BinaryRecordIterator.h"
#include "vxneural/data/RecordBufferIter.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/variables/INNVariable.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::RecordIterator;
using VXCommon_1_2::VXStatus;

namespace {

constexpr int kTempFileFailed = 50002;
constexpr int kCodeOutOfRange = 50003;
constexpr int kNoRecordWritten = 50004;
constexpr int kInputCountDiffers = 50010;
constexpr int kOutputCountDiffers = 50011;
constexpr int kTrainingSourceNotGood = 50014;
constexpr int kTestSourceNotGood = 50015;
constexpr int kMissingInput = 50018;

// The code of a categorical field, truncated toward zero, or -1 when it
// falls outside 0 .. n-1. The range is tested on the double so that a huge,
// infinite or NaN value never reaches the integer conversion.
int CategoryCode(double value, int n) {
  if (!(value > -1.0 && value < static_cast<double>(n))) return -1;
  return static_cast<int>(value);
}

double Field(const Record& raw, int index) {
  return index < raw.Size() ? raw[index] : VXMV::gMissingValue;
}

double NormalizeWith(const NNLinearEncoder* encoder, double value) {
  // A variable read from a stream that stored no encoder has no mapping:
  // its values pass unchanged, as in standardisation mode 0.
  return encoder != nullptr ? encoder->Normalize(value) : value;
}

// A temporary file being written: closed and deleted on every path unless
// handed over to the iterator that will read it.
class PendingFile {
 public:
  PendingFile(std::FILE* file, std::string name) : fFile(file), fName(std::move(name)) {}
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() {
    if (fFile == nullptr) return;
    std::fclose(fFile);
    std::remove(fName.c_str());
  }
  std::FILE* Get() const { return fFile; }
  const std::string& Name() const { return fName; }
  void Release() { fFile = nullptr; }

 private:
  std::FILE* fFile;
  std::string fName;
};

}  // namespace

struct NNDataPreparator::PassResult {
  int kept = 0;
  bool skipped = false;
  bool sinkFailed = false;
  // The source reported an error before the pass had kept all it wanted.
  bool sourceFailed = false;
};

NNDataPreparator::NNDataPreparator(const NNVarList& varList, const NeuralSettings& settings,
                                   MultiPassRecordIter* trainSource,
                                   MultiPassRecordIter* testSource)
    : fVarList(varList),
      fCancel(settings.GetCancelPointer()),
      fTempFileNameMaker(settings.GetTempFileNameMaker()),
      fTrainSource(trainSource),
      fTestSource(testSource),
      fNVariables(static_cast<int>(fVarList.Size())),
      fRecordWidth(settings.GetNumInputs() + settings.GetNumOutUnits()),
      fNInputUnits(settings.GetNumInputs()),
      fTempFileDir(settings.GetTempFileDir()) {
  int inputOffset = 0;
  int outputOffset = fVarList.GetNumInputs();
  for (int i = 0; i < fNVariables; ++i) {
    const INNVariable* var = fVarList.GetVarAt(i);
    const int n = var->GetNumberOfCategories();
    fCategories.push_back(n);
    switch (var->GetVariableRole()) {
      case INNVariable::kInput:
        fUnitIndex.push_back(inputOffset);
        fInputCategories.push_back(n);
        fInputFields.push_back(i);
        inputOffset += n;
        ++fNInputVars;
        break;
      case INNVariable::kOutput:
        fUnitIndex.push_back(outputOffset);
        outputOffset += n;
        break;
      default:
        fUnitIndex.push_back(-1);
    }
  }
  // Encoding writes unit index + category into a record of the settings'
  // width, so a list laid out differently must not be encoded at all.
  if (inputOffset != fNInputUnits) {
    fLayoutStatus = VXStatus(kInputCountDiffers, false);
  } else if (outputOffset - inputOffset != settings.GetNumOutUnits()) {
    fLayoutStatus = VXStatus(kOutputCountDiffers, false);
  }
  fStatus = fLayoutStatus;

  fVarList.SetupContEncoders(settings.GetStandInputs(), settings.GetStandOutputs());
  // The scoring plan: where each input is read and written. A scoring
  // record holds the inputs alone, so the k-th input is read from field k
  // whatever its place in the list. The continuous inputs' encoders are
  // looked up by RefreshEncoders.
  int unit = 0;
  for (std::size_t k = 0; k < fInputFields.size(); ++k) {
    const int n = fInputCategories[k];
    const int field = static_cast<int>(k);
    if (n == 1)
      fContInputs.push_back({field, unit, nullptr});
    else
      fCatInputs.push_back({field, unit, n});
    unit += n;
  }
  // Room for the encoders and the linear plan once, so that refreshing
  // them never allocates.
  fContEncoders.reserve(static_cast<std::size_t>(fNVariables));
  fLinearRuns.reserve(fContInputs.size());
  fSlopes.reserve(fContInputs.size());
  fIntercepts.reserve(fContInputs.size());
  fSpecialInputs.reserve(fContInputs.size());
}

void NNDataPreparator::RefreshEncoders() const {
  fContEncoders.clear();
  for (int i = 0; i < fNVariables; ++i) {
    if (fCategories[static_cast<std::size_t>(i)] != 1) continue;
    const INNVariable* var = fVarList.GetVarAt(i);
    const INNVariable::VariableRole role = var->GetVariableRole();
    if (role == INNVariable::kInput || role == INNVariable::kOutput)
      fContEncoders.push_back(dynamic_cast<const NNLinearEncoder*>(var->GetEncoder()));
  }
  fLinearRuns.clear();
  fSlopes.clear();
  fIntercepts.clear();
  fSpecialInputs.clear();
  for (const ContInput& c : fContInputs) {
    // Asked of the variable again: setting up its encoder anew replaces
    // the encoder object.
    const INNVariable* var = fVarList.GetVarAt(fInputFields[static_cast<std::size_t>(c.field)]);
    const auto* encoder = var ? dynamic_cast<const NNLinearEncoder*>(var->GetEncoder()) : nullptr;
    if (encoder != nullptr && encoder->GetUserMissingInfo() != nullptr) {
      fSpecialInputs.push_back({c.field, c.unit, encoder});
      continue;
    }
    LinearRun* last = fLinearRuns.empty() ? nullptr : &fLinearRuns.back();
    if (last && c.field == last->field + last->count && c.unit == last->unit + last->count)
      ++last->count;
    else
      fLinearRuns.push_back({c.field, c.unit, 1, static_cast<int>(fSlopes.size())});
    // No encoder: the value passes unchanged.
    fSlopes.push_back(encoder ? encoder->GetSlope() : 1.0);
    fIntercepts.push_back(encoder ? encoder->GetIntercept() : 0.0);
  }
}

void NNDataPreparator::EnsureEncoders() const {
  if (!fEncodersStale.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(fRefreshLock);
  if (!fEncodersStale.load(std::memory_order_relaxed)) return;
  RefreshEncoders();
  fEncodersStale.store(false, std::memory_order_release);
}

NNDataPreparator::~NNDataPreparator() = default;

VXStatus NNDataPreparator::EncodeRecord(const Record& raw, Record& encoded) const {
  if (!fLayoutStatus.IsOK()) return fLayoutStatus;
  if (encoded.Size() != fRecordWidth) encoded.Resize(fRecordWidth);
  double* units = encoded.GetAll();
  std::fill_n(units, fRecordWidth, 0.0);

  EnsureEncoders();
  VXStatus status;
  std::size_t nextEncoder = 0;
  for (int i = 0; i < fNVariables; ++i) {
    const int unit = fUnitIndex[static_cast<std::size_t>(i)];
    if (unit < 0) continue;
    const int n = fCategories[static_cast<std::size_t>(i)];
    const double value = Field(raw, i);
    if (n == 1) {
      units[unit] = NormalizeWith(fContEncoders[nextEncoder++], value);
      continue;
    }
    const int code = CategoryCode(value, n);
    if (code >= 0) {
      units[unit + code] = 1.0;
    } else {
      status = VXStatus(kCodeOutOfRange, true);
    }
  }
  return status;
}

VXStatus NNDataPreparator::EncodeInputs(const Record& raw, Record& encoded) const {
  if (!fLayoutStatus.IsOK()) return fLayoutStatus;
  if (encoded.Size() < fNInputUnits) encoded.Resize(fNInputUnits);
  return EncodeInputs(raw.GetAll(), raw.Size(), encoded.GetAll());
}

VXStatus NNDataPreparator::EncodeInputs(const double* values, int nValues, double* units) const {
  if (!fLayoutStatus.IsOK()) return fLayoutStatus;

  // Scoring runs this for every record: the continuous inputs in runs of
  // plain linear maps (those with user-missing values through their
  // encoders), the categorical ones in a loop of their own, and the
  // status built once at the end. Each input writes all
  // of its own units (the layout check made them cover the I units
  // exactly), so only a categorical input's units need clearing first.
  EnsureEncoders();
  bool missing = false;
  // The library itself is built for any x86-64 (two doubles a vector);
  // the pass kernel in use has the machine's widest vectors, and its map
  // gives the same bits as the loop below.
  const VXNeural::detail::KernelTable* kernel = VXNeural::detail::ActiveKernelTable();
  // A missing value goes through the map too; the units are cleared below.
  for (const LinearRun& run : fLinearRuns) {
    const double* slope = fSlopes.data() + run.first;
    const double* intercept = fIntercepts.data() + run.first;
    double* u = units + run.unit;
    if (kernel && run.field + run.count <= nValues) {
      missing |=
          kernel->affine(values + run.field, slope, intercept, u, run.count, VXMV::gMissingValue);
    } else if (run.field + run.count <= nValues) {
      // Contiguous fields into contiguous units: a loop the compiler
      // turns into vector instructions. The flag is a double chosen, not
      // an int or'ed: a comparison turned into an integer kept the loop
      // scalar, at about a seventh of scoring's time on 64 inputs.
      const double* v = values + run.field;
      double absent = 0.0;
      for (int k = 0; k < run.count; ++k) {
        absent = v[k] == VXMV::gMissingValue ? 1.0 : absent;
        u[k] = v[k] * slope[k] + intercept[k];
      }
      missing |= absent != 0.0;
    } else {
      for (int k = 0; k < run.count; ++k) {
        const int field = run.field + k;
        const double value = field < nValues ? values[field] : VXMV::gMissingValue;
        missing |= value == VXMV::gMissingValue;
        u[k] = value * slope[k] + intercept[k];
      }
    }
  }
  for (const ContInput& c : fSpecialInputs) {
    const double value = c.field < nValues ? values[c.field] : VXMV::gMissingValue;
    missing |= value == VXMV::gMissingValue;
    units[c.unit] = NormalizeWith(c.encoder, value);
  }
  bool outOfRange = false;
  for (const CatInput& c : fCatInputs) {
    const double value = c.field < nValues ? values[c.field] : VXMV::gMissingValue;
    missing |= value == VXMV::gMissingValue;
    std::fill_n(units + c.unit, c.n, 0.0);
    const int code = CategoryCode(value, c.n);
    if (code >= 0)
      units[c.unit + code] = 1.0;
    else
      outOfRange = true;
  }
  if (missing) {
    std::fill_n(units, fNInputUnits, 0.0);
    return VXStatus(kMissingInput, false);
  }
  return outOfRange ? VXStatus(kCodeOutOfRange, false) : VXStatus();
}

// Reads source until maxRecords records were kept or it stops being good,
// handing each record that encodes cleanly to sink; a sink that fails ends
// the pass. One scratch record serves the whole pass. A source whose status
// turns to an error ends the pass as failed: training on the part read
// before the failure would be a silent wrong answer, and a source that
// still claims to be good while handing out nothing would never end.
template <typename Sink>
NNDataPreparator::PassResult NNDataPreparator::EncodePass(RecordIterator& source, int maxRecords,
                                                          Sink&& sink) {
  PassResult result;
  Record encoded(fRecordWidth);
  while (result.kept < maxRecords && source.IsGood()) {
    const Record* raw = source.Next();
    if (raw == nullptr) {
      if (source.GetStatus() != RecordIterator::kError) continue;
      break;
    }
    if (!EncodeRecord(*raw, encoded).IsOK()) {
      result.skipped = true;
      continue;
    }
    if (!sink(encoded)) {
      result.sinkFailed = true;
      break;
    }
    ++result.kept;
  }
  result.sourceFailed = result.kept < maxRecords && source.GetStatus() == RecordIterator::kError;
  return result;
}

std::FILE* NNDataPreparator::OpenTempFile(std::string& name) const {
  if (fTempFileNameMaker != nullptr) {
    // Plain "w+b": a host's name maker may reserve its name by creating the
    // file, which is then ours to fill and delete.
    name = fTempFileNameMaker->GetTempFileName();
    return name.empty() ? nullptr : std::fopen(name.c_str(), "w+b");
  }
  // Without a maker the C library names the file, in the settings'
  // directory (the system's own when none is set) and with no prefix.
  // mkstemp makes the name and creates the file, private to us, in one
  // step: the functions that only hand out a name leave a gap in which
  // another process can take that name (or plant a link under it), which is
  // why the linker warns of them. The stream is then opened in "w+b" on the
  // file just made, through its descriptor, so the name is not looked up
  // again.
  std::string pattern = fTempFileDir.empty() ? std::string(P_tmpdir) : fTempFileDir;
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  pattern += "XXXXXX";
  const int descriptor = ::mkstemp(pattern.data());
  if (descriptor < 0) return nullptr;
  std::FILE* file = ::fdopen(descriptor, "w+b");
  if (file == nullptr) {
    ::close(descriptor);
    std::remove(pattern.c_str());
    return nullptr;
  }
  name = pattern;
  return file;
}

VXStatus NNDataPreparator::EncodeToTempFile(RecordIterator& source, int maxRecords,
                                            MultiPassRecordIter*& encoded, int& written) {
  return EncodeToFile(source, maxRecords, encoded, written, kTrainingSourceNotGood);
}

VXStatus NNDataPreparator::EncodeToFile(RecordIterator& source, int maxRecords,
                                        MultiPassRecordIter*& encoded, int& written,
                                        int sourceFailedCode) {
  encoded = nullptr;
  written = 0;
  if (!fLayoutStatus.IsOK()) return fStatus = fLayoutStatus;

  std::string name;
  std::FILE* handle = OpenTempFile(name);
  if (handle == nullptr) return fStatus = VXStatus(kTempFileFailed, false);
  PendingFile file(handle, name);

  const std::size_t width = static_cast<std::size_t>(fRecordWidth);
  const PassResult pass = EncodePass(source, maxRecords, [&file, width](const Record& record) {
    return std::fwrite(record.GetAll(), sizeof(double), width, file.Get()) == width;
  });
  if (pass.sourceFailed) return fStatus = VXStatus(sourceFailedCode, false);
  if (pass.sinkFailed || std::fflush(file.Get()) != 0) {
    return fStatus = VXStatus(kTempFileFailed, false);
  }
  if (pass.kept == 0) return fStatus = VXStatus(kNoRecordWritten, false);
  if (std::fseek(file.Get(), 0, SEEK_SET) != 0) return fStatus = VXStatus(kTempFileFailed, false);

  encoded = new VXNeural::BinaryRecordIterator(file.Get(), fRecordWidth, file.Name(), pass.kept);
  file.Release();
  written = pass.kept;
  fStatus = pass.skipped ? VXStatus(kCodeOutOfRange, true) : VXStatus();
  return fStatus;
}

VXStatus NNDataPreparator::EncodeSource(RecordIterator& source, int maxRecords, bool toFile,
                                        int sourceFailedCode,
                                        std::unique_ptr<MultiPassRecordIter>& encoded, int& written,
                                        bool& wentToFile) {
  encoded.reset();
  written = 0;
  // In a data-parallel run a process's share of a set may be empty (fewer
  // blocks than processes): it is held as an empty buffer, and whether the
  // whole set has records is settled when training starts, where every
  // process learns the others' counts.
  const bool shareMayBeEmpty = VXNeural::GetPassCombiner() != nullptr;
  if (!toFile) {
    auto buffer = std::make_unique<VXNeural::RecordBufferIter>(fRecordWidth, maxRecords);
    // Memory refused for the buffer: the file is the other place records
    // can go.
    toFile = buffer->GetStatus() == RecordIterator::kError;
    if (!toFile) {
      VXNeural::RecordBufferIter& target = *buffer;
      const PassResult pass = EncodePass(
          source, maxRecords, [&target](const Record& record) { return target.Add(record); });
      wentToFile = false;
      if (pass.sourceFailed) return VXStatus(sourceFailedCode, false);
      if (pass.kept == 0 && !shareMayBeEmpty) return VXStatus(kNoRecordWritten, false);
      encoded = std::move(buffer);
      written = pass.kept;
      return pass.skipped ? VXStatus(kCodeOutOfRange, true) : VXStatus();
    }
  }
  wentToFile = true;
  MultiPassRecordIter* fileSource = nullptr;
  const VXStatus status = EncodeToFile(source, maxRecords, fileSource, written, sourceFailedCode);
  encoded.reset(fileSource);
  if (shareMayBeEmpty && status.GetErrorCode() == kNoRecordWritten) {
    encoded = std::make_unique<VXNeural::RecordBufferIter>(fRecordWidth, 0);
    wentToFile = false;
    return fStatus = VXStatus();
  }
  return status;
}

VXStatus NNDataPreparator::Prepare(const NeuralSettings& settings) {
  fEncodedTrain.reset();
  fEncodedTest.reset();
  fNTrainWritten = 0;
  fNTestWritten = 0;
  if (!fLayoutStatus.IsOK()) return fStatus = fLayoutStatus;
  if (fTrainSource == nullptr) return fStatus = VXStatus(kTrainingSourceNotGood, false);

  const long long budget = settings.GetMaxRecordsInMemory();
  const int nTrain = settings.GetNTrainRecords();
  bool trainInFile = false;
  VXStatus status = EncodeSource(*fTrainSource, nTrain, nTrain >= budget, kTrainingSourceNotGood,
                                 fEncodedTrain, fNTrainWritten, trainInFile);
  fTrainSource->Rewind();

  if (fTestSource != nullptr && !status.IsError()) {
    const int nTest = settings.GetNTestRecords();
    const bool testToFile =
        trainInFile ? nTest >= budget : static_cast<long long>(nTrain) + nTest >= budget;
    bool testInFile = false;
    status = EncodeSource(*fTestSource, nTest, testToFile, kTestSourceNotGood, fEncodedTest,
                          fNTestWritten, testInFile);
    fTestSource->Rewind();
  }
  fStatus = status;
  return status;
}

void NNDataPreparator::SetWeightedCount(int n) {
  if (n >= 0) fVarList.SetWeightedCount(n);
}

void NNDataPreparator::Display(std::ostream& out) const {
  out << "NNDataPreparator object: \n";
  VXNeural::detail::ShowVector(out, "\tVariable index", fUnitIndex);
  VXNeural::detail::ShowVector(out, "\tNumbers of categories", fCategories);
  if (fStatus.IsOK()) {
    out << "\tStatus is OK.\n";
  } else {
    out << "\tStatus has error code " << fStatus.GetErrorCode() << '\n';
  }
  fVarList.Display(out);
}
