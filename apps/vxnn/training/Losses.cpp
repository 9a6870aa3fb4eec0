// What a trained model is judged by: its figures on a set of records,
// and the losses that compare models on the held-out records.
#include <cstdio>

#include "training/TrainSteps.h"
#include "vxcommon/VXMissing.h"

namespace vxnn {

using VXCommon_1_2::VXStatus;

std::string Code(const VXStatus& status) { return "code " + std::to_string(status.GetErrorCode()); }

void ThrowIfCancelled(const TrainResult& r) {
  if (r.fCancel.Requested()) throw Interrupted("training cancelled");
}

double SecondsSince(std::chrono::steady_clock::time_point started) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

std::string Decimals(double value, int digits) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

SetFigures Evaluate(INeuralAlgorithm& algorithm, VXCommon_1_2::MultiPassRecordIter& records,
                    int count) {
  SetFigures f;
  f.fRecords = count;
  if (f.fRecords == 0) return f;
  records.Rewind();
  const VXStatus status = algorithm.ComputeOutputStats(records, f.fRecords, f.fStats);
  ThrowIfSourceFailed(&records);
  records.Rewind();
  if (!status.IsOK() || !algorithm.GetStatus().IsOK() || !f.fStats.StatsOK()) {
    const VXStatus why = status.IsOK() ? algorithm.GetStatus() : status;
    throw InputError("the output statistics could not be computed (" + Code(why) + ")");
  }
  return f;
}

double HeldOutLoss(const NNOutputStatistics& stats) {
  double sum = 0.0;
  int n = 0;
  for (double pc : stats.GetPercentsCorrect()) {
    if (VXMV::IsMissing(pc)) return VXMV::gMissingValue;
    sum += 1.0 - pc / 100.0;
    ++n;
  }
  for (double re : stats.GetRelativeErrors()) {
    if (VXMV::IsMissing(re)) return VXMV::gMissingValue;
    sum += re;
    ++n;
  }
  return n > 0 ? sum / n : VXMV::gMissingValue;
}

double BaselineLoss(const NNOutputStatistics& train, const NNOutputStatistics& test) {
  double sum = 0.0;
  int n = 0;
  for (int k = 0; k < test.GetNumCatOutputs(); ++k) {
    if (k >= train.GetNumCatOutputs()) return VXMV::gMissingValue;
    // Rows are the actual categories.
    const auto trainRows = train.GetMisClassMatrixAsVecOfRows(k);
    const auto testRows = test.GetMisClassMatrixAsVecOfRows(k);
    std::size_t majority = 0;
    long most = -1;
    for (std::size_t c = 0; c < trainRows.size(); ++c) {
      long count = 0;
      for (int v : trainRows[c]) count += v;
      if (count > most) {
        most = count;
        majority = c;
      }
    }
    long total = 0, right = 0;
    for (std::size_t c = 0; c < testRows.size(); ++c)
      for (int v : testRows[c]) {
        total += v;
        if (c == majority) right += v;
      }
    if (total == 0) return VXMV::gMissingValue;
    sum += 1.0 - static_cast<double>(right) / static_cast<double>(total);
    ++n;
  }
  for (int k = 0; k < test.GetNumContOutputs(); ++k) {
    sum += 1.0;
    ++n;
  }
  return n > 0 ? sum / n : VXMV::gMissingValue;
}

}  // namespace vxnn
