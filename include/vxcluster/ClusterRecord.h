// Records and the record-source interface through which a caller feeds the
// clustering library.
#pragma once

#include "vxcommon/Record.h"

namespace VXCluster {

/// One row of clustering values, one per variable of the ClusterVarList in the
/// order the variables were added: a continuous variable's value as a double
/// (VXMV::gMissingValue or NaN when it has none), a categorical variable's
/// category number 1 .. n, or -1 when the record has no category for it.
/// It is the common library's fixed-length row: Record(int size), operator[].
using Record = VXCommon_1_2::Record;

/// A forward-only source of clustering records, implemented by the caller.
/// ClusterModel::PreCluster calls Next until it returns null and then asks
/// GetStatus why: end of data is a normal end, an error aborts the run.
class RecordIterator {
 public:
  /// What GetStatus answers.
  enum Status { kGood = 0, kEndOfData = 1, kError = 2 };

  virtual ~RecordIterator() = default;
  /// True while a record can be fetched.
  virtual bool IsGood() = 0;
  /// The next record, or null when there is none. The record stays valid until
  /// the next call; the library only reads it and keeps no pointer to it.
  virtual Record* Next() = 0;
  /// 0 good, 1 end of data, 2 error (Status). After Next returned null, 0 is
  /// read as end of data.
  virtual int GetStatus() = 0;
};

}  // namespace VXCluster
