#include "vxneural/evaluation/NNOutputStatistics.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <ostream>
#include <vector>

#include "data/SourceCheck.h"
#include "evaluation/EvaluationCodes.h"
#include "evaluation/PassNetworks.h"
#include "network/PassWorkers.h"
#include "network/kernels/KernelTable.h"
#include "persist/Display.h"
#include "vxcommon/VXMissing.h"
#include "vxneural/network/INLayer.h"
#include "vxneural/network/NNetwork.h"
#include "vxneural/network/PassThreads.h"

using VXCommon_1_2::MultiPassRecordIter;
using VXCommon_1_2::Record;
using VXCommon_1_2::VXStatus;

namespace {

std::size_t Index(int i) { return static_cast<std::size_t>(i); }

}  // namespace

NNOutputStatistics::NNOutputStatistics()
    : fStatus(VXNNCommon::kOutStatInvalid),
      fNOutputVars(0),
      fNContOutputs(0),
      fNCatOutputs(0),
      fTotalError(VXMV::gMissingValue),
      fAvgRelativeError(VXMV::gMissingValue),
      fAvgPercentIncorrect(VXMV::gMissingValue) {}

void NNOutputStatistics::Reset() {
  for (double& e : fRelativeErrors) e = VXMV::gMissingValue;
  fTotalError = VXMV::gMissingValue;
  fAvgRelativeError = VXMV::gMissingValue;
  fAvgPercentIncorrect = VXMV::gMissingValue;
  for (std::vector<int>& m : fMisClassMatrices)
    for (int& count : m) count = 0;
  for (double& p : fPercentsCorrect) p = VXMV::gMissingValue;
}

void NNOutputStatistics::Rebuild(const std::vector<int>& categories) {
  fNCategories.clear();
  fNCatCategories.clear();
  fRelativeErrors.clear();
  fMisClassMatrices.clear();
  fPercentsCorrect.clear();
  fNOutputVars = static_cast<int>(categories.size());
  fNContOutputs = 0;
  fNCatOutputs = 0;
  for (int n : categories) {
    fNCategories.push_back(n);
    if (n == 1) {
      ++fNContOutputs;
      fRelativeErrors.push_back(0.0);
    } else {
      ++fNCatOutputs;
      fNCatCategories.push_back(n);
      fMisClassMatrices.emplace_back(n > 0 ? Index(n) * Index(n) : 0, 0);
      fPercentsCorrect.push_back(0.0);
    }
  }
  Reset();
  fStatus = VXNNCommon::kOutStatDefault;
}

bool NNOutputStatistics::ValidCell(int k, int i, int j) const {
  if (k < 0 || k >= static_cast<int>(fNCatCategories.size())) return false;
  const int n = fNCatCategories[Index(k)];
  return i >= 0 && i < n && j >= 0 && j < n;
}

int NNOutputStatistics::GetMisClassElement(int k, int i, int j) const {
  if (!ValidCell(k, i, j)) return 0;
  return fMisClassMatrices[Index(k)][Index(fNCatCategories[Index(k)] * i + j)];
}

std::vector<int> NNOutputStatistics::GetMisClassRow(int k, int i) const {
  if (!ValidCell(k, i, 0)) return {};
  const std::vector<int>& m = fMisClassMatrices[Index(k)];
  const std::size_t n = Index(fNCatCategories[Index(k)]);
  return std::vector<int>(m.begin() + static_cast<std::ptrdiff_t>(n * Index(i)),
                          m.begin() + static_cast<std::ptrdiff_t>(n * Index(i + 1)));
}

std::vector<int> NNOutputStatistics::GetMisClassMatrixInOneVec(int k) const {
  if (k < 0 || k >= static_cast<int>(fMisClassMatrices.size())) return {};
  return fMisClassMatrices[Index(k)];
}

std::vector<std::vector<int>> NNOutputStatistics::GetMisClassMatrixAsVecOfRows(int k) const {
  std::vector<std::vector<int>> rows;
  if (k < 0 || k >= static_cast<int>(fNCatCategories.size())) return rows;
  for (int i = 0; i < fNCatCategories[Index(k)]; ++i) rows.push_back(GetMisClassRow(k, i));
  return rows;
}

