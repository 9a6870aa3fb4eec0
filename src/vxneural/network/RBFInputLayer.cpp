#include "vxneural/network/RBFInputLayer.h"

#include <algorithm>
#include <ostream>

#include "network/ArrayData.h"
#include "network/InputUnits.h"
#include "persist/BinaryIO.h"
#include "persist/Display.h"
#include "persist/XmlIO.h"

using VXNeural::detail::Data;

namespace {

constexpr const char* kClassName = "RBFInputLayer";
constexpr const char* kBinaryTag = "RBFInp";
// Layer objects sit inside the network's object, itself inside the
// algorithm's.
constexpr int kXmlLevel = 2;
// The start and the end of an RBF layer's XML object count as values.
constexpr int kXmlFrame = 2;

// valuesLeft: how many more values the stream could hold.
template <typename Reader>
int ReadUnits(Reader& r, std::size_t valuesLeft) {
  const int units = r.Int();
  if (units < 0 || units > VXNeural::detail::kMaxCategories) r.Fail();
  if (!VXNeural::detail::InputUnitsPlausible(units, valuesLeft)) r.Fail();
  return units;
}

}  // namespace

RBFInputLayer::RBFInputLayer() : RBFInputLayer(0) {}

RBFInputLayer::RBFInputLayer(int units)
    : fNUnits(std::max(units, 0)), fUnitValues(0.0, static_cast<std::size_t>(fNUnits)) {}

RBFInputLayer::~RBFInputLayer() = default;

void RBFInputLayer::ResetUnitValues() { fUnitValues = 0.0; }

void RBFInputLayer::SetUnitValues(const double* values, int n) {
  const int count = std::min(n, fNUnits);
  if (count > 0) std::copy(values, values + count, Data(fUnitValues));
}

double* RBFInputLayer::GetUnitValues() { return Data(fUnitValues); }

int RBFInputLayer::WriteObject(std::ostream& out) const {
  VXNeural::detail::BinWriter w(out);
  w.Tag(kBinaryTag).Int(fNUnits);
  return w.Bytes();
}

int RBFInputLayer::ReadObject(std::istream& in) {
  VXNeural::detail::BinReader r(in, kClassName);
  r.ExpectTag(kBinaryTag);
  fNUnits = ReadUnits(r, r.Remaining() / sizeof(double));
  fUnitValues.resize(static_cast<std::size_t>(fNUnits), 0.0);
  return r.Bytes();
}

int RBFInputLayer::WriteObjectXML(std::ostream& out) const {
  VXNeural::detail::XmlWriter w(out, kClassName, kXmlLevel);
  w.Int(fNUnits);
  return w.End() + kXmlFrame;
}

int RBFInputLayer::ReadObjectXML(std::istream& in) {
  VXNeural::detail::XmlReader r(in, kClassName, kClassName);
  const int units = ReadUnits(r, VXNeural::detail::StreamRemaining(in) / VXXML_1_2::kMinValueBytes);
  const int count = r.End();
  fNUnits = units;
  fUnitValues.resize(static_cast<std::size_t>(fNUnits), 0.0);
  return count + kXmlFrame;
}

VXXML_1_2::XMLElement* RBFInputLayer::CreatePMMLLayer(int, bool, int, int& nWeights) const {
  nWeights = 0;
  return nullptr;
}

void RBFInputLayer::GetUnitParameters(int, std::vector<double>& params, double& extra) const {
  params.clear();
  extra = 0.0;
}

void RBFInputLayer::Display(std::ostream& out) const {
  using VXNeural::detail::ShowValue;
  using VXNeural::detail::ShowVector;
  VXNeural::detail::DisplayPrecision precision(out);
  out << "\nStart of RBFInputLayer display\n";
  ShowValue(out, "fNUnits = ", fNUnits);
  ShowVector(out, "fUnitValues", fUnitValues);
  out << "End of RBFInputLayer display\n";
}
