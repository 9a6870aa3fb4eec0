#include "vxneural/network/NNetwork.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <memory>
#include <ostream>
#include <type_traits>
#include <utility>

#include "algorithm/AlgorithmCodes.h"
#include "network/ArrayData.h"
#include "network/BlockPass.h"
#include "network/BlockTree.h"
#include "network/PassWorkers.h"
#include "network/SharedRun.h"
#include "network/TreeExchange.h"
#include "network/kernels/KernelTable.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"
#include "vxcommon/Callbacks.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/algorithm/NeuralSettings.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/PassCombiner.h"
#include "vxneural/network/PassThreads.h"
#include "vxneural/network/RBFHiddenLayer.h"
#include "vxneural/network/RBFInputLayer.h"
#include "vxneural/network/RBFOutputLayer.h"
#include "vxneural/network/VXRandom.h"

using VXCommon_1_2::Record;
using VXCommon_1_2::RecordIterator;
using VXCommon_1_2::VXStatus;
using VXNeural::detail::Data;

namespace {

constexpr const char* kClassName = "NNetwork";
constexpr const char* kBinaryTag = "NNet";
// The network's XML object sits inside the algorithm's (level 0).
constexpr int kXmlLevel = 1;
// The smallest saved MLP layer: tag, four ints, two doubles, a count.
constexpr std::size_t kMinLayerBytes = 42;

// Where a block's sums lie, after the record sums (recordSums values):
// the output averages when the pass keeps them, then the gradient's
// gradientValues when it forms one. Sizing the passes' buffers and forming
// a pass's sums must agree on it.
struct BlockSumsLayout {
  std::size_t averagesAt, gradientAt, width;
};
BlockSumsLayout BlockSumsOf(std::size_t recordSums, int outputs, bool averages,
                            std::size_t gradientValues) {
  const std::size_t gradientAt = recordSums + (averages ? static_cast<std::size_t>(outputs) : 0);
  return {recordSums, gradientAt, gradientAt + gradientValues};
}

int ReadLayerCount(VXNeural::detail::BinReader& r) {
  return r.Count(VXNeural::detail::kMaxVariables, kMinLayerBytes);
}
int ReadLayerCount(VXNeural::detail::XmlReader& r) {
  return r.Count(VXNeural::detail::kMaxVariables);
}
int ReadVariableCount(VXNeural::detail::BinReader& r) {
  return r.Count(VXNeural::detail::kMaxVariables, 4);
}
int ReadVariableCount(VXNeural::detail::XmlReader& r) {
  return r.Count(VXNeural::detail::kMaxVariables);
}

// Reads records from source, as one pass does: at most maxRecords, stopping
// when cancelled (polled before every record) or when the source has no
// more. Records shorter than width are skipped. Calls body with each
// record's values; returns the number of records handed to it.
template <typename Cancelled, typename Body>
int ForEachRecord(RecordIterator& source, int maxRecords, int width, Cancelled&& cancelled,
                  Body&& body) {
  int n = 0;
  if (!source.IsGood()) return n;
  do {
    if (n >= maxRecords || cancelled()) break;
    const Record* record = source.Next();
    if (!record) break;
    if (record->Size() < width) continue;
    ++n;
    body(record->GetAll());
  } while (source.IsGood());
  return n;
}

}  // namespace

struct NNetwork::Saved {
  int algorithmType = 0;
  int nLayers = 0;
  std::vector<std::unique_ptr<INLayer>> layers;
  int nInputs = 0;
  int nOutputs = 0;
  std::vector<int> categories;
  int outputType = 0;
  int errorFunction = 0;
  int nWeights = 0;
  double accumError = 0.0;
  std::vector<double> outputAverages;
  double errorAverages = 0.0;
  bool computeAverages = false;
  bool computeErrorAverages = false;
};

NNetwork::NNetwork()
    : fNLayers(0),
      fNInputs(0),
      fNOutputs(0),
      fNOutputVariables(0),
      fOutputType(0),
      fErrorFunction(0),
      fAlgorithmType(VXNNCommon::kMLP),
      fNWeights(0),
      fAccumError(0.0),
      fAccuracy(0.0),
      fCanceled(false),
      fErrorAverages(0.0),
      fComputeAverages(false),
      fComputeErrorAverages(false),
      fSensRecordsProcessed(0),
      fSensElapsedTime(0.0),
      fSettings(nullptr),
      fStopReason(0) {}

NNetwork::NNetwork(const NeuralSettings& settings) : NNetwork() {
  fAlgorithmType = settings.GetAlgorithmType();
  // An RBF network has exactly one hidden layer.
  fNLayers = fAlgorithmType == VXNNCommon::kRBF ? 2 : settings.GetNumHiddenLayers() + 1;
  fNOutputVariables = settings.GetNumOutVars();
  fNOutputCategories = settings.GetNumOutCategories();
  fNOutputs = settings.GetNumOutUnits();
  const std::size_t nVars = static_cast<std::size_t>(std::max(fNOutputVariables, 0));
  fAccuracyValues.assign(nVars, 0.0);
  fMinTargets.assign(nVars, DBL_MAX);
  fMaxTargets.assign(nVars, -DBL_MAX);

  const VXNNCommon::ActivationFunction hidden = settings.GetActivFnHiddenLayer();
  VXNNCommon::ActivationFunction output = settings.GetActivFnOutputLayer();
  fErrorFunction =
      output == VXNNCommon::kSoftMax ? VXNNCommon::kCrossEntropy : VXNNCommon::kSumOfSquares;
  const auto continuous = std::count(fNOutputCategories.begin(), fNOutputCategories.end(), 1);
  const auto categorical = static_cast<std::ptrdiff_t>(fNOutputCategories.size()) - continuous;
  if (continuous == 0)
    fOutputType = VXNNCommon::kCategoricalOutput;
  else
    fOutputType = categorical > 0 ? VXNNCommon::kMixedOutput : VXNNCommon::kContinuousOutput;
  // SoftMax needs every target categorical.
  if (fOutputType != VXNNCommon::kCategoricalOutput && output == VXNNCommon::kSoftMax) {
    output = VXNNCommon::kIdentity;
    fErrorFunction = VXNNCommon::kSumOfSquares;
  }

  if (fAlgorithmType == VXNNCommon::kMLP)
    BuildMLP(settings, hidden, output, settings.GetRandomWeightRangeLo(),
             settings.GetRandomWeightRangeHi());
  else if (fAlgorithmType == VXNNCommon::kRBF)
    BuildRBF(settings, hidden);

  fOutputAverages.resize(static_cast<std::size_t>(std::max(fNOutputs, 0)), 0.0);
  fSettings = &settings;
}

