// Status codes of the clustering library. Every call that can fail returns a
// VXCommon_1_2::VXStatus: code 0 and severity 0 when all went well, one of the
// codes below with error severity (-1) when the call was refused or failed, or
// with warning severity (+1) when it did something useful but less than asked.
// A failed call never leaves the model half changed: it keeps what it had
// before the call (PreCluster excepted: a failed pre-clustering discards the
// partial summary, so the model must be pre-clustered again).
//
// Where it helps, the status carries detail in its data:
//   discrete datum 0: the record number (from 1) at which reading failed;
//   discrete datum 1: the variable number (from 0) concerned;
//   discrete datum 2: the offending size or count (record size, category, k).
#pragma once

#include "vxcommon/VXStatus.h"

namespace VXCluster {

using VXCommon_1_2::VXStatus;

enum ClusterStatusCode {
  /// Error: Cluster or AutoCluster before a successful PreCluster.
  kClusterNotPreClustered = 60001,
  /// Error: k < 1 for Cluster, or least < 1 or most < least for AutoCluster.
  kClusterBadClusterCount = 60002,
  /// Error: the record source delivered no record at all.
  kClusterEmptySource = 60003,
  /// Error: the record source reported an error (status 2, or any status other
  /// than good and end of data) before its end. Datum 0: records read so far.
  kClusterSourceFailed = 60004,
  /// Error: a record's size differs from the number of variables.
  /// Datum 0: the record number, datum 2: its size.
  kClusterWrongRecordSize = 60005,
  /// Error: a categorical value that is neither -1 nor a whole number in
  /// 1 .. n. Datum 0: record number, datum 1: variable, datum 2: the value
  /// truncated to int.
  kClusterCategoryOutOfRange = 60006,
  /// Error: an infinite continuous value. Datum 0: record, datum 1: variable.
  kClusterInfiniteValue = 60007,
  /// Error: the variable list is empty or one of its additions was refused
  /// (ClusterVarList::GetStatus tells which). Datum 1: the variable.
  kClusterInvalidVarList = 60008,
  /// Error: a setting outside its documented range (ClusterSettings::Check).
  kClusterInvalidSettings = 60009,
  /// Warning: fewer clusters were formed than asked, because the summary holds
  /// fewer leaf entries than that. GetNumOfClusters tells how many; the result
  /// clusters are valid. Datum 2: the number asked.
  kClusterFewerClusters = 60010,
  /// Error: SetPreClusterState was handed a state that another model (of
  /// other variables or settings) saved, or numbers that are no state.
  kClusterInvalidState = 60011,
};

}  // namespace VXCluster
