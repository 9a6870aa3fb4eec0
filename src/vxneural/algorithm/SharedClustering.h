// The pre-clustering of a data-parallel training (PassCombiner.h).
//
// The clustering's summary tree places each record by the records before
// it, so the processes cannot summarise their shares side by side and give
// the tree one process builds. They take turns instead, in rank order: each
// reads its share into the tree the process before it handed on, and hands
// the tree on; the last one's tree goes to every process. The pass is
// sequential over the processes (one pass over the records, as on one
// process); every later pass of the training is shared.
#pragma once

#include <functional>

#include "vxcluster/ClusterModel.h"
#include "vxcommon/VXStatus.h"
#include "vxneural/network/PassCombiner.h"

namespace VXNeural {
namespace detail {

// What the turns gave, the same on every process.
struct SharedPreClusterOutcome {
  // OK (every process then holds the whole sequence's summary, ready for
  // clustering), or the clustering library's error (with its data) from
  // the process that met it, or codes::kExchangeFailed.
  VXCommon_1_2::VXStatus status;
  // The source of the process that met an error had failed.
  bool sourceFailed = false;
};

// Reads source (this process's share, from where it stands) into model in
// this process's turn. `sourceFailed` tells whether source failed while
// read.
SharedPreClusterOutcome PreClusterInTurns(ClusterModel& model, VXCluster::RecordIterator& source,
                                          PassCombiner& combiner,
                                          const std::function<bool()>& sourceFailed);

}  // namespace detail
}  // namespace VXNeural
