// Umbrella header: every exported class of the component.
#pragma once

#include "vxcommon/vxcommon.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/VXStatus.h"
#include "vxneural/variables/INNEncoder.h"
#include "vxneural/variables/INNUserMissing.h"
#include "vxneural/variables/INNVariable.h"
#include "vxneural/variables/NNCatNumEncoder.h"
#include "vxneural/variables/NNCatVar.h"
#include "vxneural/variables/NNContVar.h"
#include "vxneural/variables/NNLinearEncoder.h"
#include "vxneural/variables/NNNumericInterval.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"
#include "vxneural/variables/NNVarList.h"
