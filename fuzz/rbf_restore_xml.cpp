// Restores of saved RBF models from the xml stream, in two steps and in one.
#include "RestoreTarget.h"
#include "vxneural/algorithm/RBFFactory.h"

VXNN_RESTORE_TARGET(RBFFactory, RBFSettings, true, VXNNCommon::kRBF)
