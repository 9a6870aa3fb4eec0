// The clustering library's share of the host's threads (ClusterSettings'
// thread count and runner): it starts none of its own when the host lends
// it a runner.
#pragma once

#include <functional>

#include "vxcluster/ClusterSettings.h"

namespace VXCluster {

// Calls piece(p) once for every p in [0, pieces), on up to `threads`
// threads through the runner (or threads started for the call when there
// is none), and returns when all are done. Each piece must write only what
// is its own; which thread runs which piece is left to chance, so the
// pieces, not the threads, must decide every result.
void ForPieces(int threads, const ClusterSettings::Runner& runner, int pieces,
               const std::function<void(int)>& piece);

}  // namespace VXCluster
