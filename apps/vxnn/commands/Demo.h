// The main job on the embedded iris data, end to end.
#pragma once

#include <ostream>

namespace vxnn {

// Trains on 70% of the embedded iris data with the default settings,
// reports the figures on the held-out 30% with the confusion matrix and
// predictor importance, saves the model in both forms to temporary files,
// reloads each and checks that the reloaded models score every held-out
// record exactly as the trained one. Returns the exit code: 0 when the
// reloaded models agree.
int RunDemo(std::ostream& out, std::ostream& err);

}  // namespace vxnn
