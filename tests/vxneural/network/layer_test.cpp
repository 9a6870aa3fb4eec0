// MLPLayer: forward pass, activations, weight layout and architecture
// changes, saved forms and their failures, PMML element.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "network_fixtures.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLStream.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/network/MLPLayer.h"
#include "vxneural/network/VXRandom.h"

namespace {

using network_fixtures::CaptureStderr;
using network_fixtures::ThrowsIOException;
using VXNNCommon::ActivationFunction;

std::valarray<double> Values(std::initializer_list<double> v) { return std::valarray<double>(v); }

std::vector<double> Vec(const std::valarray<double>& v) { return {std::begin(v), std::end(v)}; }

// An input layer of two units under a layer of `units` units.
struct TwoLayers {
  TwoLayers(int type, int units, ActivationFunction f, std::vector<int> categories = {})
      : input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, VXMV::gMissingValue,
              VXMV::gMissingValue),
        layer(type, units, &input, f, categories, -0.25, 0.75) {}
  void Input(double a, double b) {
    const double x[] = {a, b};
    input.SetUnitValues(x, 2);
  }
  std::vector<double> Out() const {
    const double* y = layer.GetUnitValues();
    return {y, y + layer.GetNumUnits()};
  }
  MLPLayer input;
  MLPLayer layer;
};

