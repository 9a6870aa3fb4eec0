// The status type belongs to the common library so that every sibling library
// (the clustering library among them) returns the same type; this header keeps
// the component's own include path working.
#pragma once

#include "vxcommon/VXStatus.h"
