// Umbrella header of the host common library.
#pragma once

#include "vxcommon/Callbacks.h"
#include "vxcommon/Record.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/VXStatus.h"
#include "vxcommon/VXVarList.h"
#include "vxcommon/XMLStream.h"
#include "vxcommon/XMLTree.h"