TEST(MLPLayerShape, ConstructionSizesArraysAndZeroesWeights) {
  TwoLayers t(VXNNCommon::kHiddenLayer, 3, VXNNCommon::kTanH);
  EXPECT_EQ(t.input.GetNumUnitsLower(), 0);
  EXPECT_EQ(t.input.GetNumWeights(), 0);
  EXPECT_EQ(t.input.GetUnitCombinations().size(), 0u);
  EXPECT_EQ(t.input.GetDeltas().size(), 0u);
  EXPECT_EQ(t.layer.GetNumUnitsLower(), 3);
  EXPECT_EQ(t.layer.GetNumWeights(), 9);
  EXPECT_EQ(t.layer.GetAccumGradient().size(), 9u);
  EXPECT_EQ(t.layer.GetDeltas().size(), 3u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(t.layer.GetWeights()[i], 0.0);

  MLPLayer empty;
  EXPECT_EQ(empty.GetLayerType(), VXNNCommon::kInputLayer);
  EXPECT_EQ(empty.GetNumUnits(), 0);
  EXPECT_EQ(empty.GetActivationFunction(), VXNNCommon::kIdentity);
  EXPECT_EQ(empty.GetInitWeightLower(), 0.0);
  EXPECT_EQ(empty.GetInitWeightUpper(), 0.0);
}

TEST(MLPLayerForward, CombinationIsBiasPlusWeightedInputs) {
  TwoLayers t(VXNNCommon::kHiddenLayer, 5, VXNNCommon::kTanH);
  // Five rows exercise both the four-row block and the remainder.
  const auto w =
      Values({0.1, 0.2, 0.3, -0.4, 0.5, -0.6, 0.7, 0.8, 0.9, 1.0, -1.1, 1.2, 0.0, 0.5, 2.0});
  t.layer.SetWeights(w, 0);
  t.Input(2.0, -1.0);
  t.layer.ComputeUnitValues(false);
  const double c[] = {0.1 + 0.4 - 0.3, -0.4 + 1.0 + 0.6, 0.7 + 1.6 - 0.9, 1.0 - 2.2 - 1.2,
                      0.0 + 1.0 - 2.0};
  for (int j = 0; j < 5; ++j) {
    EXPECT_NEAR(t.layer.GetUnitCombinations()[j], c[j], 1e-15);
    EXPECT_NEAR(t.Out()[j], std::tanh(c[j]), 1e-15);
  }
}

TEST(MLPLayerForward, SigmoidIsExactlyZeroBelowTheExponentLimit) {
  EXPECT_EQ(MLPLayer::Activate(VXNNCommon::kSigmoid, -709.8), 0.0);
  EXPECT_GT(MLPLayer::Activate(VXNNCommon::kSigmoid, -709.7), 0.0);
  TwoLayers t(VXNNCommon::kHiddenLayer, 2, VXNNCommon::kSigmoid);
  t.layer.SetWeights(Values({-709.8, 0.0, 0.0, -709.7, 0.0, 0.0}), 0);
  t.Input(0.0, 0.0);
  t.layer.ComputeUnitValues(false);
  EXPECT_EQ(t.Out()[0], 0.0);
  EXPECT_GT(t.Out()[1], 0.0);
}

TEST(MLPLayerForward, SafeExpGivesTheMissingValueOnOverflow) {
  EXPECT_EQ(INLayer::SafeExp(0.0), 1.0);
  EXPECT_DOUBLE_EQ(INLayer::SafeExp(709.0), std::exp(709.0));
  EXPECT_EQ(INLayer::SafeExp(709.79), VXMV::gMissingValue);
  EXPECT_EQ(INLayer::SafeExp(1e6), VXMV::gMissingValue);
}

TEST(MLPLayerForward, SoftMaxWorksPerGroupInProbabilitiesOrLogarithms) {
  TwoLayers t(VXNNCommon::kOutputLayer, 5, VXNNCommon::kSoftMax, {2, 3});
  // Combinations 1000 and 999 would overflow a naive exponential.
  t.layer.SetWeights(Values({1000, 0, 0, 999, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}), 0);
  t.Input(1.0, 2.0);
  t.layer.ComputeUnitValues(false);
  const auto p = t.Out();
  EXPECT_NEAR(p[0], 1.0 / (1.0 + std::exp(-1.0)), 1e-15);
  EXPECT_NEAR(p[0] + p[1], 1.0, 1e-15);
  // The second group's combinations are 1, 2 and 0.
  const double z = std::exp(1.0) + std::exp(2.0) + 1.0;
  EXPECT_NEAR(p[2], std::exp(1.0) / z, 1e-15);
  EXPECT_NEAR(p[3], std::exp(2.0) / z, 1e-15);
  EXPECT_NEAR(p[4], 1.0 / z, 1e-15);

  t.layer.ComputeUnitValues(true);
  const auto l = t.Out();
  for (int j = 0; j < 5; ++j) EXPECT_NEAR(l[j], std::log(p[j]), 1e-12);
}

TEST(MLPLayerForward, LeavingOutALowerUnitIsZeroingItsWeights) {
  TwoLayers t(VXNNCommon::kOutputLayer, 3, VXNNCommon::kSoftMax, {3});
  const auto w = Values({0.1, 0.2, 0.3, -0.4, 0.5, -0.6, 0.7, 0.8, 0.9});
  t.layer.SetWeights(w, 0);
  t.Input(0.3, -2.0);
  for (int k = 0; k < 2; ++k) {
    t.layer.ComputeUnitValuesWithout(k, true);
    const auto without = t.Out();
    std::valarray<double> zeroed = w;
    for (int j = 0; j < 3; ++j) zeroed[static_cast<std::size_t>(j * 3 + k + 1)] = 0.0;
    t.layer.SetWeights(zeroed, 0);
    t.layer.ComputeUnitValues(true);
    for (int j = 0; j < 3; ++j) EXPECT_DOUBLE_EQ(without[j], t.Out()[j]) << k;
    t.layer.SetWeights(w, 0);
  }
}

TEST(MLPLayerWeights, CopiesAtOffsetsAndRefusesShortVectors) {
  TwoLayers t(VXNNCommon::kHiddenLayer, 2, VXNNCommon::kTanH);
  std::valarray<double> v = Values({9, 1, 2, 3, 4, 5, 6, 9});
  EXPECT_EQ(t.layer.SetWeights(v, 1), 6);
  std::valarray<double> out(-1.0, 10);
  EXPECT_EQ(t.layer.GetWeights(out, 3), 6);
  EXPECT_EQ(Vec(out), (std::vector<double>{-1, -1, -1, 1, 2, 3, 4, 5, 6, -1}));
  EXPECT_EQ(t.layer.SetWeights(v, 3), 0);
  EXPECT_EQ(t.layer.GetWeights(out, 5), 0);
  EXPECT_EQ(t.layer.GetWeights()[0], 1.0);

  std::vector<double> params;
  double extra = 7.0;
  t.layer.GetUnitParameters(1, params, extra);
  EXPECT_EQ(params, (std::vector<double>{4, 5, 6}));
  EXPECT_EQ(extra, 0.0);
  t.layer.GetUnitParameters(2, params, extra);
  EXPECT_TRUE(params.empty());
  t.input.GetUnitParameters(0, params, extra);
  EXPECT_TRUE(params.empty());
}

TEST(MLPLayerWeights, RandomizeDrawsEveryWeightInStorageOrder) {
  TwoLayers t(VXNNCommon::kHiddenLayer, 3, VXNNCommon::kTanH);
  VXRandom rng(17, true), twin(17, true);
  EXPECT_EQ(t.layer.RandomizeWeights(rng), 9);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(t.layer.GetWeights()[i], twin.Uniform() * 1.0 - 0.25);
  EXPECT_EQ(t.layer.RandomizeWeights(rng, 2.0, 3.0), 9);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(t.layer.GetWeights()[i], twin.Uniform() * 1.0 + 2.0);
  EXPECT_EQ(t.input.RandomizeWeights(rng), 0);
  EXPECT_EQ(rng, twin);
}

TEST(MLPLayerArchitecture, HiddenUnitsAreAppendedAndRemovedAsRows) {
  TwoLayers t(VXNNCommon::kHiddenLayer, 2, VXNNCommon::kTanH);
  const auto w = Values({1, 2, 3, 4, 5, 6});
  t.layer.SetWeights(w, 0);
  VXRandom rng(5, true), twin(5, true);
  EXPECT_EQ(t.layer.AddUnit(rng), 9);
  EXPECT_EQ(t.layer.GetNumUnits(), 3);
  EXPECT_EQ(t.layer.GetUnitCombinations().size(), 3u);
  EXPECT_EQ(t.layer.GetAccumGradient().size(), 9u);
  std::vector<double> expected = {1, 2, 3, 4, 5, 6};
  for (int i = 0; i < 3; ++i) expected.push_back(twin.Uniform() - 0.25);
  std::valarray<double> got(9);
  t.layer.GetWeights(got, 0);
  EXPECT_EQ(Vec(got), expected);

  EXPECT_EQ(t.layer.RemoveUnit(0), 6);
  got.resize(6);
  t.layer.GetWeights(got, 0);
  EXPECT_EQ(Vec(got), std::vector<double>(expected.begin() + 3, expected.end()));
  EXPECT_EQ(t.layer.RemoveUnit(2), 6);  // out of range: unchanged
  EXPECT_EQ(t.layer.GetNumUnits(), 2);
  EXPECT_EQ(t.input.AddUnit(rng), 0);
  EXPECT_EQ(t.input.RemoveUnit(0), 0);
}

TEST(MLPLayerArchitecture, OutputLayerGainsAndLosesALowerUnitInEveryRow) {
  TwoLayers t(VXNNCommon::kOutputLayer, 2, VXNNCommon::kIdentity, {1, 1});
  t.layer.SetWeights(Values({1, 2, 3, 4, 5, 6}), 0);
  VXRandom rng(9, true), twin(9, true);
  EXPECT_EQ(t.layer.AddUnit(rng), 8);
  EXPECT_EQ(t.layer.GetNumUnitsLower(), 4);
  const double a = twin.Uniform() - 0.25, b = twin.Uniform() - 0.25;
  std::valarray<double> got(8);
  t.layer.GetWeights(got, 0);
  EXPECT_EQ(Vec(got), (std::vector<double>{1, 2, 3, a, 4, 5, 6, b}));

  EXPECT_EQ(t.layer.RemoveUnit(0), 6);
  got.resize(6);
  t.layer.GetWeights(got, 0);
  EXPECT_EQ(Vec(got), (std::vector<double>{1, 3, a, 4, 6, b}));
  EXPECT_EQ(t.layer.RemoveUnit(2), 6);  // only lower units 0 and 1 exist
  EXPECT_EQ(t.layer.GetNumUnitsLower(), 3);
}

// A layer with every field set to something recognisable.
std::unique_ptr<MLPLayer> SampleOutputLayer(MLPLayer& input) {
  auto layer = std::make_unique<MLPLayer>(VXNNCommon::kOutputLayer, 3, &input, VXNNCommon::kSoftMax,
                                          std::vector<int>{2, 1}, -0.3, 0.7);
  layer->SetWeights(Values({1.5, -2.25, 3.125, 0.1, 0.2, 0.3, -1e-300, 1e300, 4.0}), 0);
  return layer;
}

void ExpectSameLayer(const MLPLayer& a, const MLPLayer& b) {
  EXPECT_EQ(a.GetLayerType(), b.GetLayerType());
  EXPECT_EQ(a.GetNumUnits(), b.GetNumUnits());
  EXPECT_EQ(a.GetNumUnitsLower(), b.GetNumUnitsLower());
  EXPECT_EQ(a.GetActivationFunction(), b.GetActivationFunction());
  EXPECT_EQ(a.GetInitWeightLower(), b.GetInitWeightLower());
  EXPECT_EQ(a.GetInitWeightUpper(), b.GetInitWeightUpper());
  ASSERT_EQ(a.GetNumWeights(), b.GetNumWeights());
  for (int i = 0; i < a.GetNumWeights(); ++i) EXPECT_EQ(a.GetWeights()[i], b.GetWeights()[i]);
  EXPECT_EQ(a.GetNOutputCategories(), b.GetNOutputCategories());
  EXPECT_EQ(a.GetAccumGradient().size(), b.GetAccumGradient().size());
  EXPECT_EQ(a.GetDeltas().size(), b.GetDeltas().size());
  EXPECT_EQ(a.GetUnitCombinations().size(), b.GetUnitCombinations().size());
}

TEST(MLPLayerPersist, BinaryRoundTripWithDocumentedLayout) {
  MLPLayer input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, VXMV::gMissingValue,
                 VXMV::gMissingValue);
  auto layer = SampleOutputLayer(input);
  std::stringstream s;
  EXPECT_EQ(layer->WriteObject(s), 38 + 8 * 9 + 4 + 4 * 2);
  const std::string bytes = s.str();
  ASSERT_EQ(bytes.size(), 38u + 72 + 12);
  EXPECT_EQ(bytes.substr(0, 6), "MLPLay");
  EXPECT_EQ(bytes.substr(6, 4), std::string("\x02\x00\x00\x00", 4));       // type
  EXPECT_EQ(bytes.substr(10, 4), std::string("\x03\x00\x00\x00", 4));      // units
  EXPECT_EQ(bytes.substr(14, 4), std::string("\x03\x00\x00\x00", 4));      // lower + 1
  EXPECT_EQ(bytes.substr(18, 4), std::string("\x02\x00\x00\x00", 4));      // SoftMax
  EXPECT_EQ(bytes.substr(38, 8), std::string("\0\0\0\0\0\0\xf8\x3f", 8));  // 1.5
  EXPECT_EQ(bytes.substr(110, 4), std::string("\x02\x00\x00\x00", 4));     // category count

  MLPLayer back;
  EXPECT_EQ(back.ReadObject(s), static_cast<int>(bytes.size()));
  ExpectSameLayer(*layer, back);

  std::stringstream si;
  EXPECT_EQ(input.WriteObject(si), 38 + 4);  // an input layer saves no weights
  MLPLayer inputBack(VXNNCommon::kHiddenLayer, 1, &input, VXNNCommon::kTanH, 0, 0);
  inputBack.ReadObject(si);
  ExpectSameLayer(input, inputBack);
  EXPECT_EQ(inputBack.GetUnitValues()[1], 0.0);
}