void NNetwork::BuildMLP(const NeuralSettings& settings, VXNNCommon::ActivationFunction hidden,
                        VXNNCommon::ActivationFunction output, double lo, double hi) {
  fNInputs = settings.GetNumInputs();
  fLayers.reserve(static_cast<std::size_t>(fNLayers) + 1);
  fLayers.push_back(new MLPLayer(VXNNCommon::kInputLayer, fNInputs, nullptr, VXNNCommon::kIdentity,
                                 VXMV::gMissingValue, VXMV::gMissingValue));
  for (int i = 1; i < fNLayers; ++i)
    fLayers.push_back(new MLPLayer(VXNNCommon::kHiddenLayer, settings.GetNumHiddenUnits(i),
                                   fLayers.back(), hidden, lo, hi));
  fLayers.push_back(new MLPLayer(VXNNCommon::kOutputLayer, fNOutputs, fLayers.back(), output,
                                 fNOutputCategories, lo, hi));
  for (const INLayer* layer : fLayers) fNWeights += layer->GetNumWeights();
  ReserveBlockPass();
}

void NNetwork::BuildRBF(const NeuralSettings& settings, VXNNCommon::ActivationFunction hidden) {
  fNInputs = settings.GetNumInputs();
  fLayers.reserve(3);
  fLayers.push_back(new RBFInputLayer(fNInputs));
  fLayers.push_back(new RBFHiddenLayer(settings.GetNumHiddenUnits(1), fLayers.back(), hidden));
  fLayers.push_back(new RBFOutputLayer(fNOutputs, fLayers.back(), fNOutputCategories));
  for (const INLayer* layer : fLayers) fNWeights += layer->GetNumWeights();
  ReserveBlockPass();
}

NNetwork::~NNetwork() { DeleteLayers(); }

RBFHiddenLayer* NNetwork::GetRBFHiddenLayer() {
  if (fAlgorithmType != VXNNCommon::kRBF || fLayers.size() != 3) return nullptr;
  return static_cast<RBFHiddenLayer*>(fLayers[1]);
}

RBFOutputLayer* NNetwork::GetRBFOutputLayer() {
  if (fAlgorithmType != VXNNCommon::kRBF || fLayers.size() != 3) return nullptr;
  return static_cast<RBFOutputLayer*>(fLayers[2]);
}

int NNetwork::SetNumHiddenUnits(int k) {
  RBFHiddenLayer* hidden = GetRBFHiddenLayer();
  if (hidden == nullptr || k < 0) return 0;
  hidden->Resize(k);
  RBFOutputLayer* output = GetRBFOutputLayer();
  output->SetNumUnitsLower(k);
  fNWeights = output->GetNumWeights() + hidden->GetNumWeights();
  ReserveBlockPass();
  return fNWeights;
}

void NNetwork::DeleteLayers() {
  for (INLayer* layer : fLayers) delete layer;
  fLayers.clear();
}

INLayer* NNetwork::GetLayer(int index) {
  return index >= 0 && static_cast<std::size_t>(index) < fLayers.size()
             ? fLayers[static_cast<std::size_t>(index)]
             : nullptr;
}

const INLayer* NNetwork::GetLayer(int index) const {
  return const_cast<NNetwork*>(this)->GetLayer(index);
}

void NNetwork::ResetUnitValues() {
  for (INLayer* layer : fLayers) layer->ResetUnitValues();
}

void NNetwork::ResetDerivatives() {
  for (INLayer* layer : fLayers) layer->ResetDerivatives();
  fAccumError = 0.0;
  fAccuracy = 0.0;
  fAccuracyValues.assign(static_cast<std::size_t>(std::max(fNOutputVariables, 0)), 0.0);
}

void NNetwork::ResetAll() {
  ResetDerivatives();
  for (INLayer* layer : fLayers) layer->ResetAll();
}

void NNetwork::ForwardPass(const double* record, bool computeOutput) {
  if (fLayers.empty()) return;
  fLayers[0]->SetUnitValues(record, fNInputs);
  const std::size_t output = fLayers.size() - 1;
  for (std::size_t l = 1; l < output; ++l) fLayers[l]->ComputeUnitValues(false);
  if (computeOutput)
    fLayers[output]->ComputeUnitValues(fErrorFunction == VXNNCommon::kCrossEntropy);
}

double NNetwork::RecordError(const double* targets) const {
  if (fLayers.empty()) return 0.0;
  return RecordErrorOf(OutputLayer()->GetUnitValues(), targets);
}

double NNetwork::RecordErrorOf(const double* o, const double* targets) const {
  if (fErrorFunction == VXNNCommon::kSumOfSquares) {
    double e = 0.0;
    for (int k = 0; k < fNOutputs; ++k) {
      const double d = targets[k] - o[k];
      e += 0.5 * d * d;
    }
    return e;
  }
  if (fErrorFunction == VXNNCommon::kCrossEntropy) {
    double s = 0.0;
    for (int k = 0; k < fNOutputs; ++k)
      if (targets[k] != 0.0) s += targets[k] * (o[k] - std::log(targets[k]));
    return -s;
  }
  return 0.0;
}

double NNetwork::AccumulateError(const double* targets, bool computeAccuracy) {
  if (fLayers.empty()) {
    const double e = RecordError(targets);
    fAccumError += e;
    return e;
  }
  return AccumulateErrorOf(OutputLayer()->GetUnitValues(), targets, computeAccuracy);
}

double NNetwork::AccumulateErrorOf(const double* o, const double* targets, bool computeAccuracy) {
  const double e = RecordErrorOf(o, targets);
  // The record's own sums first, then added to the pass's: the additions
  // the pass makes are those of a record-by-record accumulation.
  fRecordSums.assign(kRecordSumsFirstAccuracy + fAccuracyValues.size(), 0.0);
  AddRecordError(fRecordSums.data(), e, o, targets, computeAccuracy);
  fAccumError += fRecordSums[kRecordSumsError];
  fErrorAverages += fRecordSums[kRecordSumsErrorAverages];
  if (computeAccuracy)
    for (std::size_t v = 0; v < fAccuracyValues.size(); ++v)
      fAccuracyValues[v] += fRecordSums[kRecordSumsFirstAccuracy + v];
  return e;
}

