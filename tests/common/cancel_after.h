// A host's cancel object that says yes from its (n+1)-th question on, for
// the tests of where and how often a training asks.
#pragma once

#include "vxcommon/Callbacks.h"

struct CancelAfter : VXCommon_1_2::VXQueryCancel {
  explicit CancelAfter(int n) : left(n) {}
  bool QueryCancel() override { return --left < 0; }
  int left;
};