TEST(MLPLayerPersist, XmlRoundTrip) {
  MLPLayer input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, VXMV::gMissingValue,
                 VXMV::gMissingValue);
  auto layer = SampleOutputLayer(input);
  std::stringstream s;
  EXPECT_EQ(layer->WriteObjectXML(s), 6 + 9 + 1 + 2);
  EXPECT_NE(s.str().find("MLPLayer"), std::string::npos);
  MLPLayer back;
  EXPECT_EQ(back.ReadObjectXML(s), 18);
  ExpectSameLayer(*layer, back);

  std::stringstream si;
  EXPECT_EQ(input.WriteObjectXML(si), 7);
  MLPLayer inputBack;
  EXPECT_EQ(inputBack.ReadObjectXML(si), 7);
  ExpectSameLayer(input, inputBack);
}

// Every strict prefix of a saved layer fails cleanly and changes nothing.
TEST(MLPLayerPersist, TruncatedStreamsFailWithTheirMessages) {
  MLPLayer input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, 0, 0);
  auto layer = SampleOutputLayer(input);
  std::stringstream bin, xml;
  layer->WriteObject(bin);
  layer->WriteObjectXML(xml);
  const std::string b = bin.str(), x = xml.str();
  for (std::size_t n = 0; n < b.size(); ++n) {
    MLPLayer target(VXNNCommon::kHiddenLayer, 1, &input, VXNNCommon::kTanH, 0, 0);
    std::stringstream cut(b.substr(0, n));
    bool threw = false;
    EXPECT_EQ(CaptureStderr([&] { threw = ThrowsIOException([&] { target.ReadObject(cut); }); }),
              "Error reading MLPLayer!\n");
    EXPECT_TRUE(threw) << n;
    EXPECT_EQ(target.GetNumWeights(), 3);
  }
  // Up to, not including, the last character of the object's end mark.
  for (std::size_t n = 0; n < x.rfind('>'); n += 7) {
    MLPLayer target;
    std::stringstream cut(x.substr(0, n));
    bool threw = false;
    EXPECT_EQ(CaptureStderr([&] { threw = ThrowsIOException([&] { target.ReadObjectXML(cut); }); }),
              "Failure reading MLPLayer!\n");
    EXPECT_TRUE(threw) << n;
  }
}