void NNOutputStatistics::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  using VXNeural::detail::ShowVector;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "Start of NNOutputStatistics display\n";
  ShowValue(out, "Status = ", VXNNCommon::DisplayText(fStatus));
  ShowValue(out, "Number of output variables = ", fNOutputVars);
  ShowValue(out, "Number of output continuous variables = ", fNContOutputs);
  ShowValue(out, "Number of output categorical variables = ", fNCatOutputs);
  if (fNCatCategories.size() == 1)
    ShowValue(out, "Number of categories of the categorical variable = ", fNCatCategories[0]);
  else if (fNCatCategories.size() > 1)
    ShowVector(out, "Vector of numbers of categories of categorical variables", fNCatCategories);
  ShowVector(out, "Vector of relative errors of continuous output variables", fRelativeErrors);
  ShowValue(out, "Total error = ", fTotalError);
  ShowValue(out, "Average overall error (relative to the mean model) = ", fAvgRelativeError);
  ShowValue(out, "Average overall error (average percent of incorrect predictions) = ",
            fAvgPercentIncorrect);
  for (std::size_t k = 0; k < fNCatCategories.size(); ++k) {
    out << "Output categorical variable index = " << k
        << ", number of categories = " << fNCatCategories[k] << '\n';
    out << "MisClassification Matrix\n";
    for (const std::vector<int>& row : GetMisClassMatrixAsVecOfRows(static_cast<int>(k))) {
      for (std::size_t j = 0; j < row.size(); ++j) out << (j ? " " : "") << row[j];
      out << '\n';
    }
  }
  ShowVector(out, "Vector of percents of correct predictions", fPercentsCorrect);
  out << "End of NNOutputStatistics display\n";
}

namespace VXNeural {

namespace {

// The target category of a one-of-n group: the first unit that is neither
// 0.0 nor NaN; -1 when there is none.
int TargetCategory(const double* t, int n) {
  for (int j = 0; j < n; ++j)
    if (t[j] != 0.0 && !std::isnan(t[j])) return j;
  return -1;
}

// The first of the largest outputs; -1 when every value is -DBL_MAX (or
// less) or NaN.
int PredictedCategory(const double* o, int n) {
  int best = -1;
  double largest = -DBL_MAX;
  for (int j = 0; j < n; ++j) {
    if (o[j] > largest) {
      largest = o[j];
      best = j;
    }
  }
  return best;
}

// Records are read in chunks of about this many multiply-adds of forward
// passes, a millisecond or so: enough to keep every thread busy between
// two hand-overs. The chunk's length changes no result.
constexpr double kChunkWork = 1 << 22;
constexpr int kMostChunkRecords = 1024;

// The forward passes of a chunk of records on the pass threads, each
// thread on a network of its own: per record its outputs and its error.
// The caller adds them up in record order, so the figures are the same
// bits for any number of threads.
class ForwardChunk {
 public:
  ForwardChunk(NNetwork& network, int width, int outputs)
      : fNetworks(network), fWidth(Index(width)), fNOutputs(Index(outputs)) {
    // The reference kernel's passes stay on the calling thread.
    fThreads = detail::ActiveKernelTable() ? GetPassThreads() : 1;
    const double work = std::max(1, network.GetNumWeights());
    fChunk = static_cast<int>(std::min<double>(kMostChunkRecords, kChunkWork / work));
    fChunk = std::max(fChunk, fThreads);
    fRecords.resize(Index(fChunk) * fWidth);
    fOutputs.resize(Index(fChunk) * fNOutputs);
    fErrors.resize(Index(fChunk));
  }

  int Capacity() const { return fChunk; }
  double* Record(int r) { return &fRecords[Index(r) * fWidth]; }
  const double* Outputs(int r) const { return &fOutputs[Index(r) * fNOutputs]; }
  double Error(int r) const { return fErrors[Index(r)]; }

  // Forward passes of the first n records held.
  void Run(int n, int nInputs) {
    if (n < 1) return;
    const int workers = std::min(std::min(fThreads, n), fNetworks.Ensure(std::min(fThreads, n)));
    std::atomic<int> next{0};
    detail::RunWorkers(workers, [&](int w) {
      NNetwork& network = fNetworks.At(w);
      const INLayer& output = *network.GetLayer(network.GetNumLayers());
      for (int r = next.fetch_add(1); r < n; r = next.fetch_add(1)) {
        const double* values = Record(r);
        network.ResetUnitValues();
        network.ForwardPass(values, true);
        fErrors[Index(r)] = network.RecordError(values + nInputs);
        const double* o = output.GetUnitValues();
        std::copy(o, o + fNOutputs, &fOutputs[Index(r) * fNOutputs]);
      }
    });
  }

