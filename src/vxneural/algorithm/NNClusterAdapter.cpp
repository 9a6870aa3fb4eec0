#include "vxneural/algorithm/NNClusterAdapter.h"

#include <numeric>
#include <utility>

#include "data/SourceCheck.h"

using VXCommon_1_2::MultiPassRecordIter;

NNClusterAdapter::NNClusterAdapter(MultiPassRecordIter* source, std::vector<int> widths,
                                   std::vector<bool> categorical, std::function<bool()> stop)
    : fSource(source),
      fWidths(std::move(widths)),
      fCategorical(std::move(categorical)),
      fStatus(kGood),
      fRecord(static_cast<int>(fWidths.size())),
      fColumns(std::accumulate(fWidths.begin(), fWidths.end(), 0)),
      fStop(std::move(stop)) {
  // A continuous variable is one column, a categorical one at least one.
  bool described = !fWidths.empty() && fCategorical.size() == fWidths.size();
  for (std::size_t v = 0; described && v < fWidths.size(); ++v) {
    described = fCategorical[v] ? fWidths[v] >= 1 : fWidths[v] == 1;
  }
  // A source that has simply ended holds no record (a process's empty share
  // of a shared training); only one that failed is an error.
  if (fSource == nullptr || !described || VXNeural::detail::SourceFailed(*fSource))
    fStatus = kError;
}

NNClusterAdapter::~NNClusterAdapter() = default;

bool NNClusterAdapter::IsGood() { return fStatus == kGood && fSource->IsGood(); }

VXCluster::Record* NNClusterAdapter::Next() {
  if (fStatus == kError) return nullptr;
  if (!fSource->IsGood()) {
    // A source that stopped on a failure must not pass for one that ended.
    fStatus = VXNeural::detail::SourceFailed(*fSource) ? kError : kEndOfData;
    return nullptr;
  }
  if (fStop && fStop()) {
    fStatus = kError;
    return nullptr;
  }
  const VXCommon_1_2::Record* encoded = fSource->Next();
  if (encoded == nullptr || encoded->Size() < fColumns) {
    fStatus = kError;
    return nullptr;
  }
  const double* columns = encoded->GetAll();
  int c = 0;
  for (std::size_t v = 0; v < fWidths.size(); ++v) {
    const int n = fWidths[v];
    if (!fCategorical[v]) {
      fRecord[static_cast<int>(v)] = columns[c];
    } else {
      int category = -1;
      for (int j = c; j < c + n; ++j) {
        if (columns[j] == 1.0) {
          category = j - c + 1;
          break;
        }
      }
      fRecord[static_cast<int>(v)] = category;
    }
    c += n;
  }
  ++fCount;
  return &fRecord;
}
