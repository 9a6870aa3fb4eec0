// The status value returned by most operations and stored by algorithms and
// factories: an error code, a severity and six data that qualify it.
#pragma once

#include <cstdint>
#include <iosfwd>

namespace VXCommon_1_2 {

class VXStatus {
 public:
  VXStatus() = default;
  // Severity +1 (warning) when isWarning is true, -1 (error) otherwise.
  VXStatus(int32_t code, bool isWarning) : fCode(code), fSeverity(isWarning ? 1 : -1) {}

  int32_t GetErrorCode() const { return fCode; }
  int16_t GetSeverity() const { return fSeverity; }
  bool IsOK() const { return fSeverity == 0; }
  bool IsError() const { return fSeverity < 0; }
  bool IsWarning() const { return fSeverity > 0; }

  // Index 0..2; other indices read 0 and are ignored on write.
  int32_t GetDiscreteDatum(int index) const;
  void SetDiscreteDatum(int index, int32_t value);
  double GetScaleDatum(int index) const;
  void SetScaleDatum(int index, double value);

  bool operator==(const VXStatus& other) const;
  bool operator!=(const VXStatus& other) const { return !(*this == other); }

 private:
  int32_t fCode = 0;
  int16_t fSeverity = 0;
  int32_t fDiscrete[3] = {0, 0, 0};
  double fScale[3] = {0.0, 0.0, 0.0};
};

std::ostream& operator<<(std::ostream& out, const VXStatus& status);

}  // namespace VXCommon_1_2
