// The record source an RBF driver hands to the clustering library: it turns
// the encoded training records into clustering records, one value per
// clustering variable.
#pragma once

#include <functional>
#include <vector>

#include "vxcluster/ClusterRecord.h"
#include "vxcommon/Record.h"

/// An encoded record holds, per variable, one column for a continuous one and
/// one indicator column per category for a categorical one (the network's
/// inputs, then its targets). widths lists the variables in that order: 1 for
/// a continuous variable, n for a categorical one with n categories; and
/// categorical says, variable by variable, which ones are categorical (a
/// width of 1 alone cannot tell a continuous variable from a categorical one
/// with a single category). A continuous variable's clustering value is its
/// column; a categorical one's is the category number 1 .. n of the first of
/// its columns that holds exactly 1.0, or -1 when none does.
///
/// The source (not owned) must outlive the adapter and is read from where it
/// stands. The status is 0 while records come, 1 once the source is no longer
/// good (end of data), 2 on an error: a source that claims to be good but
/// gives no record, a record shorter than the widths cover, a request to stop,
/// or an adapter built over a source that is not good, an empty width list, a
/// categorical list of another length, a continuous variable wider than one
/// column or a categorical one narrower.
/// The returned record is the adapter's own, valid until the next call.
class NNClusterAdapter : public VXCluster::RecordIterator {
 public:
  /// stop, when given, is asked before each record; a true answer ends the
  /// records with status 2, so that the clustering stops at once.
  NNClusterAdapter(VXCommon_1_2::MultiPassRecordIter* source, std::vector<int> widths,
                   std::vector<bool> categorical, std::function<bool()> stop = nullptr);
  /// Not copyable: the adapter reads its source from where it stands.
  NNClusterAdapter(const NNClusterAdapter&) = delete;
  /// Not assignable.
  NNClusterAdapter& operator=(const NNClusterAdapter&) = delete;
  ~NNClusterAdapter() override;

  bool IsGood() override;
  VXCluster::Record* Next() override;
  int GetStatus() override { return fStatus; }
  /// Records delivered so far.
  int GetCount() const { return fCount; }

 private:
  VXCommon_1_2::MultiPassRecordIter* fSource;
  std::vector<int> fWidths;
  std::vector<bool> fCategorical;
  int fStatus;
  VXCluster::Record fRecord;
  int fCount = 0;
  /// Encoded columns the widths cover.
  int fColumns = 0;
  /// The stop question; empty when none was given.
  std::function<bool()> fStop;
};