void NNetwork::AddRecordError(double* sums, double e, const double* o, const double* targets,
                              bool computeAccuracy) {
  sums[kRecordSumsError] += e;
  const double* t = targets;
  const double* a = Data(fOutputAverages);
  if (fComputeErrorAverages) {
    double eAvg = 0.0;
    if (fErrorFunction == VXNNCommon::kSumOfSquares) {
      for (int k = 0; k < fNOutputs; ++k) {
        const double d = t[k] - a[k];
        eAvg += 0.5 * d * d;
      }
    } else if (fErrorFunction == VXNNCommon::kCrossEntropy) {
      double s = 0.0;
      for (int k = 0; k < fNOutputs; ++k) {
        if (t[k] == 0.0) continue;
        const double ratio = a[k] / t[k];
        if (ratio > 0.0) s += t[k] * std::log(ratio);
      }
      eAvg = -s;
    }
    sums[kRecordSumsErrorAverages] += eAvg;
  }
  if (computeAccuracy) {
    double* accuracy = sums + kRecordSumsFirstAccuracy;
    int first = 0;
    for (int v = 0; v < fNOutputVariables; ++v) {
      const int n = fNOutputCategories[static_cast<std::size_t>(v)];
      if (first + n > fNOutputs) break;
      if (n > 1) {
        int truth = -1;
        for (int u = first; u < first + n; ++u)
          if (t[u] != 0.0) {
            truth = u;
            break;
          }
        int predicted = first;
        for (int u = first + 1; u < first + n; ++u)
          if (o[u] > o[predicted]) predicted = u;
        if (truth == predicted) accuracy[v] += 1.0;
      } else if (n == 1) {
        const std::size_t vi = static_cast<std::size_t>(v);
        accuracy[v] += std::fabs(t[first] - o[first]);
        if (t[first] < fMinTargets[vi]) fMinTargets[vi] = t[first];
        if (t[first] > fMaxTargets[vi]) fMaxTargets[vi] = t[first];
      }
      first += n;
    }
  }
}

void NNetwork::BackPropagate(const double* targets) {
  if (fAlgorithmType != VXNNCommon::kMLP || fLayers.empty()) return;
  // An MLP network holds MLPLayer objects only (built or read that way).
  static_cast<MLPLayer*>(OutputLayer())
      ->ComputeOutputDeltas(targets, fErrorFunction == VXNNCommon::kCrossEntropy);
  for (std::size_t l = fLayers.size() - 1; l >= 1; --l) {
    MLPLayer* lower = l > 1 ? static_cast<MLPLayer*>(fLayers[l - 1]) : nullptr;
    static_cast<MLPLayer*>(fLayers[l])->BackPropagate(lower);
  }
}

void NNetwork::ProcessRecords(VXStatus& status, RecordIterator& source, int maxRecords,
                              int& nProcessed, bool errorOnly, bool computeAccuracy) {
  status = VXStatus();
  nProcessed = 0;
  if (fLayers.empty()) return;
  const VXNeural::detail::KernelTable* kernel = VXNeural::detail::ActiveKernelTable();
  const SharedSource* shared = VXNeural::detail::FindSharedSource(&source);
  if (kernel && fMLPBlockPass) {
    const bool logOutputs = fErrorFunction == VXNNCommon::kCrossEntropy;
    nProcessed = ProcessBlocks(
        *fMLPBlockPass, fMLPHelperPasses,
        [&](VXNeural::detail::MLPBlockPass& p) { p.Begin(*kernel, fLayers, logOutputs); }, source,
        maxRecords, errorOnly, computeAccuracy, shared);
  } else if (kernel && fRBFBlockPass) {
    nProcessed = ProcessBlocks(
        *fRBFBlockPass, fRBFHelperPasses,
        [&](VXNeural::detail::RBFBlockPass& p) { p.Begin(*kernel, fLayers); }, source, maxRecords,
        errorOnly, computeAccuracy, shared);
  } else if (shared) {
    // The record-by-record pass has no blocks to exchange.
    nProcessed = -VXNeural::codes::kSharesDoNotMatch;
  } else {
    nProcessed = ProcessEach(source, maxRecords, errorOnly, computeAccuracy);
  }
  if (nProcessed < 0) {
    status = VXStatus(-nProcessed, false);
    nProcessed = 0;
    return;
  }

  if (fComputeAverages && !IsCanceled() && nProcessed > 0)
    fOutputAverages /= static_cast<double>(nProcessed);

  if (computeAccuracy && !IsCanceled() && nProcessed >= 1) {
    const double nVars = fNOutputVariables;
    const double n = nProcessed;
    double accuracy = 0.0;
    for (std::size_t v = 0; v < fNOutputCategories.size(); ++v) {
      const int units = fNOutputCategories[v];
      if (units > 1) {
        accuracy += fAccuracyValues[v] / (nVars * n);
      } else if (units == 1) {
        const double meanError = fAccuracyValues[v] / n;
        const double range = fMaxTargets[v] - fMinTargets[v];
        // A target that never varied cannot be scaled by its range: it
        // counts as fully accurate when every prediction hit it, else not.
        if (range > 0.0)
          accuracy += (1.0 - meanError / range) / nVars;
        else if (meanError == 0.0)
          accuracy += 1.0 / nVars;
      }
    }
    fAccuracy = accuracy;
  }
}

