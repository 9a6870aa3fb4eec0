// The encoder of a continuous variable: one linear map from raw values to
// network units, y = x * slope + intercept, and back.
#pragma once

#include <array>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "vxcommon/VXMissing.h"
#include "vxneural/VXNNCommon.h"
#include "vxneural/variables/INNEncoder.h"
#include "vxneural/variables/NNNumericUserMissing.h"

class NNContVar;

/// Maps a continuous variable's raw values x to one network unit,
/// y = x * slope + intercept, with optional numeric user-missing values.
class NNLinearEncoder : public INNEncoder {
 public:
  /// Range -100..100, identity map.
  NNLinearEncoder();
  /// The given range, identity map.
  NNLinearEncoder(double min, double max);
  /// Range x1..x2, the line through (x1, y1) and (x2, y2). When x1 == x2 there
  /// is no such line and the map is the identity.
  NNLinearEncoder(double x1, double y1, double x2, double y2);
  /// The standardization of var by mode. The range is var's min and max,
  /// widened by its correction when var is an Output. Preconditions that
  /// NNContVar::SetupEncoder checks (variance > 0 for mode 1, min < max for
  /// modes 2 and 3) fall back to the identity map here, as do unknown modes.
  /// No user-missing object is attached.
  NNLinearEncoder(VXNNCommon::Standardization mode, const NNContVar& var);
  /// A deep copy, user-missing values included.
  NNLinearEncoder(const NNLinearEncoder& other);
  /// A deep copy, user-missing values included.
  NNLinearEncoder& operator=(const NNLinearEncoder& other);
  ~NNLinearEncoder() override;

  EncoderType GetEncoderType() const override { return kLinearEncoder; }
  int GetNumberOfCategories() const override { return 1; }
  /// A linear encoder keeps no labels: these do nothing and return null.
  void SetValueLabels(const std::vector<std::string>&) override {}
  void SetValueLabel(int, const std::string&) override {}
  const std::vector<std::string>* GetValueLabels() const override { return nullptr; }
  /// Accepts an NNNumericUserMissing (or null).
  bool SetUserMissingInfo(INNUserMissing* um) override;
  INNUserMissing* GetUserMissingInfo() override;
  const INNUserMissing* GetUserMissingInfo() const override;
  NNLinearEncoder* Clone() const override { return new NNLinearEncoder(*this); }
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out, int level) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;

  /// The missing value for a system- or user-missing x. Inline: scoring
  /// calls it for every continuous input of every record.
  double Normalize(double x) const {
    if (x == VXMV::gMissingValue) return VXMV::gMissingValue;
    if (fUserMissing && fUserMissing->Contains(x)) return VXMV::gMissingValue;
    return x * fSlope + fIntercept;
  }
  /// The raw value of unit value y. No missing-value test: the caller tests.
  double Unnormalize(double y) const { return (y - fIntercept) / fSlope; }
  /// The map's slope.
  double GetSlope() const { return fSlope; }
  /// The map's intercept.
  double GetIntercept() const { return fIntercept; }
  /// The low end of the raw range.
  double GetMin() const { return fMin; }
  /// The high end of the raw range.
  double GetMax() const { return fMax; }
  /// min, Normalize(min), max, Normalize(max): the two points of the map.
  std::array<double, 4> GetLinearNormData() const;

 private:
  double fMin = -100.0;
  double fMax = 100.0;
  double fSlope = 1.0;
  double fIntercept = 0.0;
  std::unique_ptr<NNNumericUserMissing> fUserMissing;
};
