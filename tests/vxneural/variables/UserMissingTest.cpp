#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <memory>
#include <sstream>

#include "StreamHelpers.h"
#include "vxcommon/VXMissing.h"
#include "vxcommon/XMLTree.h"
#include "vxneural/variables/NNNumericInterval.h"
#include "vxneural/variables/NNNumericUserMissing.h"
#include "vxneural/variables/NNStringUserMissing.h"

using vars_test::Binary;
using vars_test::Read;
using vars_test::Xml;
using VXMV::gMissingValue;
using VXXML_1_2::XMLElement;

namespace {

// Takes ownership of exported elements.
std::vector<std::unique_ptr<XMLElement>> Owned(const std::vector<XMLElement*>& raw) {
  std::vector<std::unique_ptr<XMLElement>> owned;
  for (XMLElement* e : raw) owned.emplace_back(e);
  return owned;
}

std::string Attr(const XMLElement& e, const std::string& name) {
  const std::string* value = e.GetAttribute(name);
  return value ? *value : "<absent>";
}

TEST(NumericInterval, OpenLeftEndFromMissingValue) {
  const NNNumericInterval interval(gMissingValue, 0.0);
  EXPECT_TRUE(interval.Contains(-5.0));
  EXPECT_TRUE(interval.Contains(0.0));
  EXPECT_FALSE(interval.Contains(0.5));
  EXPECT_EQ(interval.GetLeftEnd(), gMissingValue);
  EXPECT_EQ(interval.GetRightEnd(), 0.0);
  EXPECT_TRUE(interval.IsLeftOpen());
  EXPECT_FALSE(interval.IsRightOpen());
}

TEST(NumericInterval, OpenRightEndFromMissingValue) {
  const NNNumericInterval interval(10.0, gMissingValue);
  EXPECT_TRUE(interval.Contains(1e300));
  EXPECT_TRUE(interval.Contains(10.0));
  EXPECT_FALSE(interval.Contains(9.999));
  EXPECT_EQ(interval.GetRightEnd(), gMissingValue);
}

TEST(NumericInterval, DefaultIsEmpty) {
  const NNNumericInterval interval;
  EXPECT_TRUE(interval.IsEmpty());
  for (double x : {-1.0, -0.5, 0.0, 1.0}) EXPECT_FALSE(interval.Contains(x)) << x;
}

TEST(NumericInterval, SettingEndsReportsOrder) {
  NNNumericInterval interval(0.0, 1.0);
  EXPECT_FALSE(interval.SetLeftEnd(5.0));
  EXPECT_EQ(interval.GetLeftEnd(), 5.0);
  EXPECT_TRUE(interval.IsEmpty());
  EXPECT_TRUE(interval.SetRightEnd(gMissingValue));
  EXPECT_TRUE(interval.IsRightOpen());
  EXPECT_TRUE(interval.SetLeftEnd(gMissingValue));
  EXPECT_TRUE(interval.Contains(-1e308) && interval.Contains(1e308));
  EXPECT_EQ(interval, NNNumericInterval(gMissingValue, gMissingValue));
  EXPECT_NE(interval, NNNumericInterval(0.0, gMissingValue));
}

TEST(NumericInterval, RoundTripsKeepOpenEnds) {
  const NNNumericInterval interval(-2.5, gMissingValue);
  for (bool xml : {false, true}) {
    NNNumericInterval back(7.0, 8.0);
    const auto r = Read(back, xml ? Xml(interval) : Binary(interval), xml);
    EXPECT_FALSE(r.threw) << r.err;
    EXPECT_EQ(back, interval);
    EXPECT_TRUE(back.IsRightOpen());
    EXPECT_EQ(back.GetLeftEnd(), -2.5);
  }
  // The binary record holds the ends as stored: tag, then -2.5 and +DBL_MAX.
  const std::string bytes = Binary(interval);
  ASSERT_EQ(bytes.size(), 24u);
  EXPECT_EQ(bytes.substr(0, 8), "NNNumInt");
  double right;
  std::memcpy(&right, bytes.data() + 16, 8);
  EXPECT_EQ(right, DBL_MAX);
}

TEST(NumericUserMissing, ContainsValuesThenInterval) {
  NNNumericUserMissing um;
  um.AddValue(99.0, "no answer");
  um.AddValue(-1.0, "");
  EXPECT_TRUE(um.Contains(99.0));
  EXPECT_TRUE(um.Contains(-1.0));
  EXPECT_FALSE(um.Contains(5.0));
  EXPECT_FALSE(um.HasInterval());
  EXPECT_EQ(um.GetInterval(), nullptr);
  um.SetInterval(NNNumericInterval(3.0, 6.0));
  EXPECT_TRUE(um.HasInterval());
  EXPECT_TRUE(um.Contains(5.0));
  EXPECT_TRUE(um.Contains(6.0));
  EXPECT_FALSE(um.Contains(6.5));
  EXPECT_EQ(um.GetNDiscreteValues(), 2);
  EXPECT_EQ(um.GetDataType(), INNUserMissing::kNumericData);
}

TEST(UserMissingEquality, ComparesValuesInOrderNotLabels) {
  NNNumericUserMissing a, b, c;
  a.AddValue(1, "a");
  a.AddValue(2, "b");
  b.AddValue(1, "x");
  b.AddValue(2, "y");
  c.AddValue(2, "a");
  c.AddValue(1, "b");
  EXPECT_TRUE(a.IsEqualTo(&b));
  EXPECT_FALSE(a.IsEqualTo(&c));
  EXPECT_FALSE(a.IsEqualTo(nullptr));
  b.SetInterval(NNNumericInterval(0, 1));
  EXPECT_FALSE(a.IsEqualTo(&b));
  a.SetInterval(NNNumericInterval(0, 2));
  EXPECT_FALSE(a.IsEqualTo(&b));
  a.SetInterval(NNNumericInterval(0, 1));
  EXPECT_TRUE(a.IsEqualTo(&b));

  NNStringUserMissing s1, s2;
  s1.AddValue("N/A", "one");
  s2.AddValue("N/A", "two");
  EXPECT_TRUE(s1.IsEqualTo(&s2));
  EXPECT_FALSE(s1.IsEqualTo(&a));
  EXPECT_FALSE(a.IsEqualTo(&s1));
  s2.AddValue("?", "");
  EXPECT_FALSE(s1.IsEqualTo(&s2));
}

TEST(StringUserMissing, ExactCaseSensitiveMatch) {
  NNStringUserMissing um;
  um.AddValue("NA", "not available");
  EXPECT_TRUE(um.Contains("NA"));
  EXPECT_FALSE(um.Contains("na"));
  EXPECT_FALSE(um.Contains("NA "));
  EXPECT_FALSE(um.HasInterval());
  EXPECT_EQ(um.GetDataType(), INNUserMissing::kStringData);
}

TEST(UserMissingCopies, CloneAndAssignAreIndependent) {
  NNNumericUserMissing um;
  um.AddValue(1, "one");
  um.SetInterval(NNNumericInterval(5, 6));
  std::unique_ptr<NNNumericUserMissing> clone(um.Clone());
  NNNumericUserMissing assigned;
  assigned = um;
  um.AddValue(2, "two");
  EXPECT_EQ(clone->GetNDiscreteValues(), 1);
  EXPECT_EQ(assigned.GetNDiscreteValues(), 1);
  EXPECT_TRUE(clone->Contains(5.5));
  EXPECT_FALSE(clone->Contains(2));
}

TEST(UserMissingExport, NumericIntervalEndsAndValues) {
  NNNumericUserMissing um;
  um.SetInterval(NNNumericInterval(gMissingValue, 0.0));
  um.AddValue(99.0, "no answer");
  um.AddValue(98.0, "");
  auto elements = Owned(um.ExportXML());
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_EQ(elements[0]->GetName(), "Extension");
  EXPECT_EQ(Attr(*elements[0], "extender"), kPMMLExtender);
  EXPECT_EQ(Attr(*elements[0], "name"), "invalidRangeUpper");
  EXPECT_EQ(Attr(*elements[0], "value"), "0");
  EXPECT_EQ(elements[1]->GetName(), "Value");
  EXPECT_EQ(Attr(*elements[1], "value"), "99");
  EXPECT_EQ(Attr(*elements[1], "displayValue"), "no answer");
  EXPECT_EQ(Attr(*elements[1], "property"), "missing");
  EXPECT_EQ(Attr(*elements[2], "displayValue"), "<absent>");
  EXPECT_EQ(Attr(*elements[2], "property"), "missing");

  um.SetInterval(NNNumericInterval(-3.0, 4.0));
  elements = Owned(um.ExportXML());
  ASSERT_EQ(elements.size(), 4u);
  EXPECT_EQ(Attr(*elements[0], "name"), "invalidRangeLower");
  EXPECT_EQ(Attr(*elements[0], "value"), "-3");
  EXPECT_EQ(Attr(*elements[1], "name"), "invalidRangeUpper");
}

TEST(UserMissingExport, EmptyIntervalWritesNoExtension) {
  NNNumericUserMissing um;
  um.SetInterval(NNNumericInterval());
  EXPECT_TRUE(um.ExportXML().empty());
  um.AddValue(1.5, "x");
  auto elements = Owned(um.ExportXML());
  ASSERT_EQ(elements.size(), 1u);
  EXPECT_EQ(elements[0]->GetName(), "Value");
}

TEST(UserMissingExport, StringValues) {
  NNStringUserMissing um;
  um.AddValue("NA", "");
  um.AddValue("??", "unknown");
  auto elements = Owned(um.ExportXML());
  ASSERT_EQ(elements.size(), 2u);
  EXPECT_EQ(Attr(*elements[0], "value"), "NA");
  EXPECT_EQ(Attr(*elements[0], "displayValue"), "<absent>");
  EXPECT_EQ(Attr(*elements[1], "displayValue"), "unknown");
  EXPECT_EQ(Attr(*elements[1], "property"), "missing");
}

TEST(UserMissingStreams, RoundTripBothForms) {
  NNNumericUserMissing num;
  num.AddValue(99.0, "no answer");
  num.AddValue(gMissingValue, "");
  num.SetInterval(NNNumericInterval(1.0, gMissingValue));
  NNStringUserMissing str;
  str.AddValue("", "empty");
  str.AddValue("a <b> & \"c\"", "odd");
  for (bool xml : {false, true}) {
    NNNumericUserMissing numBack;
    numBack.AddValue(7, "stale");
    auto r = Read(numBack, xml ? Xml(num) : Binary(num), xml);
    ASSERT_FALSE(r.threw) << r.err;
    EXPECT_TRUE(numBack.IsEqualTo(&num));
    EXPECT_EQ(numBack.GetValueLabels(), num.GetValueLabels());
    EXPECT_TRUE(numBack.GetInterval()->IsRightOpen());

    NNStringUserMissing strBack;
    r = Read(strBack, xml ? Xml(str) : Binary(str), xml);
    ASSERT_FALSE(r.threw) << r.err;
    EXPECT_EQ(strBack.GetDiscreteValues(), str.GetDiscreteValues());
    EXPECT_EQ(strBack.GetValueLabels(), str.GetValueLabels());
  }
}

TEST(UserMissingDisplay, KeyTexts) {
  NNNumericUserMissing um;
  um.AddValue(99.0, "no answer");
  um.SetInterval(NNNumericInterval(gMissingValue, 0.0));
  std::ostringstream out;
  um.Display(out);
  const std::string text = out.str();
  EXPECT_EQ(text.find("Start of NNNumericUserMissing display"), 0u);
  EXPECT_NE(text.find("Discrete missing values:"), std::string::npos);
  EXPECT_NE(text.find("99, label = no answer"), std::string::npos);
  EXPECT_NE(text.find("Missing interval:"), std::string::npos);
  EXPECT_NE(text.find("NNNumericInterval: ( -infinity, 0"), std::string::npos);
  EXPECT_NE(text.find("End of NNNumericUserMissing display"), std::string::npos);

  std::ostringstream interval;
  NNNumericInterval(3.0, gMissingValue).Display(interval);
  EXPECT_NE(interval.str().find("NNNumericInterval: "), std::string::npos);
  EXPECT_NE(interval.str().find("infinity )"), std::string::npos);
  EXPECT_EQ(interval.str().find("-infinity"), std::string::npos);

  NNStringUserMissing s;
  s.AddValue("NA", "none");
  std::ostringstream sout;
  s.Display(sout);
  EXPECT_EQ(sout.str().find("Start of NNStringUserMissing display"), 0u);
  EXPECT_NE(sout.str().find("NA, label = none"), std::string::npos);
  EXPECT_NE(sout.str().find("End of NNStringUserMissing display"), std::string::npos);
}

}  // namespace
