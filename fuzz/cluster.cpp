// The clustering library's inputs: settings, a variable list and records,
// all fuzzed (sizes, NaN, infinities, the missing value, categories in and
// out of range, a source that fails part way). The promises checked:
//   - every call answers OK, or a status with one of the library's codes,
//     never a crash;
//   - an invalid list or invalid settings make the model refuse at once;
//   - after a successful pre-clustering the tree's threshold is finite, and
//     every record read is counted once:
//     the result clusters hold them all, no cluster is empty, and no more
//     clusters are formed than asked;
//   - reported means and variances of a continuous variable are finite
//     (variances not negative) wherever the cluster has values for it, when
//     no value or location is beyond 1e150 in magnitude: the summaries hold
//     sums of squares, which overflow past that (a known limit, left open).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "FuzzCommon.h"
#include "vxcluster/vxcluster.h"
#include "vxcommon/VXMissing.h"

namespace {

using VXCommon_1_2::VXStatus;

bool LibraryCode(const VXStatus& status) {
  const int code = status.GetErrorCode();
  if (status.IsOK()) return code == 0;
  if (status.IsWarning()) return code == VXCluster::kClusterFewerClusters;
  return code >= VXCluster::kClusterNotPreClustered && code <= VXCluster::kClusterInvalidSettings;
}

class Source : public VXCluster::RecordIterator {
 public:
  Source(std::vector<VXCluster::Record> records, int failAt)
      : fRecords(std::move(records)), fFailAt(failAt) {}
  bool IsGood() override { return fStatus == kGood; }
  VXCluster::Record* Next() override {
    if (fNext == fFailAt) fStatus = kError;
    if (fStatus != kGood || fNext >= static_cast<int>(fRecords.size())) {
      if (fStatus == kGood) fStatus = kEndOfData;
      return nullptr;
    }
    return &fRecords[static_cast<std::size_t>(fNext++)];
  }
  int GetStatus() override { return fStatus; }
  int Delivered() const { return fNext; }

 private:
  std::vector<VXCluster::Record> fRecords;
  int fFailAt;
  int fNext = 0;
  int fStatus = kGood;
};

// Whether this input fed a finite value or location beyond 1e150.
bool gHuge = false;

double Noted(double v) {
  if (std::isfinite(v) && std::fabs(v) > 1e150) gHuge = true;
  return v;
}

double AnyDouble(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return std::numeric_limits<double>::quiet_NaN();
    case 1:
      return in.ConsumeBool() ? HUGE_VAL : -HUGE_VAL;
    case 2:
      return VXMV::gMissingValue;
    case 3:
      return Noted(in.ConsumeFloatingPoint<double>());
    default:
      return in.ConsumeFloatingPointInRange<double>(-10.0, 10.0);
  }
}