void NNetwork::ReserveBlockPass() {
  fRecordSums.reserve(kRecordSumsFirstAccuracy + fAccuracyValues.size());
  // A reader may have turned an MLP network into an RBF one or back.
  if (fAlgorithmType != VXNNCommon::kMLP || fLayers.size() < 2) {
    fMLPBlockPass.reset();
    fMLPHelperPasses.clear();
  }
  if (fAlgorithmType != VXNNCommon::kRBF || fLayers.size() != 3) {
    fRBFBlockPass.reset();
    fRBFHelperPasses.clear();
  }
  // For as many threads as the passes use now; a pass at a higher count
  // makes the rest when it starts.
  const int threads = VXNeural::GetPassThreads();
  if (fAlgorithmType == VXNNCommon::kMLP && fLayers.size() >= 2) {
    if (!fMLPBlockPass) fMLPBlockPass = std::make_unique<VXNeural::detail::MLPBlockPass>();
    fMLPBlockPass->Reserve(fLayers);
    while (fMLPHelperPasses.size() + 1 < static_cast<std::size_t>(threads))
      fMLPHelperPasses.push_back(std::make_unique<VXNeural::detail::MLPBlockPass>());
    for (auto& p : fMLPHelperPasses) p->Reserve(fLayers);
  } else if (fAlgorithmType == VXNNCommon::kRBF && fLayers.size() == 3) {
    if (!fRBFBlockPass) fRBFBlockPass = std::make_unique<VXNeural::detail::RBFBlockPass>();
    fRBFBlockPass->Reserve(fLayers);
    while (fRBFHelperPasses.size() + 1 < static_cast<std::size_t>(threads))
      fRBFHelperPasses.push_back(std::make_unique<VXNeural::detail::RBFBlockPass>());
    for (auto& p : fRBFHelperPasses) p->Reserve(fLayers);
  } else {
    return;
  }
  if (!fBlockSlots) fBlockSlots = std::make_unique<VXNeural::detail::BlockSlots>();
  fBlockSlots->Reserve(VXNeural::detail::BlockSlots::CountFor(threads), fNInputs + fNOutputs);
  // The widest sums a pass adds up: with the output averages and the
  // gradient.
  const std::size_t width =
      BlockSumsOf(kRecordSumsFirstAccuracy + fAccuracyValues.size(), fNOutputs, true,
                  fMLPBlockPass ? fMLPBlockPass->GradientValues() : 0)
          .width;
  if (!fBlockTree) fBlockTree = std::make_unique<VXNeural::detail::BlockTree>();
  fBlockTree->Reserve(width, kReservedTreeNodes);
  fPassTotal.reserve(width);
}

int NNetwork::ProcessEach(RecordIterator& source, int maxRecords, bool errorOnly,
                          bool computeAccuracy) {
  double* averages = Data(fOutputAverages);
  return ForEachRecord(
      source, maxRecords, fNInputs + fNOutputs, [this] { return IsCanceled(); },
      [&](const double* values) {
        const double* targets = values + fNInputs;
        ResetUnitValues();
        ForwardPass(values, true);
        AccumulateError(targets, computeAccuracy);
        if (fComputeAverages)
          for (int k = 0; k < fNOutputs; ++k) averages[k] += targets[k];
        if (!errorOnly) BackPropagate(targets);
      });
}

namespace {

// Reads a pass's records a block at a time, on the calling thread, as the
// record-by-record pass reads them: at most maxRecords, the cancel object
// asked before every record, records shorter than width passed over. A
// source that keeps its records in place hands them out one by one and the
// pass reads them where they are (they stay put until the source is
// rewound, so a block of them is still there when it goes through the
// network); any other source may reuse its record for the next one, and
// its values are copied into the block.
template <typename Cancelled>
class BlockReader {
 public:
  BlockReader(RecordIterator& source, int maxRecords, int width, Cancelled& cancelled)
      : fSource(source),
        fInPlace(dynamic_cast<VXCommon_1_2::RecordRowSource*>(&source)),
        fMax(maxRecords),
        fWidth(width),
        fCancelled(cancelled) {}

  // Fills the slot with the next records (none when the pass is over).
  void Fill(VXNeural::detail::BlockSlot& slot) {
    slot.n = 0;
    while (slot.n < VXNeural::detail::BlockSlot::kBlock && !fDone) {
      if (!fSource.IsGood() || fRead >= fMax) {
        fDone = true;
        break;
      }
      // A source that refused to hand out in place part way has had this
      // record's poll already.
      if (fPolled) {
        fPolled = false;
      } else if (fCancelled()) {
        fDone = true;
        break;
      }
      if (fInPlace) {
        const double* row = nullptr;
        const int got = fInPlace->NextRows(&row, 1, fWidth);
        if (got < 0) {
          fInPlace = nullptr;
          fPolled = true;
          continue;
        }
        if (got == 0) {
          fDone = true;
          break;
        }
        slot.rows[static_cast<std::size_t>(slot.n++)] = row;
      } else {
        const Record* record = fSource.Next();
        if (!record) {
          fDone = true;
          break;
        }
        if (record->Size() < fWidth) continue;
        double* copy = slot.Values(fWidth) + static_cast<std::size_t>(slot.n) * fWidth;
        std::copy_n(record->GetAll(), fWidth, copy);
        slot.rows[static_cast<std::size_t>(slot.n++)] = copy;
      }
      ++fRead;
    }
  }
  bool Done() const { return fDone; }
  int Read() const { return fRead; }

 private:
  RecordIterator& fSource;
  VXCommon_1_2::RecordRowSource* fInPlace;
  const int fMax;
  const int fWidth;
  Cancelled& fCancelled;
  int fRead = 0;
  bool fPolled = false;
  bool fDone = false;
};

}  // namespace