 private:
  detail::PassNetworks fNetworks;
  const std::size_t fWidth, fNOutputs;
  int fThreads = 1;
  int fChunk = 1;
  std::vector<double> fRecords, fOutputs, fErrors;
};

}  // namespace

VXStatus ComputeOutputStats(NNetwork& network, MultiPassRecordIter& source, int maxRecords,
                            NNOutputStatistics& stats) {
  network.ResetDerivatives();
  stats.Rebuild(network.GetNumOutputCategories());
  INLayer* outputLayer = network.GetLayer(network.GetNumLayers());
  if (outputLayer == nullptr) return VXStatus(codes::kNotAvailable, true);

  const int nInputs = network.GetNumInputs();
  const int nOutputs = network.GetNumOutputs();
  const std::vector<int>& categories = stats.fNCategories;
  // The category counts may not describe more units than the network has.
  int described = 0;
  for (int n : categories) {
    if (n < 1) return VXStatus(codes::kNotAvailable, true);
    described += n;
  }
  if (described > nOutputs || outputLayer->GetNumUnits() < nOutputs)
    return VXStatus(codes::kNotAvailable, true);

  std::vector<double> squaredError(Index(nOutputs), 0.0);
  std::vector<double> targetMean(Index(nOutputs), 0.0);
  std::vector<double> squaredDeviation(Index(nOutputs), 0.0);
  std::vector<int> misclassified(Index(stats.fNCatOutputs), 0);
  int count = 0;
  double totalError = 0.0;
  bool invalidTarget = false;

  // The calling thread reads a chunk of records (asking the cancel object
  // before each), the pass threads run them forward, and the calling
  // thread adds them up in record order, as one thread would record after
  // record.
  const int width = nInputs + nOutputs;
  ForwardChunk chunk(network, width, nOutputs);
  int read = 0;
  bool more = true;
  while (more && !invalidTarget) {
    int got = 0;
    while (got < chunk.Capacity() && read < maxRecords && source.IsGood()) {
      if (network.IsCanceled()) break;
      const Record* record = source.Next();
      if (record == nullptr) break;
      if (record->Size() < width) continue;
      ++read;
      std::copy(record->GetAll(), record->GetAll() + width, chunk.Record(got++));
    }
    more = got == chunk.Capacity();
    chunk.Run(got, nInputs);
    for (int r = 0; r < got && !invalidTarget; ++r) {
      ++count;
      const double* targets = chunk.Record(r) + nInputs;
      totalError += chunk.Error(r);
      const double* outputs = chunk.Outputs(r);

      const double c = count;
      for (std::size_t u = 0; u < Index(nOutputs); ++u) {
        const double t = targets[u];
        const double e = t - outputs[u];
        squaredError[u] += e * e;
        const double m = targetMean[u];
        targetMean[u] = m + (t - m) / c;
        squaredDeviation[u] += (c - 1.0) / c * (t - m) * (t - m);
      }

      int offset = 0;
      int k = 0;
      for (int n : categories) {
        if (n > 1) {
          const int target = TargetCategory(targets + offset, n);
          if (target < 0) {
            invalidTarget = true;
            break;
          }
          const int predicted = PredictedCategory(outputs + offset, n);
          if (predicted != target) ++misclassified[Index(k)];
          if (predicted >= 0) ++stats.fMisClassMatrices[Index(k)][Index(target * n + predicted)];
          ++k;
        }
        offset += n;
      }
    }
  }

  if (network.IsCanceled()) {
    stats.Reset();
    return VXStatus();
  }
  // Figures over part of the records would pass for the whole: a source
  // that failed half way answers with the error instead (asked before the
  // rewind, which may clear a host source's failure).
  if (detail::SourceFailed(source)) {
    stats.Reset();
    source.Rewind();
    return VXStatus(codes::kTrainSourceNotGood, false);
  }
  source.Rewind();
  if (invalidTarget) {
    stats.Reset();
    return VXStatus(codes::kNoActiveCategory, false);
  }

  double pooledError = 0.0;
  double pooledDeviation = 0.0;
  for (std::size_t u = 0; u < Index(nOutputs); ++u) {
    pooledError += squaredError[u];
    pooledDeviation += squaredDeviation[u];
  }
  int offset = 0;
  std::size_t continuous = 0;
  std::size_t categorical = 0;
  double percentIncorrectSum = 0.0;
  for (int n : categories) {
    if (n == 1) {
      const std::size_t u = Index(offset);
      if (squaredDeviation[u] > 0.0)
        stats.fRelativeErrors[continuous] = squaredError[u] / squaredDeviation[u];
      ++continuous;
    } else {
      const double incorrect =
          count > 0 ? 100.0 * (static_cast<double>(misclassified[categorical]) / count) : 0.0;
      stats.fPercentsCorrect[categorical] = 100.0 - incorrect;
      percentIncorrectSum += incorrect;
      ++categorical;
    }
    offset += n;
  }
  stats.fTotalError = totalError;
  if (pooledDeviation > 0.0) stats.fAvgRelativeError = pooledError / pooledDeviation;
  stats.fAvgPercentIncorrect =
      stats.fNCatOutputs > 0 ? percentIncorrectSum / stats.fNCatOutputs : 0.0;
  stats.fStatus = VXNNCommon::kOutStatComputed;
  return VXStatus();
}

}  // namespace VXNeural