// Puts a little-endian int at a byte offset of a saved layer.
std::string WithInt(std::string bytes, std::size_t at, int value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<std::size_t>(i)] =
        static_cast<char>((static_cast<unsigned>(value) >> (8 * i)) & 0xff);
  return bytes;
}

TEST(MLPLayerPersist, CorruptedFieldsAreRefused) {
  MLPLayer input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, 0, 0);
  auto layer = SampleOutputLayer(input);
  std::stringstream bin;
  layer->WriteObject(bin);
  const std::string b = bin.str();
  std::string badTag = b;
  badTag[3] = 'X';
  const std::vector<std::string> corrupt = {
      badTag,
      WithInt(b, 6, 7),                 // layer type
      WithInt(b, 10, -1),               // units
      WithInt(b, 10, 1 << 30),          // units beyond any plausible layer
      WithInt(b, 14, 0),                // no bias column on an output layer
      WithInt(b, 14, 1 << 20),          // more weights than the stream holds
      WithInt(b, 18, 9),                // activation
      WithInt(b, 110, -3),              // category count
      WithInt(b, 110, 1 << 19),         // categories beyond the stream
      WithInt(b, 114, 3),               // SoftMax groups do not add up to the units
      WithInt(WithInt(b, 6, 1), 18, 2)  // SoftMax on a hidden layer
  };
  for (std::size_t c = 0; c < corrupt.size(); ++c) {
    MLPLayer target;
    std::stringstream in(corrupt[c]);
    bool threw = false;
    EXPECT_EQ(CaptureStderr([&] { threw = ThrowsIOException([&] { target.ReadObject(in); }); }),
              "Error reading MLPLayer!\n")
        << c;
    EXPECT_TRUE(threw) << c;
    EXPECT_EQ(target.GetNumUnits(), 0) << c;
  }

  std::stringstream other;
  {
    VXXML_1_2::XMLObj obj("NNetwork", 2);
    obj.StartObj(other);
    obj.EndObj(other);
  }
  MLPLayer target;
  bool threw = false;
  EXPECT_EQ(CaptureStderr([&] { threw = ThrowsIOException([&] { target.ReadObjectXML(other); }); }),
            "Failure reading MLPLayer!\n");
  EXPECT_TRUE(threw);
}