// The blocked pass on the pass threads. The calling thread reads the
// records into blocks (it alone touches the source and the cancel object);
// every thread, the caller's included, takes the oldest block waiting and
// runs it through the network with a pass of its own. Then, in block
// order, each block's records have their errors, accuracy and averages
// added in record order, and its gradient is added to the first pass's
// sum: one block at a time, whichever thread formed it, so that the
// results are the same bit for bit for any number of threads.
template <typename Pass, typename Begin>
int NNetwork::ProcessBlocks(Pass& first, std::vector<std::unique_ptr<Pass>>& helpers, Begin&& begin,
                            RecordIterator& source, int maxRecords, bool errorOnly,
                            bool computeAccuracy, const SharedSource* shared) {
  using VXNeural::detail::BlockSlot;
  constexpr bool kMLP = std::is_same_v<Pass, VXNeural::detail::MLPBlockPass>;
  const bool backward = kMLP && !errorOnly;
  const int threads = VXNeural::GetPassThreads();
  begin(first);
  if (!fBlockSlots) fBlockSlots = std::make_unique<VXNeural::detail::BlockSlots>();
  VXNeural::detail::BlockSlots& slots = *fBlockSlots;
  slots.Reset(VXNeural::detail::BlockSlots::CountFor(threads));

  // Each block's sums go into a tree over the blocks' places (BlockTree.h),
  // so that the total does not depend on which thread formed which block.
  std::size_t gradientValues = 0;
  if constexpr (kMLP) {
    if (backward) gradientValues = first.GradientValues();
  }
  const BlockSumsLayout layout = BlockSumsOf(kRecordSumsFirstAccuracy + fAccuracyValues.size(),
                                             fNOutputs, fComputeAverages, gradientValues);
  const std::size_t averagesAt = layout.averagesAt, gradientAt = layout.gradientAt,
                    width = layout.width;
  if (!fBlockTree) fBlockTree = std::make_unique<VXNeural::detail::BlockTree>();
  VXNeural::detail::BlockTree& tree = *fBlockTree;
  tree.Reset(width, shared ? shared->firstBlock : 0);

  auto cancelled = [this] { return IsCanceled(); };
  BlockReader<decltype(cancelled)> reader(source, maxRecords, fNInputs + fNOutputs, cancelled);

  // Block k lies in slot k % count. Blocks are read, taken and added in
  // order: `read` blocks have been read, `taken` handed to threads, `added`
  // added up; `total` is the number of blocks once the reader is done, -1
  // before. A block is a few microseconds of work, so the threads wait for
  // each other by spinning (then yielding) rather than through the kernel.
  const long long count = static_cast<long long>(VXNeural::detail::BlockSlots::CountFor(threads));
  std::atomic<long long> read{0}, taken{0}, added{0}, total{-1};
  Pass* lastPass = nullptr;
  int lastRow = -1;

  auto forward = [&](Pass& p, BlockSlot& b) {
    for (int r = 0; r < b.n; ++r) {
      const double* row = b.rows[static_cast<std::size_t>(r)];
      p.UseInputRow(r, row);
      std::copy_n(row + fNInputs, fNOutputs, p.TargetRow(r));
    }
    p.Forward(b.n);
    for (int r = 0; r < b.n; ++r)
      b.errors[static_cast<std::size_t>(r)] = RecordErrorOf(p.OutputRow(r), p.TargetRow(r));
    if constexpr (kMLP) {
      if (backward) p.Backward(b.n);
    }
  };
  // Only the thread whose turn it is runs this: the block's own sums, laid
  // out as the record sums, then the output averages, then the gradient.
  auto add = [&](Pass& p, const BlockSlot& b) {
    double* sums = tree.Next();
    std::fill_n(sums, width, 0.0);
    double* blockAverages = sums + averagesAt;
    for (int r = 0; r < b.n; ++r) {
      const double* targets = p.TargetRow(r);
      AddRecordError(sums, b.errors[static_cast<std::size_t>(r)], p.OutputRow(r), targets,
                     computeAccuracy);
      if (fComputeAverages)
        for (int k = 0; k < fNOutputs; ++k) blockAverages[k] += targets[k];
    }
    if constexpr (kMLP) {
      if (backward) p.CopyBlockGradient(sums + gradientAt);
    }
    tree.Add();
    lastPass = &p;
    lastRow = b.n - 1;
  };
  // The reader (the calling thread): reads the next block into its slot
  // once the block that held the slot has been added. With `wait` false it
  // leaves the slot alone when that has not happened yet.
  auto readNext = [&](bool wait) {
    const long long k = read.load(std::memory_order_relaxed);
    for (VXNeural::detail::Backoff backoff;
         added.load(std::memory_order_acquire) < k - count + 1;) {
      if (!wait) return;
      backoff.Pause();
    }
    BlockSlot& b = slots[static_cast<std::size_t>(k % count)];
    reader.Fill(b);
    if (b.n > 0) {
      b.index = k;
      read.store(k + 1, std::memory_order_release);
    }
    if (reader.Done()) total.store(read.load(std::memory_order_relaxed), std::memory_order_release);
  };
  auto work = [&](int w) {
    Pass& p = w == 0 ? first : *helpers[static_cast<std::size_t>(w - 1)];
    for (;;) {
      if (w == 0)
        while (total.load(std::memory_order_relaxed) < 0 &&
               added.load(std::memory_order_acquire) >=
                   read.load(std::memory_order_relaxed) - count + 1)
          readNext(false);
      const long long k = taken.fetch_add(1, std::memory_order_relaxed);
      for (VXNeural::detail::Backoff backoff; read.load(std::memory_order_acquire) <= k;) {
        const long long t = total.load(std::memory_order_acquire);
        if (t >= 0 && k >= t) return;  // the pass ended before block k
        if (w == 0)
          readNext(true);
        else
          backoff.Pause();
      }
      BlockSlot& b = slots[static_cast<std::size_t>(k % count)];
      forward(p, b);
      for (VXNeural::detail::Backoff backoff; added.load(std::memory_order_acquire) != k;)
        backoff.Pause();
      add(p, b);
      added.store(k + 1, std::memory_order_release);
    }
  };
  // A pass of one block (a small source, or a mini-batch) is not worth
  // waking another thread for: the first block is read before deciding.
  readNext(false);
  if (threads == 1 || total.load(std::memory_order_relaxed) >= 0) {
    work(0);
  } else {
    // The other threads' passes pack their weights only for a pass they
    // share, on this thread, before they start.
    for (int w = 1; w < threads; ++w) {
      if (helpers.size() < static_cast<std::size_t>(w)) helpers.push_back(std::make_unique<Pass>());
      begin(*helpers[static_cast<std::size_t>(w - 1)]);
    }
    // A std::function of one pointer is held without allocating.
    auto* task = &work;
    VXNeural::detail::RunWorkers(threads, [task](int w) { (*task)(w); });
  }

  if (lastPass) lastPass->LeaveUnitValues(fLayers, lastRow);
  int records = reader.Read();
  if (shared) {
    const int failure = CombineSharedPass(*shared, records);
    if (failure != 0) return -failure;
  }
  if (tree.Nodes() > 0) {
    fPassTotal.resize(width);
    double* total = fPassTotal.data();
    tree.Total(total);
    fAccumError += total[kRecordSumsError];
    fErrorAverages += total[kRecordSumsErrorAverages];
    if (computeAccuracy)
      for (std::size_t v = 0; v < fAccuracyValues.size(); ++v)
        fAccuracyValues[v] += total[kRecordSumsFirstAccuracy + v];
    if (fComputeAverages) {
      double* averages = Data(fOutputAverages);
      for (int k = 0; k < fNOutputs; ++k) averages[k] += total[averagesAt + k];
    }
    if constexpr (kMLP) {
      if (backward) first.AddGradientTo(fLayers, total + gradientAt);
    }
  }
  return records;
}

