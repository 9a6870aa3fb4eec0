// Restores of saved MLP models from the binary stream, in two steps and in one.
#include "RestoreTarget.h"
#include "vxneural/algorithm/MLPFactory.h"

VXNN_RESTORE_TARGET(MLPFactory, MLPSettings, false, VXNNCommon::kMLP)
