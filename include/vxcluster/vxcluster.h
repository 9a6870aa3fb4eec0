// Umbrella header of the clustering library.
#pragma once

#include "vxcluster/ClusterModel.h"
#include "vxcluster/ClusterRecord.h"
#include "vxcluster/ClusterSettings.h"
#include "vxcluster/ClusterStats.h"
#include "vxcluster/ClusterStatus.h"
#include "vxcluster/ClusterVarList.h"
