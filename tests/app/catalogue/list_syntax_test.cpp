// The value/label lists, resolution texts and frame-rate fractions.
#include <gtest/gtest.h>

#include "catalogue/list_syntax.h"

using namespace vidmill;

TEST(ListSyntax, ValueLabelLists) {
  struct Case {
    QString text;
    QStringList values;
    QStringList labels;
  };
  const Case cases[] = {
      {"25000$25 fps,30000$30 fps", {"25000", "30000"}, {"25 fps", "30 fps"}},
      {"a$b,c$d", {"a", "c"}, {"b", "d"}},
      {"a,b", {}, {"a", "b"}},
      {"a,b,", {}, {"a", "b", ""}},
      {"", {}, {""}},
      {"x$", {"x"}, {""}},
  };
  for (const Case& c : cases) {
    const TValueLabelList list = SplitValueLabelList(c.text);
    EXPECT_EQ(list.Values, c.values) << c.text.toStdString();
    EXPECT_EQ(list.Labels, c.labels) << c.text.toStdString();
    EXPECT_EQ(ValuesOf(c.text), c.values);
    EXPECT_EQ(LabelsOf(c.text), c.labels);
  }
}

TEST(ListSyntax, ResolutionTexts) {
  struct Case {
    QString text;
    QString width;
    QString height;
  };
  const Case cases[] = {
      {"320*240", "320", "240"}, {"320x240", "-1", "-1"}, {"640", "-1", "-1"},
      {"x*480", "-1", "480"},    {"*", "-1", "-1"},       {"640*", "640", "-1"},
      {"1*2*3", "1", "3"},       {" 320*240", "-1", "240"}, {"", "-1", "-1"},
      {"99999999999*10", "-1", "10"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolutionWidth(c.text), c.width) << c.text.toStdString();
    EXPECT_EQ(ResolutionHeight(c.text), c.height) << c.text.toStdString();
  }
}

TEST(ListSyntax, FrameRateFractions) {
  struct Case {
    QString thousandths;
    TFrameRate rate;
  };
  const Case cases[] = {
      {"25000", {25, 1}},     {"30000", {30, 1}},      {"29970", {30000, 1001}}, {"23976", {24000, 1001}},
      {"59940", {60000, 1001}}, {"12500", {25, 2}},    {"15000", {15, 1}},       {"29971", {29971, 1000}},
      {"0", {0, 1}},          {"", {0, 1}},            {"abc", {0, 1}},          {"-25000", {0, 1}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FrameRateFraction(c.thousandths), c.rate) << c.thousandths.toStdString();
  }
}
