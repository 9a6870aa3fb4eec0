// The encoder of a numeric categorical variable: each distinct value gets a
// code 0, 1, 2, ... in order of first appearance.
#pragma once

#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vxneural/variables/INNEncoder.h"
#include "vxneural/variables/NNNumericUserMissing.h"

/// Encodes a numeric categorical variable: each distinct value gets a code
/// 0, 1, 2, ... in order of first appearance.
class NNCatNumEncoder : public INNEncoder {
 public:
  /// Reserves room for expectedCount categories.
  explicit NNCatNumEncoder(int expectedCount = 0);
  /// Encodes every value in order.
  explicit NNCatNumEncoder(const std::vector<double>& values);
  /// A deep copy: categories, labels and user-missing values.
  NNCatNumEncoder(const NNCatNumEncoder& other);
  /// A deep copy: categories, labels and user-missing values.
  NNCatNumEncoder& operator=(const NNCatNumEncoder& other);
  ~NNCatNumEncoder() override;

  EncoderType GetEncoderType() const override { return kCatNumEncoder; }
  int GetNumberOfCategories() const override { return static_cast<int>(fCodeMap.size()); }
  /// Replaces the labels as given (the vector may be shorter than the
  /// category list).
  void SetValueLabels(const std::vector<std::string>& labels) override { fValueLabels = labels; }
  /// Pads the labels with empty strings up to the number of categories, then
  /// sets entry index when it names a category.
  void SetValueLabel(int index, const std::string& label) override;
  const std::vector<std::string>* GetValueLabels() const override { return &fValueLabels; }
  /// Accepts an NNNumericUserMissing (or null).
  bool SetUserMissingInfo(INNUserMissing* um) override;
  INNUserMissing* GetUserMissingInfo() override;
  const INNUserMissing* GetUserMissingInfo() const override;
  NNCatNumEncoder* Clone() const override { return new NNCatNumEncoder(*this); }
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out, int level) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;
  /// Index = code.
  virtual const std::vector<double>& GetCateValues() const { return fCateValues; }

  /// The code of x, adding x as a new category when unknown; -1 (nothing
  /// added) for a system- or user-missing x, or NaN, which no code can match.
  int Encode(double x);
  /// The code of x, or -1 where Encode would add.
  int EncodeConst(double x) const;
  /// The missing value for a code that names no category.
  double Decode(int code) const;

 private:
  void Clear();

  std::map<double, int> fCodeMap;
  std::vector<double> fCateValues;
  std::vector<std::string> fValueLabels;
  int fLastCode = -1;
  std::unique_ptr<NNNumericUserMissing> fUserMissing;
};
