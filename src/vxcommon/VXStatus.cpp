#include "vxcommon/VXStatus.h"

#include <ostream>

namespace VXCommon_1_2 {

int32_t VXStatus::GetDiscreteDatum(int index) const {
  return index >= 0 && index < 3 ? fDiscrete[index] : 0;
}

void VXStatus::SetDiscreteDatum(int index, int32_t value) {
  if (index >= 0 && index < 3) fDiscrete[index] = value;
}

double VXStatus::GetScaleDatum(int index) const {
  return index >= 0 && index < 3 ? fScale[index] : 0.0;
}

void VXStatus::SetScaleDatum(int index, double value) {
  if (index >= 0 && index < 3) fScale[index] = value;
}

bool VXStatus::operator==(const VXStatus& o) const {
  for (int i = 0; i < 3; ++i)
    if (fDiscrete[i] != o.fDiscrete[i] || fScale[i] != o.fScale[i]) return false;
  return fCode == o.fCode && fSeverity == o.fSeverity;
}

std::ostream& operator<<(std::ostream& out, const VXStatus& s) {
  const char* severity = s.IsOK() ? "OK" : s.IsWarning() ? "warning" : "error";
  return out << "status " << s.GetErrorCode() << " (" << severity << ")";
}

}  // namespace VXCommon_1_2
