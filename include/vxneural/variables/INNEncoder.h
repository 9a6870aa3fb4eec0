// An encoder translates between a variable's raw values and network units.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

class INNUserMissing;

class INNEncoder {
 public:
  enum EncoderType { kNoEncoder = 0, kLinearEncoder = 1, kCatNumEncoder = 2, kStringEncoder = 3 };

  virtual ~INNEncoder() = default;
  virtual EncoderType GetEncoderType() const = 0;
  virtual int GetNumberOfCategories() const = 0;
  virtual void SetValueLabels(const std::vector<std::string>& labels) = 0;
  virtual void SetValueLabel(int index, const std::string& label) = 0;
  // Null when the encoder keeps no labels.
  virtual const std::vector<std::string>* GetValueLabels() const = 0;
  // Takes ownership of um and returns true, or returns false and leaves um
  // with the caller when its data type does not suit the encoder. Null clears.
  virtual bool SetUserMissingInfo(INNUserMissing* um) = 0;
  virtual INNUserMissing* GetUserMissingInfo() = 0;
  virtual const INNUserMissing* GetUserMissingInfo() const = 0;
  virtual INNEncoder* Clone() const = 0;
  virtual int WriteObject(std::ostream& out) const = 0;
  virtual int ReadObject(std::istream& in) = 0;
  virtual int WriteObjectXML(std::ostream& out, int level) const = 0;
  virtual int ReadObjectXML(std::istream& in) = 0;
  virtual void Display(std::ostream& out) const = 0;
};
