// Restores of saved RBF models from the binary stream, in two steps and in one.
#include "RestoreTarget.h"
#include "vxneural/algorithm/RBFFactory.h"

VXNN_RESTORE_TARGET(RBFFactory, RBFSettings, false, VXNNCommon::kRBF)
