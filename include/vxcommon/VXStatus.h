// The status value returned by most operations and stored by algorithms and
// factories: an error code, a severity and six data that qualify it.
#pragma once

#include <cstdint>
#include <iosfwd>

namespace VXCommon_1_2 {

/// An outcome: OK (code 0, severity 0), a warning (severity +1: the call did
/// something useful, less than asked) or an error (severity -1: refused or
/// failed), with a code that the library returning it documents and up to
/// three whole-number and three real data that qualify it.
class VXStatus {
 public:
  VXStatus() = default;
  /// Severity +1 (warning) when isWarning is true, -1 (error) otherwise.
  VXStatus(int32_t code, bool isWarning) : fCode(code), fSeverity(isWarning ? 1 : -1) {}

  /// The code, 0 when OK.
  int32_t GetErrorCode() const { return fCode; }
  /// -1 error, 0 OK, +1 warning.
  int16_t GetSeverity() const { return fSeverity; }
  /// Neither warning nor error.
  bool IsOK() const { return fSeverity == 0; }
  /// Refused or failed.
  bool IsError() const { return fSeverity < 0; }
  /// Done, but less than asked.
  bool IsWarning() const { return fSeverity > 0; }

  ///@{
  /// Index 0..2; other indices read 0 and are ignored on write.
  int32_t GetDiscreteDatum(int index) const;
  void SetDiscreteDatum(int index, int32_t value);
  double GetScaleDatum(int index) const;
  void SetScaleDatum(int index, double value);
  ///@}

  ///@{
  /// Equal when code, severity and every datum are equal.
  bool operator==(const VXStatus& other) const;
  bool operator!=(const VXStatus& other) const { return !(*this == other); }
  ///@}

 private:
  int32_t fCode = 0;
  int16_t fSeverity = 0;
  int32_t fDiscrete[3] = {0, 0, 0};
  double fScale[3] = {0.0, 0.0, 0.0};
};

/// One line: the code, the severity and the data that are not 0.
std::ostream& operator<<(std::ostream& out, const VXStatus& status);

}  // namespace VXCommon_1_2
