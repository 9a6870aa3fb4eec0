// What `vxnn train --network auto` tells about the networks it compared:
// each one's figures on the test records, its time, and which was kept.
#pragma once

#include <ostream>

#include "Json.h"
#include "Training.h"

namespace vxnn {

// Nothing unless the result comes from --network auto.
void PrintNetworksCompared(std::ostream& out, const TrainResult& result);
// The "networks_compared" member: an array, or null without --network auto;
// then "comparison_baseline_loss" and "comparison_kept_because", null
// without it.
void NetworksComparedJson(JsonWriter& j, const TrainResult& result);

}  // namespace vxnn
