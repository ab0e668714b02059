#include "foundation/element_kinds.h"

#include <gtest/gtest.h>

#include <string>

namespace cdt {
namespace {

StringArray threeStrings() {
  StringArray a;
  const CountedString values[] = {CountedString("one"), CountedString("two"),
                                  CountedString("three")};
  a.splice(0, values, 3, kSpliceReplace);
  return a;
}

TEST(StringArrays, CopiedElementsShareStringsUntilChanged) {
  StringArray a = threeStrings();
  StringArray b;
  b.splice(0, a.data(), a.size(), kSpliceReplace);  // element copies into a new block
  ASSERT_NE(a.data(), b.data());
  EXPECT_EQ(a[1].data(), b[1].data());
  EXPECT_EQ(arrayCapacityField(a[1].data()), -1);

  b.at(1).append('!');
  EXPECT_EQ(a[1], "two");
  EXPECT_EQ(b[1], "two!");
  EXPECT_EQ(arrayCapacityField(a[1].data()), 3);  // solely owned again
}

TEST(StringArrays, ArrayCopySharesTheBlockAndWritesCopyIt) {
  StringArray a = threeStrings();
  StringArray b = a;
  EXPECT_EQ(a.data(), b.data());
  b.at(0) = CountedString("changed");
  EXPECT_NE(a.data(), b.data());
  EXPECT_EQ(a[0], "one");
  EXPECT_EQ(b[0], "changed");
  EXPECT_EQ(a[2].data(), b[2].data());
}

TEST(StringLists, AlwaysEndInANoneEntry) {
  StringList list;
  list.setLength(2);
  list.at(0) = CountedString("a");
  list.at(1) = CountedString("b");
  EXPECT_EQ(list.data()[2].data(), nullptr);
  list.setLength(1);
  EXPECT_EQ(list.data()[1].data(), nullptr);
  list.append(CountedString("c"));
  EXPECT_EQ(list[1], "c");
  EXPECT_EQ(list.data()[2].data(), nullptr);
}

TEST(StringTables, RowCopiesAreDistinctBlocksWithSharedStrings) {
  StringTable table;
  table.setLength(2);
  table.at(0) = StringRow::adopt(nullptr);
  StringArray source = threeStrings();
  table.at(0).splice(0, source.data(), source.size(), kSpliceReplace);
  table.at(1).splice(0, source.data(), 1, kSpliceReplace);

  StringTable copy;
  copy.splice(0, table.data(), table.size(), kSpliceReplace);
  ASSERT_EQ(copy.size(), 2u);
  EXPECT_NE(copy[0].data(), table[0].data());
  EXPECT_EQ(copy[0][2].data(), table[0][2].data());

  copy.at(0).setLength(1);
  EXPECT_EQ(table[0].size(), 3u);
  EXPECT_EQ(copy[0].size(), 1u);
}

TEST(StringTables, ReleasingOneTableLeavesSharedStringsValid) {
  StringTable first;
  first.setLength(1);
  StringArray source = threeStrings();
  first.at(0).splice(0, source.data(), source.size(), kSpliceReplace);
  source.clear();
  {
    StringTable second;
    second.splice(0, first.data(), first.size(), kSpliceReplace);
    EXPECT_EQ(arrayCapacityField(first[0][0].data()), -1);
  }
  EXPECT_EQ(first[0][0], "one");
  EXPECT_EQ(arrayCapacityField(first[0][0].data()), 3);
}

TEST(StringTables, RowAssignmentReusesASoleRow) {
  StringRow row;
  StringArray source = threeStrings();
  row.splice(0, source.data(), 3, kSpliceReplace);
  const CountedString* block = row.data();
  StringRow other;
  other.splice(0, source.data(), 2, kSpliceReplace);
  row = other;
  EXPECT_EQ(row.data(), block);  // assigned in place
  EXPECT_EQ(row.size(), 2u);
  EXPECT_NE(row.data(), other.data());
}

TEST(RawKinds, NewElementsOfRecordKindsAreNone) {
  StringArray strings;
  strings.setLength(4);
  for (const auto& s : strings) EXPECT_EQ(s.data(), nullptr);
  struct Point {
    double v[3];
  };
  CountedArray<Point, &CalPointOps> points;  // raw kind: content unspecified, exact size
  points.setLength(3);
  EXPECT_EQ(points.size(), 3u);
  EXPECT_EQ(arrayCapacityField(points.data()), 3);
}

}  // namespace
}  // namespace cdt
