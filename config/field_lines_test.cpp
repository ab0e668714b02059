#include "config/field_lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "foundation/element_kinds.h"

namespace cdt {
namespace {

// A record with every width the serialiser accepts, which the configuration's
// own tables do not all use.
struct Sample {
  int8_t i1 = -5;
  int16_t i2 = -300;
  int64_t i8 = INT64_MIN;
  uint16_t u2 = 0xFFFF;
  uint32_t b4 = 0x100;
  int8_t e1 = 2;
  float f4 = 3.14159274f;
  double f8 = -0.0;
  int16_t f2 = 7;
  int32_t x4 = 9;
  CountedString s;
  StringList list;
};

#define SAMPLE_ROW(key, code, member, names)                              \
  FieldDescriptor {                                                       \
    key, names, code, static_cast<int32_t>(sizeof(Sample::member)),       \
        [](void* r) -> void* { return &static_cast<Sample*>(r)->member; } \
  }

const EnumName kSampleNames[] = {{1, "ONE"}, {2, "TWO"}, {-1, ""}};

const FieldDescriptor kSampleFields[] = {
    SAMPLE_ROW("i1", kFieldInteger, i1, nullptr),
    SAMPLE_ROW("i2", kFieldInteger, i2, nullptr),
    SAMPLE_ROW("i8", kFieldInteger, i8, nullptr),
    SAMPLE_ROW("u2", kFieldUnsigned, u2, nullptr),
    SAMPLE_ROW("b4", kFieldBoolean, b4, nullptr),
    SAMPLE_ROW("e1", kFieldEnum, e1, kSampleNames),
    SAMPLE_ROW("f4", kFieldReal, f4, nullptr),
    SAMPLE_ROW("f8", kFieldReal, f8, nullptr),
    SAMPLE_ROW("f2", kFieldReal, f2, nullptr),  // no such real width: no line
    SAMPLE_ROW("x4", 'X', x4, nullptr),         // unknown code: no line
    SAMPLE_ROW("s", kFieldString, s, nullptr),
    SAMPLE_ROW("list", kFieldList, list, nullptr),
    FieldDescriptor{nullptr, nullptr, 0, 0, nullptr},
};

bool apply(Sample& sample, std::string_view line) {
  return parseFieldLine(kSampleFields, &sample, TextBuffer(line));
}

std::string lines(const Sample& sample, uint32_t indent) {
  CountedString text("#");
  writeFieldLines(kSampleFields, &sample, text, indent);
  return text.str();
}

TEST(FieldLines, WriteEveryWidthWithItsFormat) {
  Sample sample;
  sample.s = CountedString(
      "a\x01"
      "7\xff\n",
      5);
  sample.list.setLength(2);
  sample.list.at(1) = "x y";
  EXPECT_EQ(lines(sample, 1),
            "# i1 = -5\n"
            " i2 = -300\n"
            " i8 = -9223372036854775808\n"
            " u2 = 18446744073709551615\n"  // widened with its sign
            " b4 = TRUE\n"
            " e1 = \"TWO\"\n"
            " f4 = 3.1415927\n"
            " f8 = -0\n"
            " s = \"a\\0017\\377\\n\"\n"
            " list = 2\n"
            " list[0] = \"\"\n"
            " list[1] = \"x y\"\n");
  sample.e1 = 3;
  EXPECT_NE(lines(sample, 0).find("\ne1 = \"\"\n"), std::string::npos);
}

TEST(FieldLines, ReadValuesIntoEveryWidth) {
  Sample sample;
  EXPECT_TRUE(apply(sample, "i1 = 300"));  // truncated to the field's width
  EXPECT_EQ(sample.i1, 44);
  EXPECT_TRUE(apply(sample, "i8=99999999999999999999"));  // saturated by the conversion
  EXPECT_EQ(sample.i8, INT64_MAX);
  EXPECT_TRUE(apply(sample, "u2 = 65537"));
  EXPECT_EQ(sample.u2, 1);
  EXPECT_TRUE(apply(sample, "b4 = TRUE"));
  EXPECT_EQ(sample.b4, 1u);
  EXPECT_TRUE(apply(sample, "e1 = \"ONE\""));
  EXPECT_EQ(sample.e1, 1);
  EXPECT_TRUE(apply(sample, "e1 = \"one\""));
  EXPECT_EQ(sample.e1, -1);
  EXPECT_TRUE(apply(sample, "f4 = 1e39"));
  EXPECT_TRUE(std::isinf(sample.f4));
  EXPECT_TRUE(apply(sample, "f8 = 4.9406564584124654e-324"));
  EXPECT_EQ(sample.f8, std::numeric_limits<double>::denorm_min());
  EXPECT_TRUE(apply(sample, "f2 = 1"));
  EXPECT_EQ(sample.f2, 7);
  EXPECT_TRUE(apply(sample, "x4 = 1"));
  EXPECT_EQ(sample.x4, 9);
  EXPECT_TRUE(apply(sample, "s = \"a \\\"b\\\" \\101\\\\\" tail"));
  EXPECT_EQ(sample.s, "a \"b\" A\\");
  EXPECT_TRUE(apply(sample, "s = \\"));  // a lone escape reads as nothing
  EXPECT_EQ(sample.s, "");
}

TEST(FieldLines, KeepTheFieldWhenTheValueFailsItsCheck) {
  Sample sample;
  EXPECT_TRUE(apply(sample, "i2 = 1.5"));
  EXPECT_TRUE(apply(sample, "f8 = 1,5"));
  EXPECT_TRUE(apply(sample, "i8 = \"3\""));
  EXPECT_EQ(sample.i2, -300);
  EXPECT_EQ(sample.i8, INT64_MIN);
  EXPECT_TRUE(std::signbit(sample.f8));

  // Not a key = value shape, or an unknown key: false, nothing changes.
  for (std::string_view line : {"i2", "i2 =", "i2 = \"", "i2 [ 1 ] = 4", "= = =", "\"\"\"",
                                "\\\\\\", "I2 = 4", "i2 : 4", "[ i2 ] = 4"}) {
    EXPECT_EQ(apply(sample, line), line == "i2 = \"" || line == "i2 [ 1 ] = 4") << line;
  }
  EXPECT_EQ(sample.i2, -300);
}

TEST(FieldLines, ListLengthsAndEntriesStayInsideTheList) {
  Sample sample;
  EXPECT_TRUE(apply(sample, "list = 3"));
  EXPECT_EQ(sample.list.size(), 3u);
  EXPECT_TRUE(apply(sample, "list[2] = \"two\""));
  EXPECT_TRUE(apply(sample, "list[1.9] = one"));  // a real index reads as 0
  EXPECT_TRUE(apply(sample, "list[3] = \"past the end\""));
  EXPECT_TRUE(apply(sample, "list[-1] = \"before the start\""));
  EXPECT_EQ(sample.list[0], "one");
  EXPECT_EQ(sample.list[1], "");
  EXPECT_EQ(sample.list[2], "two");
  EXPECT_TRUE(apply(sample, "list = -1"));
  EXPECT_TRUE(apply(sample, "list = 2147483647"));
  EXPECT_EQ(sample.list.size(), 3u);
  EXPECT_TRUE(apply(sample, "s[0] = \"x\""));  // the element form of a plain row
  EXPECT_EQ(sample.s, "");
}

}  // namespace
}  // namespace cdt
