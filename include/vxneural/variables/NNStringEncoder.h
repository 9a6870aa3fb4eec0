// The encoder of a string categorical variable: each distinct string gets a
// code 0, 1, 2, ... in order of first appearance. The empty string is an
// ordinary category unless it is declared user-missing.
#pragma once

#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vxneural/variables/INNEncoder.h"
#include "vxneural/variables/NNStringUserMissing.h"

/// Encodes a string categorical variable: each distinct string gets a code
/// 0, 1, 2, ... in order of first appearance.
class NNStringEncoder : public INNEncoder {
 public:
  /// Reserves room for expectedCount categories.
  explicit NNStringEncoder(int expectedCount = 0);
  /// Encodes every string in order.
  explicit NNStringEncoder(const std::vector<std::string>& values);
  /// A deep copy: categories, labels and user-missing values.
  NNStringEncoder(const NNStringEncoder& other);
  /// A deep copy: categories, labels and user-missing values.
  NNStringEncoder& operator=(const NNStringEncoder& other);
  ~NNStringEncoder() override;

  EncoderType GetEncoderType() const override { return kStringEncoder; }
  int GetNumberOfCategories() const override { return fLastCode + 1; }
  void SetValueLabels(const std::vector<std::string>& labels) override { fValueLabels = labels; }
  /// Pads the labels with empty strings up to the number of categories, then
  /// sets entry index when it names a category.
  void SetValueLabel(int index, const std::string& label) override;
  const std::vector<std::string>* GetValueLabels() const override { return &fValueLabels; }
  /// Accepts an NNStringUserMissing (or null).
  bool SetUserMissingInfo(INNUserMissing* um) override;
  INNUserMissing* GetUserMissingInfo() override;
  const INNUserMissing* GetUserMissingInfo() const override;
  NNStringEncoder* Clone() const override { return new NNStringEncoder(*this); }
  int WriteObject(std::ostream& out) const override;
  int ReadObject(std::istream& in) override;
  int WriteObjectXML(std::ostream& out, int level) const override;
  int ReadObjectXML(std::istream& in) override;
  void Display(std::ostream& out) const override;
  /// Appends the category strings to values in code order.
  virtual void GetCateValues(std::vector<std::string>& values) const;

  /// The code of s, adding s as a new category when unknown; -1 (nothing
  /// added) for a user-missing s.
  int Encode(const std::string& s);
  /// The code of s, or -1 where Encode would add.
  int EncodeConst(const std::string& s) const;
  /// "" for a code that names no category.
  std::string Decode(int code) const;

 private:
  /// Points fLinks[code] at the map's own copy of each key.
  void CreateLinks();
  void Clear();

  std::map<std::string, int> fCodeMap;
  std::vector<const std::string*> fLinks;
  std::vector<std::string> fValueLabels;
  int fLastCode = -1;
  std::unique_ptr<NNStringUserMissing> fUserMissing;
};
