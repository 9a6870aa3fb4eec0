// What `vxnn train` tells about the models it compared: with --network
// auto each network's figures on the test records, its time, and which was
// kept; and the sizes the selection tried.
#pragma once

#include <ostream>

#include "report/Json.h"
#include "training/Training.h"

namespace vxnn {

// Nothing unless the result comes from --network auto.
void PrintNetworksCompared(std::ostream& out, const TrainResult& result);
// The "networks_compared" member: an array, or null without --network auto;
// then "comparison_baseline_loss" and "comparison_kept_because", null
// without it.
void NetworksComparedJson(JsonWriter& j, const TrainResult& result);

// Every size the selection tried, with its mean held-out loss over the
// folds, and the one kept; nothing when the options fixed the size.
void PrintSizeSelections(std::ostream& out, const TrainResult& result);
// The "size_selection" member: an array with one object per network whose
// size was selected, or null.
void SizeSelectionsJson(JsonWriter& j, const TrainResult& result);

}  // namespace vxnn