std::string Attr(const VXXML_1_2::XMLElement& e, const char* name) {
  const std::string* v = e.GetAttribute(name);
  return v ? *v : "<none>";
}
double NumAttr(const VXXML_1_2::XMLElement& e, const char* name) {
  return std::stod(Attr(e, name));
}
std::vector<const VXXML_1_2::XMLElement*> ChildElements(const VXXML_1_2::XMLElement& e) {
  std::vector<const VXXML_1_2::XMLElement*> out;
  for (const auto& c : e.Children())
    if (auto* el = dynamic_cast<const VXXML_1_2::XMLElement*>(c.get())) out.push_back(el);
  return out;
}

TEST(MLPLayerPmml, HiddenLayerNeuronsAndConnections) {
  TwoLayers t(VXNNCommon::kHiddenLayer, 2, VXNNCommon::kSigmoid);
  t.layer.SetWeights(Values({0.5, 1.5, -2.5, 3.5, 4.5, 5.5}), 0);
  int n = -1;
  std::unique_ptr<VXXML_1_2::XMLElement> e(t.layer.CreatePMMLLayer(2, true, 0, n));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->GetName(), "NeuralLayer");
  EXPECT_EQ(NumAttr(*e, "numberOfNeurons"), 2.0);
  EXPECT_EQ(Attr(*e, "activationFunction"), "logistic");
  EXPECT_EQ(n, 6);
  const auto neurons = ChildElements(*e);
  ASSERT_EQ(neurons.size(), 2u);
  EXPECT_EQ(NumAttr(*neurons[1], "id"), 3.0);
  EXPECT_EQ(NumAttr(*neurons[1], "bias"), 3.5);
  const auto cons = ChildElements(*neurons[1]);
  ASSERT_EQ(cons.size(), 2u);
  EXPECT_EQ(NumAttr(*cons[0], "from"), 0.0);
  EXPECT_EQ(NumAttr(*cons[1], "from"), 1.0);
  EXPECT_EQ(NumAttr(*cons[1], "weight"), 5.5);

  std::unique_ptr<VXXML_1_2::XMLElement> plain(t.layer.CreatePMMLLayer(2, false, 0, n));
  EXPECT_EQ(plain->GetAttribute("activationFunction"), nullptr);
  EXPECT_EQ(t.input.CreatePMMLLayer(0, true, 0, n), nullptr);
}