// Every process hands its record count, whether it was cancelled, its open
// nodes (their places, then their sums) and its continuous targets' ranges;
// each then puts all the nodes together in sequence order, as the one
// process holding every block would have formed them.
int NNetwork::CombineSharedPass(const SharedSource& shared, int& records) {
  // In a shared training this is where the host's cancel object is asked.
  bool canceled = fCanceled;
  if (!canceled && VXNeural::detail::RunCombiner() && fSettings) {
    VXCommon_1_2::VXQueryCancel* cancel = fSettings->GetCancelPointer();
    canceled = cancel && cancel->QueryCancel();
  }
  // Each process's head: its records, its cancel, its continuous targets'
  // lows and highs; every value a process sent is checked before it is
  // used (TreeExchange.h).
  VXNeural::detail::TreeExchangeTotals totals;
  totals.sums = {static_cast<double>(records)};
  totals.any = {canceled};
  totals.lows = fMinTargets;
  totals.highs = fMaxTargets;
  if (!fExchange) fExchange = std::make_unique<VXNeural::detail::TreeExchangeBuffers>();
  const int answer =
      VXNeural::detail::ExchangeTree(*shared.combiner, *fBlockTree, totals, *fExchange);
  if (answer != 0) return answer;
  records = static_cast<int>(totals.sums[0]);
  fMinTargets = totals.lows;
  fMaxTargets = totals.highs;
  if (totals.any[0]) {
    fCanceled = true;
    if (VXNeural::detail::RunCombiner()) VXNeural::detail::SetRunCanceled(true);
  }
  return 0;
}

void NNetwork::ProcessRecord(VXStatus& status, const Record& record) {
  status = VXStatus();
  if (record.Size() < fNInputs + fNOutputs) return;
  ResetUnitValues();
  ForwardPass(record.GetAll(), true);
  AccumulateError(record.GetAll() + fNInputs, false);
}

void NNetwork::Score(VXStatus& status, const double* record, double* outputs) {
  status = VXStatus();
  if (fLayers.empty()) {
    std::fill(outputs, outputs + std::max(fNOutputs, 0), VXMV::gMissingValue);
    return;
  }
  // With a vector kernel an MLP scores through the blocked pass's packed
  // weights, all units of a layer at once.
  const VXNeural::detail::KernelTable* kernel = VXNeural::detail::ActiveKernelTable();
  if (kernel && fMLPBlockPass) {
    fMLPBlockPass->ScoreRecord(*kernel, fLayers, record, outputs);
    return;
  }
  // Scoring wants probabilities: the output layer computes them directly
  // rather than as logarithms to be exponentiated again, which would double
  // the transcendental calls of a SoftMax output.
  fLayers[0]->SetUnitValues(record, fNInputs);
  for (std::size_t l = 1; l < fLayers.size(); ++l) fLayers[l]->ComputeUnitValues(false);
  const double* o = OutputLayer()->GetUnitValues();
  std::copy(o, o + fNOutputs, outputs);
}

int NNetwork::GetWeights(std::valarray<double>& v) const {
  if (v.size() != static_cast<std::size_t>(fNWeights))
    v.resize(static_cast<std::size_t>(fNWeights));
  int offset = 0;
  for (std::size_t l = 1; l < fLayers.size(); ++l) offset += fLayers[l]->GetWeights(v, offset);
  return offset;
}

int NNetwork::SetWeights(const std::valarray<double>& v) {
  if (v.size() < static_cast<std::size_t>(fNWeights)) return 0;
  int offset = 0;
  for (std::size_t l = 1; l < fLayers.size(); ++l) offset += fLayers[l]->SetWeights(v, offset);
  return offset;
}

int NNetwork::GetGradient(std::valarray<double>& v) const {
  if (fAlgorithmType != VXNNCommon::kMLP) return 0;
  if (v.size() < static_cast<std::size_t>(fNWeights)) v.resize(static_cast<std::size_t>(fNWeights));
  int offset = 0;
  for (std::size_t l = 1; l < fLayers.size(); ++l)
    offset += static_cast<const MLPLayer*>(fLayers[l])->GetGradient(v, offset);
  return offset;
}

int NNetwork::SetGradient(const std::valarray<double>& v) {
  if (fAlgorithmType != VXNNCommon::kMLP) return 0;
  if (v.size() < static_cast<std::size_t>(fNWeights)) return 0;
  int offset = 0;
  for (std::size_t l = 1; l < fLayers.size(); ++l)
    offset += static_cast<MLPLayer*>(fLayers[l])->SetGradient(v, offset);
  return offset;
}

double NNetwork::GradientNorm() const {
  if (fAlgorithmType != VXNNCommon::kMLP) return 0.0;
  double s = 0.0;
  for (std::size_t l = 1; l < fLayers.size(); ++l)
    for (double g : static_cast<const MLPLayer*>(fLayers[l])->GetAccumGradient()) s += g * g;
  return std::sqrt(s);
}

int NNetwork::RandomizeWeights(VXRandom& rng) {
  int n = 0;
  for (std::size_t l = 1; l < fLayers.size(); ++l) n += fLayers[l]->RandomizeWeights(rng);
  return n;
}

int NNetwork::RandomizeWeights(VXRandom& rng, double lo, double hi) {
  int n = 0;
  for (std::size_t l = 1; l < fLayers.size(); ++l) n += fLayers[l]->RandomizeWeights(rng, lo, hi);
  return n;
}

bool NNetwork::IsSingleHiddenMLP() const {
  return fAlgorithmType == VXNNCommon::kMLP && fNLayers == 2 && fLayers.size() == 3;
}