void CheckResults(const ClusterModel& model, const ClusterVarList& vars, int asked) {
  const int k = model.GetNumOfClusters();
  fuzz::Check(k >= 1 && k <= asked, "a clustering forms between 1 and the asked clusters");
  fuzz::Check(model.EndResultClusters() - model.BeginResultClusters() == k,
              "the result iterators run over the clusters formed");
  long long cases = 0;
  for (auto it = model.BeginResultClusters(); it != model.EndResultClusters(); ++it) {
    const ClusterStats& stats = **it;
    fuzz::Check(stats.GetCaseCount() >= 1, "no result cluster is empty");
    cases += stats.GetCaseCount();
    for (int v = 0; v < vars.Size(); ++v) {
      if (!vars.GetVar(v).IsContinuous()) {
        fuzz::Check(static_cast<int>(stats.GetCountsOfCatVar(v).size()) ==
                        vars.GetVar(v).GetNumCategories(),
                    "a categorical variable has one count per category");
        continue;
      }
      if (stats.GetValidCount(v) <= 0 || gHuge) continue;
      const double mean = stats.GetMeanOfContVar(v), variance = stats.GetVarianceOfContVar(v);
      fuzz::Check(std::isfinite(mean) && std::isfinite(variance) && variance >= 0.0,
                  "a cluster's mean and variance are finite, the variance not negative");
    }
  }
  fuzz::Check(cases == model.GetNumRecords(), "the result clusters hold every record once");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  gHuge = false;
  ClusterSettings settings;
  if (in.ConsumeBool()) {
    settings.SetMemoryBudget(in.ConsumeIntegralInRange<std::size_t>(0, 1 << 16));
    settings.SetMaxLeafEntries(in.ConsumeIntegralInRange<int>(-1, 64));
    settings.SetBranchingFactor(in.ConsumeIntegralInRange<int>(0, 70));
    settings.SetInitialThreshold(in.ConsumeBool() ? AnyDouble(in) : 0.0);
    settings.SetVarianceFloor(in.ConsumeBool() ? AnyDouble(in) : 1e-4);
    settings.SetDistanceRatio(in.ConsumeBool() ? AnyDouble(in) : 1.15);
  }
  ClusterVarList vars;
  bool refused = false;
  const int nVars = in.ConsumeIntegralInRange<int>(0, 6);
  for (int v = 0; v < nVars; ++v) {
    VXStatus added;
    if (in.ConsumeBool()) {
      const double location = Noted(in.ConsumeBool() ? AnyDouble(in) : 0.0);
      const double scale = Noted(in.ConsumeBool() ? AnyDouble(in) : 1.0);
      added = vars.AddContVar(location, scale);
    } else {
      const int n = in.ConsumeIntegralInRange<int>(-1, 8);
      added = vars.AddCatVar(
          n, static_cast<ClusterVar::MeasureLevel>(in.ConsumeIntegralInRange<int>(0, 3)));
    }
    fuzz::Check(LibraryCode(added), "a variable is added or refused with the library's code");
    refused = refused || added.IsError();
  }
  ClusterModel model(settings, vars);
  if (refused || nVars == 0 || settings.Check().IsError())
    fuzz::Check(model.GetStatus().IsError(), "an invalid list or settings make the model refuse");

  const int nRecords = in.ConsumeIntegralInRange<int>(0, 400);
  std::vector<VXCluster::Record> records;
  records.reserve(static_cast<std::size_t>(nRecords));
  for (int r = 0; r < nRecords && in.remaining_bytes() > 0; ++r) {
    const int width =
        in.ConsumeProbability<double>() < 0.02 ? in.ConsumeIntegralInRange<int>(0, 8) : vars.Size();
    VXCluster::Record record(width);
    for (int v = 0; v < width; ++v) {
      const bool cont = v >= vars.Size() || vars.GetVar(v).IsContinuous();
      record[v] =
          cont ? AnyDouble(in)
               : (in.ConsumeProbability<double>() < 0.05
                      ? AnyDouble(in)
                      : in.ConsumeIntegralInRange<int>(-1, vars.GetVar(v).GetNumCategories()));
    }
    records.push_back(std::move(record));
  }
  const int failAt = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, nRecords) : -1;
  Source source(std::move(records), failAt);
  const VXStatus pre = model.PreCluster(source);
  fuzz::Check(LibraryCode(pre) && !pre.IsWarning(), "pre-clustering answers with a library code");
  if (pre.IsOK()) {
    fuzz::Check(model.GetNumRecords() == source.Delivered(),
                "pre-clustering reads every record the source delivers");
    // Distances are numbers for any settings and finite values, so some
    // finite threshold always makes room in the tree.
    fuzz::Check(std::isfinite(model.GetThreshold()), "the tree's threshold stays finite");
  }

  for (int call = 0; call < 3 && in.remaining_bytes() > 0; ++call) {
    const bool automatic = in.ConsumeBool();
    const int a = in.ConsumeIntegralInRange<int>(-1, 20),
              b = in.ConsumeIntegralInRange<int>(-1, 40);
    const VXStatus status = automatic ? model.AutoCluster(a, b) : model.Cluster(a);
    fuzz::Check(LibraryCode(status), "a clustering answers with a library code");
    if (pre.IsError())
      fuzz::Check(status.IsError(), "a model whose pre-clustering failed does not cluster");
    if (!status.IsError()) {
      const int asked = automatic ? std::max(a, b) : a;
      CheckResults(model, vars, asked);
      model.GetBIC();
      VXCluster::Record probe(vars.Size());
      for (int v = 0; v < vars.Size(); ++v) probe[v] = vars.GetVar(v).IsContinuous() ? 0.5 : 1.0;
      const int assigned = model.AssignRecord(probe);
      fuzz::Check(assigned >= -1 && assigned < model.GetNumOfClusters(),
                  "a record is assigned to a result cluster or to none");
    }
  }
  return 0;
}
