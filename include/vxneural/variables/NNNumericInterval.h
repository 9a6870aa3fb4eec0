// A closed numeric range of user-missing values, either end of which may be
// open (infinite).
#pragma once

#include <iosfwd>

class NNNumericInterval {
 public:
  // The empty interval (0, -1).
  NNNumericInterval() = default;
  // A bound equal to the global missing value makes that end open.
  NNNumericInterval(double low, double high);

  // Store the end (the missing value opens it) and report whether the
  // interval is still ordered: left <= right.
  bool SetLeftEnd(double x);
  bool SetRightEnd(double x);
  // The global missing value for an open end.
  double GetLeftEnd() const;
  double GetRightEnd() const;
  bool IsLeftOpen() const;
  bool IsRightOpen() const;

  // left <= x <= right.
  bool Contains(double x) const { return fLeftEnd <= x && x <= fRightEnd; }
  bool IsEmpty() const { return fRightEnd < fLeftEnd; }
  bool operator==(const NNNumericInterval& other) const {
    return fLeftEnd == other.fLeftEnd && fRightEnd == other.fRightEnd;
  }
  bool operator!=(const NNNumericInterval& other) const { return !(*this == other); }

  // Binary: tag "NNNumInt", the two ends as stored (open ends as -/+DBL_MAX).
  // XML: object "NNNumericInterval", open ends written as the missing value.
  int WriteObject(std::ostream& out) const;
  int ReadObject(std::istream& in);
  int WriteObjectXML(std::ostream& out, int level) const;
  int ReadObjectXML(std::istream& in);
  void Display(std::ostream& out) const;

 private:
  double fLeftEnd = 0.0;
  double fRightEnd = -1.0;
};