int NNetwork::AddHiddenUnit(VXRandom& rng) {
  if (!IsSingleHiddenMLP()) return 0;
  const int hidden = fLayers[1]->AddUnit(rng);
  fNWeights = hidden + fLayers[2]->AddUnit(rng);
  fAccumError = 0.0;
  ReserveBlockPass();
  return fLayers[1]->GetNumUnits();
}

int NNetwork::RemoveHiddenUnit(int unit) {
  if (!IsSingleHiddenMLP()) return 0;
  if (unit < 0 || unit >= fLayers[1]->GetNumUnits()) return fLayers[1]->GetNumUnits();
  const int hidden = fLayers[1]->RemoveUnit(unit);
  fNWeights = hidden + fLayers[2]->RemoveUnit(unit);
  fAccumError = 0.0;
  ReserveBlockPass();
  return fLayers[1]->GetNumUnits();
}

void NNetwork::FindLeastUsefulHiddenUnit(VXStatus& status, RecordIterator& source, int maxRecords,
                                         int& unit) {
  status = VXStatus();
  unit = 0;
  if (!IsSingleHiddenMLP()) return;
  const int units = fLayers[1]->GetNumUnits();
  if (units <= 1) return;
  std::vector<double> errors(static_cast<std::size_t>(units), 0.0);
  const double savedError = fAccumError;
  const bool logOutputs = fErrorFunction == VXNNCommon::kCrossEntropy;
  INLayer* output = fLayers[2];
  ForEachRecord(
      source, maxRecords, fNInputs + fNOutputs, [this] { return IsCanceled(); },
      [&](const double* values) {
        ResetUnitValues();
        ForwardPass(values, false);
        for (int u = 0; u < units; ++u) {
          output->ComputeUnitValuesWithout(u, logOutputs);
          errors[static_cast<std::size_t>(u)] += AccumulateError(values + fNInputs, false);
        }
      });
  fAccumError = savedError;
  for (int u = 1; u < units; ++u)
    if (errors[static_cast<std::size_t>(u)] <= errors[static_cast<std::size_t>(unit)]) unit = u;
}

void NNetwork::SetComputeAverages(bool on) {
  fComputeAverages = on;
  if (on) {
    fOutputAverages = 0.0;
    fErrorAverages = 0.0;
  }
}

bool NNetwork::IsCanceled() {
  return fCanceled = VXNeural::detail::CancelAnswer(
             fCanceled, fSettings ? fSettings->GetCancelPointer() : nullptr);
}

std::string NNetwork::GetStopReasonName() const {
  switch (fStopReason) {
    case VXNNCommon::kStoppedMaxTime:
      return "kStoppedMaxTime";
    case VXNNCommon::kStoppedMaxDataPasses:
      return "kStoppedMaxDataPasses";
    case VXNNCommon::kStoppedErrorChangeLimit:
      return "kStoppedErrorChangeLimit";
    case VXNNCommon::kStoppedErrorRatioLimit:
      return "kStoppedErrorRatioLimit";
    case VXNNCommon::kStoppedSmallGradient:
      return "kStoppedSmallGradient";
    case VXNNCommon::kStoppedVerifyingCycle:
      return "kStoppedVerifyingCycle";
    case VXNNCommon::kStoppedAccuracy:
      return "kStoppedAccuracy";
    case VXNNCommon::kStoppedComputed:
      return "kStoppedComputed";
    default:
      return "kStoppedUndefined";
  }
}

bool NNetwork::SetImportance(const std::vector<double>& importance) {
  if (importance.empty()) return false;
  fImportance = importance;
  return true;
}

int NNetwork::WriteObject(std::ostream& out) const {
  VXNeural::detail::BinWriter w(out);
  w.Tag(kBinaryTag).Int(fAlgorithmType).Int(fNLayers);
  for (const INLayer* layer : fLayers) w.Nested(layer->WriteObject(out));
  w.Int(fNInputs).Int(fNOutputs).Int(fNOutputVariables).Ints(fNOutputCategories);
  w.Int(fOutputType).Int(fErrorFunction).Int(fNWeights).Double(fAccumError);
  w.Doubles(Data(fOutputAverages), fOutputAverages.size());
  w.Double(fErrorAverages).Bool(fComputeAverages).Bool(fComputeErrorAverages);
  return w.Bytes();
}

int NNetwork::WriteObjectXML(std::ostream& out) const {
  VXNeural::detail::XmlWriter w(out, kClassName, kXmlLevel);
  w.Int(fAlgorithmType).Int(fNLayers);
  for (const INLayer* layer : fLayers) w.Nested(layer->WriteObjectXML(out));
  w.Int(fNInputs).Int(fNOutputs).Int(fNOutputVariables).Ints(fNOutputCategories);
  w.Int(fOutputType).Int(fErrorFunction).Int(fNWeights).Double(fAccumError);
  w.Doubles(Data(fOutputAverages), fOutputAverages.size());
  w.Double(fErrorAverages).Int(fComputeAverages ? 1 : 0).Int(fComputeErrorAverages ? 1 : 0);
  return w.End();
}