TEST(MLPLayerPmml, OutputLayerWritesTheUnitsOfOneTarget) {
  MLPLayer input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, 0, 0);
  auto layer = SampleOutputLayer(input);
  int n = 0;
  std::unique_ptr<VXXML_1_2::XMLElement> first(layer->CreatePMMLLayer(10, true, 0, n));
  EXPECT_EQ(NumAttr(*first, "numberOfNeurons"), 2.0);
  EXPECT_EQ(Attr(*first, "activationFunction"), "identity");
  EXPECT_EQ(Attr(*first, "normalizationMethod"), "softmax");
  EXPECT_EQ(ChildElements(*first).size(), 2u);
  EXPECT_EQ(n, 6);
  std::unique_ptr<VXXML_1_2::XMLElement> second(layer->CreatePMMLLayer(10, false, 1, n));
  const auto neurons = ChildElements(*second);
  ASSERT_EQ(neurons.size(), 1u);
  EXPECT_EQ(NumAttr(*neurons[0], "id"), 12.0);
  EXPECT_EQ(NumAttr(*ChildElements(*neurons[0])[0], "from"), 8.0);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(layer->CreatePMMLLayer(10, false, 2, n), nullptr);
}

TEST(MLPLayerDisplay, FramedAndLabelled) {
  MLPLayer input(VXNNCommon::kInputLayer, 2, nullptr, VXNNCommon::kIdentity, 0, 0);
  auto layer = SampleOutputLayer(input);
  std::ostringstream out;
  layer->Display(out);
  const std::string s = out.str();
  EXPECT_EQ(s.rfind("Start of MLPLayer display\n", 0), 0u);
  EXPECT_NE(s.find("fLayerType = Output\n"), std::string::npos);
  EXPECT_NE(s.find("fActivFunc = SoftMax\n"), std::string::npos);
  EXPECT_NE(s.find("fUnitValues: unit values or their logarithm"), std::string::npos);
  EXPECT_NE(s.find("fNOutputCategories: 2 1\n"), std::string::npos);
  EXPECT_EQ(s.substr(s.size() - 24), "End of MLPLayer display\n");
}

}  // namespace
