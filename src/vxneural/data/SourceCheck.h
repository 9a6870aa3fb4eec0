// Whether a record source failed during a pass: its status is neither good
// nor end of data. A pass stops at the first missing record either way, so
// without this check a source that fails half way would only make the pass
// shorter, and training would go on over part of the data.
#pragma once

#include "vxcommon/Record.h"

namespace VXNeural {
namespace detail {

// Asked right after the pass and before rewinding: a host's source may
// forget its failure when rewound.
inline bool SourceFailed(VXCommon_1_2::RecordIterator& source) {
  const int status = source.GetStatus();
  return status != VXCommon_1_2::RecordIterator::kGood &&
         status != VXCommon_1_2::RecordIterator::kEndOfData;
}

// Counts the records of a source read to its end, then rewinds it. False
// when the source failed on the way: every later pass would stop at a count
// cut short by the failure and take the records before it for the whole.
inline bool CountRecords(VXCommon_1_2::MultiPassRecordIter& source, int& count) {
  count = 0;
  while (source.IsGood() && source.Next() != nullptr) ++count;
  const bool failed = SourceFailed(source);
  source.Rewind();
  return !failed;
}

}  // namespace detail
}  // namespace VXNeural