// Both saved forms hold the same values in the same order. A network
// without layers is saved with no layer objects and read back as such when
// its layer count is 0 (a built network always has an output layer).
template <typename Reader>
void NNetwork::ReadSaved(Reader& r, std::istream& in, bool xml, Saved& s) {
  s.algorithmType = r.Int();
  const bool rbf = s.algorithmType == VXNNCommon::kRBF;
  if (s.algorithmType != VXNNCommon::kMLP && !rbf) r.Fail();
  s.nLayers = ReadLayerCount(r);
  if (rbf) {
    // Input, hidden and output, each linked to the one below.
    if (s.nLayers != 2) r.Fail();
    auto input = std::make_unique<RBFInputLayer>();
    r.Nested(xml ? input->ReadObjectXML(in) : input->ReadObject(in));
    auto hidden = std::make_unique<RBFHiddenLayer>(input.get());
    r.Nested(xml ? hidden->ReadObjectXML(in) : hidden->ReadObject(in));
    auto output = std::make_unique<RBFOutputLayer>(hidden.get());
    r.Nested(xml ? output->ReadObjectXML(in) : output->ReadObject(in));
    if (output->GetActivFuncHidden() != hidden->GetActivationFunction()) r.Fail();
    s.layers.push_back(std::move(input));
    s.layers.push_back(std::move(hidden));
    s.layers.push_back(std::move(output));
  } else if (s.nLayers > 0) {
    INLayer* lower = nullptr;
    for (int l = 0; l <= s.nLayers; ++l) {
      auto layer = std::make_unique<MLPLayer>();
      layer->SetLowerLayer(lower);
      r.Nested(xml ? layer->ReadObjectXML(in) : layer->ReadObject(in));
      lower = layer.get();
      s.layers.push_back(std::move(layer));
    }
  }
  s.nInputs = r.Int();
  s.nOutputs = r.Int();
  s.categories = r.Ints(ReadVariableCount(r));
  s.outputType = r.Int();
  s.errorFunction = r.Int();
  s.nWeights = r.Int();
  s.accumError = r.Double();
  s.outputAverages = r.Doubles(s.nOutputs);
  s.errorAverages = r.Double();
  s.computeAverages = r.Int() == 1;
  s.computeErrorAverages = r.Int() == 1;

  // Counts that do not fit together would send the passes out of bounds.
  std::int64_t units = 0;
  for (int c : s.categories) {
    if (c < 0) r.Fail();
    units += c;
  }
  if (units != s.nOutputs) r.Fail();
  if (s.outputType < VXNNCommon::kContinuousOutput || s.outputType > VXNNCommon::kMixedOutput)
    r.Fail();
  if (s.errorFunction < VXNNCommon::kSumOfSquares || s.errorFunction > VXNNCommon::kCrossEntropy)
    r.Fail();
  std::int64_t weights = 0;
  for (std::size_t l = 0; l < s.layers.size(); ++l) {
    const INLayer& layer = *s.layers[l];
    const int expected = l == 0                    ? VXNNCommon::kInputLayer
                         : l + 1 < s.layers.size() ? VXNNCommon::kHiddenLayer
                                                   : VXNNCommon::kOutputLayer;
    if (layer.GetLayerType() != expected) r.Fail();
    // An MLP layer counts the bias among its lower units, an RBF layer not.
    if (l > 0 && layer.GetNumUnitsLower() != s.layers[l - 1]->GetNumUnits() + (rbf ? 0 : 1))
      r.Fail();
    weights += layer.GetNumWeights();
  }
  if (weights != s.nWeights) r.Fail();
  if (!s.layers.empty() && (s.layers.front()->GetNumUnits() != s.nInputs ||
                            s.layers.back()->GetNumUnits() != s.nOutputs))
    r.Fail();
}

void NNetwork::Adopt(Saved& s) {
  DeleteLayers();
  fLayers.reserve(s.layers.size());
  for (auto& layer : s.layers) fLayers.push_back(layer.release());
  fAlgorithmType = s.algorithmType;
  fNLayers = s.nLayers;
  fNInputs = s.nInputs;
  fNOutputs = s.nOutputs;
  fNOutputVariables = static_cast<int>(s.categories.size());
  fNOutputCategories = std::move(s.categories);
  fOutputType = s.outputType;
  fErrorFunction = s.errorFunction;
  fNWeights = s.nWeights;
  fAccumError = s.accumError;
  fOutputAverages.resize(s.outputAverages.size());
  std::copy(s.outputAverages.begin(), s.outputAverages.end(), std::begin(fOutputAverages));
  fErrorAverages = s.errorAverages;
  fComputeAverages = s.computeAverages;
  fComputeErrorAverages = s.computeErrorAverages;
  fAccuracy = 0.0;
  const std::size_t nVars = fNOutputCategories.size();
  fAccuracyValues.assign(nVars, 0.0);
  fMinTargets.assign(nVars, DBL_MAX);
  fMaxTargets.assign(nVars, -DBL_MAX);
  ReserveBlockPass();
}

int NNetwork::ReadObject(std::istream& in) {
  VXNeural::detail::BinReader r(in, kClassName);
  r.ExpectTag(kBinaryTag);
  Saved s;
  ReadSaved(r, in, false, s);
  Adopt(s);
  return r.Bytes();
}

int NNetwork::ReadObjectXML(std::istream& in) {
  VXNeural::detail::XmlReader r(in, kClassName, kClassName);
  Saved s;
  ReadSaved(r, in, true, s);
  const int count = r.End();
  Adopt(s);
  return count;
}

void NNetwork::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  using VXNeural::detail::ShowVector;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of NNetwork display\n";
  ShowValue(out, "fNLayers = ", fNLayers);
  for (std::size_t l = 0; l < fLayers.size(); ++l) {
    ShowValue(out, "Layer index = ", l);
    fLayers[l]->Display(out);
  }
  ShowValue(out, "fNInputs = ", fNInputs);
  ShowValue(out, "fNOutputs = ", fNOutputs);
  ShowValue(out, "fNOutputVariables = ", fNOutputVariables);
  ShowVector(out, "fNOutputCategories", fNOutputCategories);
  ShowValue(out, "Algorithm Type = ",
            VXNNCommon::DisplayText(static_cast<VXNNCommon::AlgorithmType>(fAlgorithmType)));
  ShowValue(out, "Output Type = ",
            VXNNCommon::DisplayText(static_cast<VXNNCommon::NetworkOutputType>(fOutputType)));
  ShowValue(out, "Error Function = ",
            VXNNCommon::DisplayText(static_cast<VXNNCommon::ErrorFunction>(fErrorFunction)));
  ShowValue(out, "fNWeights = ", fNWeights);
  ShowValue(out, "fAccumError = ", fAccumError);
  ShowValue(out, "fAccuracy = ", fAccuracy);
  ShowVector(out, "Values for accuracy computation", fAccuracyValues);
  ShowVector(out, "Minimum values of continuous targets", fMinTargets);
  ShowVector(out, "Maximum values of continuous targets", fMaxTargets);
  ShowValue(out, "fCanceled = ", fCanceled);
  ShowVector(out, "fOutputAverages", fOutputAverages);
  ShowValue(out, "fErrorAverages = ", fErrorAverages);
  ShowValue(out, "fComputeAverages = ", fComputeAverages);
  ShowValue(out, "fComputeErrorAverages = ", fComputeErrorAverages);
  out << "End of NNetwork display\n";
}
