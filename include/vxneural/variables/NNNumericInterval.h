// A closed numeric range of user-missing values, either end of which may be
// open (infinite).
#pragma once

#include <iosfwd>

/// A closed range [left, right] of numeric user-missing values; an open end
/// is stored as -DBL_MAX or +DBL_MAX.
class NNNumericInterval {
 public:
  /// The empty interval (0, -1).
  NNNumericInterval() = default;
  /// A bound equal to the global missing value makes that end open.
  NNNumericInterval(double low, double high);

  ///@{
  /// Store the end (the missing value opens it) and report whether the
  /// interval is still ordered: left <= right.
  bool SetLeftEnd(double x);
  bool SetRightEnd(double x);
  ///@}
  ///@{
  /// The end; the global missing value for an open end.
  double GetLeftEnd() const;
  double GetRightEnd() const;
  ///@}
  ///@{
  /// True when that end is open (infinite).
  bool IsLeftOpen() const;
  bool IsRightOpen() const;
  ///@}

  /// left <= x <= right.
  bool Contains(double x) const { return fLeftEnd <= x && x <= fRightEnd; }
  /// True when right < left (then nothing is contained).
  bool IsEmpty() const { return fRightEnd < fLeftEnd; }
  /// Equal when both stored ends are equal.
  bool operator==(const NNNumericInterval& other) const {
    return fLeftEnd == other.fLeftEnd && fRightEnd == other.fRightEnd;
  }
  /// Not operator==.
  bool operator!=(const NNNumericInterval& other) const { return !(*this == other); }

  /// Binary form: tag "NNNumInt", the two ends as stored (open ends as
  /// -/+DBL_MAX). Returns the bytes written.
  int WriteObject(std::ostream& out) const;
  /// Reads the binary form; returns the bytes read. A read that fails writes
  /// one line to standard error and throws a new VXNeural::IOException by
  /// pointer.
  int ReadObject(std::istream& in);
  /// XML object "NNNumericInterval", open ends written as the missing value.
  int WriteObjectXML(std::ostream& out, int level) const;
  /// Reads the XML form (the missing value opens an end); fails as
  /// ReadObject does.
  int ReadObjectXML(std::istream& in);
  /// One readable line, "[ left, right ]" or with an infinite end.
  void Display(std::ostream& out) const;

 private:
  double fLeftEnd = 0.0;
  double fRightEnd = -1.0;
};
