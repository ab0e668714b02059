#include "foundation/counted_array.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "foundation/counted_string.h"
#include "foundation/element_kinds.h"

namespace cdt {
namespace {

std::string text(const CountedString& s) {
  return s.str();
}

TEST(CountedString, EmptyValuesAndCreation) {
  CountedString none;
  EXPECT_EQ(length(none), 0u);
  EXPECT_EQ(none.data(), nullptr);
  EXPECT_EQ(textOf(none), nullptr);

  EXPECT_EQ(createString("abc", 0).data(), nullptr);
  CountedString spaces = createString(nullptr, 3);
  ASSERT_NE(spaces.data(), nullptr);
  EXPECT_EQ(std::memcmp(spaces.data(), "   \0", 4), 0);
  EXPECT_EQ(arrayCapacityField(spaces.data()), 3);

  CountedString emptied("x");
  emptied.value() = static_cast<char*>(eraseFromArray(StringOps, emptied.value(), 0, 1));
  ASSERT_NE(emptied.data(), nullptr);  // sole owner keeps its block
  EXPECT_EQ(textOf(emptied), nullptr);
}

TEST(CountedString, CopyOnWriteGivesExactBlockAndRestoresOwner) {
  CountedString a("hello");
  CountedString b = a;
  EXPECT_EQ(a.data(), b.data());
  EXPECT_EQ(arrayCapacityField(a.data()), -1);

  b.append('!');
  EXPECT_NE(a.data(), b.data());
  EXPECT_EQ(text(a), "hello");
  EXPECT_EQ(text(b), "hello!");
  EXPECT_EQ(arrayCapacityField(b.data()), 6);  // sized exactly
  EXPECT_EQ(arrayCapacityField(a.data()), 5);  // sole again, capacity = length

  CountedString c("");
  EXPECT_EQ(c.data(), nullptr);
}

TEST(CountedString, SharedEmptyBlockReturnsToCapacityOne) {
  CountedString a("x");
  a.value() = static_cast<char*>(eraseFromArray(StringOps, a.value(), 0, 1));
  {
    CountedString b = a;  // NOLINT(performance-unnecessary-copy-initialization)
    EXPECT_EQ(b.data(), a.data());
    EXPECT_EQ(arrayCapacityField(a.data()), -1);
  }
  EXPECT_EQ(arrayCapacityField(a.data()), 1);
}

TEST(CountedString, ThreeHoldersCountDown) {
  CountedString a("abc");
  // The copies are the holders being counted.
  CountedString b = a;  // NOLINT(performance-unnecessary-copy-initialization)
  {
    CountedString c = b;  // NOLINT(performance-unnecessary-copy-initialization)
    EXPECT_EQ(c.data(), a.data());
    EXPECT_EQ(arrayCapacityField(a.data()), -2);
  }
  EXPECT_EQ(arrayCapacityField(b.data()), -1);
}

TEST(CountedString, SelfShareChangesNothing) {
  CountedString a("abc");
  a.value() = static_cast<char*>(setArrayCapacity(StringOps, a.value(), 40));
  a.value() = static_cast<char*>(shareArray(StringOps, a.value(), a.value()));
  EXPECT_EQ(arrayCapacityField(a.data()), 40);  // the room is not forgotten
  EXPECT_EQ(text(a), "abc");
  CountedString& alias = a;
  a = alias;
  EXPECT_EQ(arrayCapacityField(a.data()), 40);

  CountedString b = a;
  b.value() = static_cast<char*>(shareArray(StringOps, b.value(), a.value()));
  EXPECT_EQ(arrayCapacityField(a.data()), -1);  // still exactly two holders
}

TEST(CountedString, GrowthRuleWhenAppendingOneCharacterAtATime) {
  CountedString s;
  std::vector<int32_t> capacities;
  for (int i = 0; i < 2100; ++i) {
    s.append('a');
    int32_t capacity = arrayCapacityField(s.data());
    if (capacities.empty() || capacities.back() != capacity) capacities.push_back(capacity);
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{1, 65, 130, 260, 520, 1033, 1546, 2059, 2572}));
  EXPECT_EQ(s.length(), 2100u);
  EXPECT_EQ(s.data()[2100], 0);
}

TEST(CountedString, GrowthExamples) {
  struct Case {
    uint32_t capacity, needed, expected;
  } cases[] = {{1, 2, 65}, {100, 101, 200}, {600, 601, 1113}, {1000, 1001, 1513}};
  for (const auto& c : cases) {
    char* s = static_cast<char*>(setArrayCapacity(StringOps, nullptr, c.capacity));
    s = static_cast<char*>(setArrayLength(StringOps, s, c.capacity));
    s = static_cast<char*>(setArrayLength(StringOps, s, c.needed));
    EXPECT_EQ(arrayCapacityField(s), static_cast<int32_t>(c.expected)) << c.capacity;
    s = static_cast<char*>(setArrayCapacity(StringOps, s, 0));
    EXPECT_EQ(s, nullptr);
  }
}

TEST(CountedString, SpliceReplacePastTheEndFillsWithSpaces) {
  CountedString s("abc");
  s.replaceFrom(5, "xy", 2);
  EXPECT_EQ(text(s), "abc  xy");
  EXPECT_EQ(s.length(), 7u);
}

TEST(CountedString, SpliceModes) {
  CountedString s("abcdef");
  CountedString shared = s;
  s.value() = static_cast<char*>(spliceArray(StringOps, s.value(), 2, "XY", 2, kSpliceOverwrite));
  EXPECT_EQ(text(s), "abXYef");
  EXPECT_EQ(text(shared), "abcdef");
  s.value() = static_cast<char*>(spliceArray(StringOps, s.value(), 1, "12", 2, kSpliceInsert));
  EXPECT_EQ(text(s), "a12bXYef");
  s.value() = static_cast<char*>(spliceArray(StringOps, s.value(), 3, "Z", 1, kSpliceReplace));
  EXPECT_EQ(text(s), "a12Z");
  // Overwrite past the end extends; insert past the end leaves a gap of spaces.
  s.value() = static_cast<char*>(spliceArray(StringOps, s.value(), 3, "uvw", 3, kSpliceOverwrite));
  EXPECT_EQ(text(s), "a12uvw");
  s.value() = static_cast<char*>(spliceArray(StringOps, s.value(), 8, "!", 1, kSpliceInsert));
  EXPECT_EQ(text(s), "a12uvw  !");
  // Without a source, live characters stay and new ones are spaces.
  s.value() =
      static_cast<char*>(spliceArray(StringOps, s.value(), 7, nullptr, 4, kSpliceOverwrite));
  EXPECT_EQ(text(s), "a12uvw  !  ");
  // The same on a shared block builds a new one.
  CountedString t("abcdef");
  CountedString u = t;
  t.value() = static_cast<char*>(spliceArray(StringOps, t.value(), 8, "xy", 2, kSpliceInsert));
  EXPECT_EQ(text(t), "abcdef  xy");
  EXPECT_EQ(text(u), "abcdef");
  CountedString v = u;
  u.value() = static_cast<char*>(spliceArray(StringOps, u.value(), 1, "XY", 2, kSpliceOverwrite));
  EXPECT_EQ(text(u), "aXYdef");
  CountedString w = v;
  v.value() = static_cast<char*>(spliceArray(StringOps, v.value(), 1, "XY", 2, kSpliceInsert));
  EXPECT_EQ(text(v), "aXYbcdef");
  EXPECT_EQ(text(w), "abcdef");
  EXPECT_EQ(arrayCapacityField(w.data()), 6);
}

// Without a source, replace and overwrite keep the characters they fall on and
// add spaces past the end; a shared block must give the same text.
TEST(CountedString, SpliceWithoutSourceGivesTheSameTextSharedOrNot) {
  for (const bool shared : {false, true}) {
    CountedString s("abcdef");
    CountedString other = s;
    if (!shared) other.clear();
    s.value() =
        static_cast<char*>(spliceArray(StringOps, s.value(), 4, nullptr, 4, kSpliceOverwrite));
    EXPECT_EQ(text(s), "abcdef  ") << shared;
    s.value() =
        static_cast<char*>(spliceArray(StringOps, s.value(), 0, nullptr, 1, kSpliceOverwrite));
    EXPECT_EQ(text(s), "abcdef  ") << shared;
    CountedString again = s;
    if (!shared) again.clear();
    s.value() =
        static_cast<char*>(spliceArray(StringOps, s.value(), 1, nullptr, 2, kSpliceReplace));
    EXPECT_EQ(text(s), "abc") << shared;
    if (shared) {
      EXPECT_EQ(text(other), "abcdef");
      EXPECT_EQ(text(again), "abcdef  ");
    }
  }
}

TEST(CountedString, AppendingItsOwnTextIsSafe) {
  CountedString s("abc");
  s.append(s.view());
  EXPECT_EQ(text(s), "abcabc");
  s.assign(s.view().substr(2));
  EXPECT_EQ(text(s), "cabc");
  s.replaceFrom(6, s.data(), 4);  // grows past its capacity while reading itself
  EXPECT_EQ(text(s), "cabc  cabc");

  const char* p = s.data();
  EXPECT_TRUE(overlapsString(p, p + 10, 1));  // the terminator counts
  EXPECT_FALSE(overlapsString(p, p + 11, 1));
  EXPECT_FALSE(overlapsString(p, p - 1, 1));
  EXPECT_TRUE(overlapsString(p, p - 1, 2));
  EXPECT_FALSE(overlapsString(p, p, 0));
  EXPECT_FALSE(overlapsString(nullptr, p, 4));
}

TEST(CountedArrayEngine, EraseOnSoleKeepsBlockOnSharedGivesNone) {
  CountedString s("abcd");
  s.value() = static_cast<char*>(eraseFromArray(StringOps, s.value(), 1, 2));
  EXPECT_EQ(text(s), "ad");
  EXPECT_EQ(arrayCapacityField(s.data()), 4);
  s.value() = static_cast<char*>(eraseFromArray(StringOps, s.value(), 5, 2));
  EXPECT_EQ(text(s), "ad");
  s.value() = static_cast<char*>(eraseFromArray(StringOps, s.value(), 0, 100));
  ASSERT_NE(s.data(), nullptr);
  EXPECT_EQ(arrayCapacityField(s.data()), 4);

  CountedString a("abcd");
  CountedString b = a;
  b.value() = static_cast<char*>(eraseFromArray(StringOps, b.value(), 0, 4));
  EXPECT_EQ(b.data(), nullptr);
  EXPECT_EQ(text(a), "abcd");
  EXPECT_EQ(arrayCapacityField(a.data()), 4);
  CountedString c = a;
  c.value() = static_cast<char*>(eraseFromArray(StringOps, c.value(), 1, 1));
  EXPECT_EQ(text(c), "acd");
  EXPECT_EQ(arrayCapacityField(c.data()), 3);
}

// A block laid out by other means: the engine must never change or free it.
struct ConstantBlock {
  ArrayHeader header{5, 0};
  char text[6] = "const";
  char* value() { return text; }
};

TEST(CountedArrayEngine, ConstantBlocksAreNeverChangedOrFreed) {
  ConstantBlock block;
  char* s = block.value();
  EXPECT_EQ(shareArray(StringOps, nullptr, s), s);
  EXPECT_EQ(block.header.capacity, 0);
  releaseArrayReference(StringOps, s);
  char* changed = static_cast<char*>(spliceArray(StringOps, s, 5, "!", 1, kSpliceInsert));
  EXPECT_NE(changed, s);
  EXPECT_STREQ(changed, "const!");
  EXPECT_STREQ(block.text, "const");
  changed = static_cast<char*>(setArrayCapacity(StringOps, changed, 0));
  EXPECT_EQ(changed, nullptr);
  EXPECT_EQ(setArrayCapacity(StringOps, s, 0), nullptr);
  EXPECT_EQ(block.header.length, 5);
}

TEST(CountedArrayEngine, SetCapacityZeroOnSoleSharedAndConstant) {
  CountedString sole("abc");
  EXPECT_EQ(setArrayCapacity(StringOps, sole.detach(), 0), nullptr);

  CountedString a("abc");
  CountedString b = a;
  EXPECT_EQ(setArrayCapacity(StringOps, b.detach(), 0), nullptr);
  EXPECT_EQ(arrayCapacityField(a.data()), 3);
  EXPECT_EQ(text(a), "abc");

  ConstantBlock block;
  EXPECT_EQ(setArrayCapacity(StringOps, block.value(), 0), nullptr);
  EXPECT_STREQ(block.text, "const");
}

TEST(CountedArrayEngine, SetCapacityShrinksLengthAndCopiesShared) {
  CountedString a("abcdef");
  a.value() = static_cast<char*>(setArrayCapacity(StringOps, a.value(), 3));
  EXPECT_EQ(text(a), "abc");
  EXPECT_EQ(arrayCapacityField(a.data()), 3);
  CountedString b = a;
  b.value() = static_cast<char*>(setArrayCapacity(StringOps, b.value(), 10));
  EXPECT_EQ(text(b), "abc");
  EXPECT_EQ(arrayCapacityField(b.data()), 10);
  EXPECT_EQ(arrayCapacityField(a.data()), 3);
}

TEST(CountedArrayEngine, SetLengthShrinksAndGrows) {
  StringArray strings;
  strings.setLength(3);
  EXPECT_EQ(strings.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(strings[i].data(), nullptr);
  strings.at(0) = CountedString("zero");
  strings.at(2) = CountedString("two");
  CountedString kept = strings[2];
  strings.setLength(1);
  EXPECT_EQ(strings.size(), 1u);
  EXPECT_EQ(arrayCapacityField(kept.data()), 3);  // the array's reference was released
  strings.setLength(4);
  EXPECT_EQ(strings[0], "zero");
  EXPECT_EQ(strings[3].data(), nullptr);
  StringArray copy = strings;
  copy.setLength(2);
  EXPECT_EQ(strings.size(), 4u);
  EXPECT_EQ(copy.size(), 2u);
  EXPECT_EQ(copy[0].data(), strings[0].data());
}

// An element that knows whether it is alive, so that the engine's use of the
// element operations is checked: assignment only over live elements, each
// element destroyed exactly once, none lost or duplicated.
struct Tracked {
  static constexpr uint32_t kAlive = 0x600DF00D;
  static constexpr uint32_t kDead = 0xDEADDEAD;
  static inline int64_t live = 0;

  Tracked() { ++live; }
  explicit Tracked(int v) : value(v) { ++live; }
  Tracked(const Tracked& other) : value(other.value) {
    EXPECT_EQ(other.state, kAlive);
    ++live;
  }
  Tracked& operator=(const Tracked& other) {
    EXPECT_EQ(state, kAlive) << "assigned over raw storage";
    EXPECT_EQ(other.state, kAlive);
    value = other.value;
    return *this;
  }
  ~Tracked() {
    EXPECT_EQ(state, kAlive) << "destroyed twice";
    state = kDead;
    --live;
  }

  uint32_t state = kAlive;
  int value = 0;
};

inline constexpr ElementOps TrackedOps = recordElementOps<Tracked>;
// With a terminator slot after the last element, as string lists have.
inline constexpr ElementOps TrackedListOps = recordElementOps<Tracked, kTerminated>;

int valueOf(const Tracked& t) {
  return t.value;
}
int valueOf(char c) {
  return c;
}

template <class T>
T makeElement(int value);
template <>
Tracked makeElement<Tracked>(int value) {
  return Tracked(value);
}
template <>
char makeElement<char>(int value) {
  return static_cast<char>('A' + value % 26);
}

// Random operations on several holders of shared and private blocks, each
// checked against a plain vector: contents, the header invariants, the share
// count of every block and (for tracked elements) the number of live ones.
template <class T>
void checkAgainstModel(const ElementOps& ops, int fresh, uint32_t seed) {
  std::mt19937 random(seed);
  auto below = [&random](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  std::vector<void*> arrays(1, nullptr);
  std::vector<std::vector<int>> models(1);
  int nextValue = 100;

  auto check = [&](int step) {
    std::map<void*, int> holders;
    int64_t elements = 0;
    for (size_t h = 0; h < arrays.size(); ++h) {
      void* a = arrays[h];
      ASSERT_EQ(arrayLength(a), models[h].size()) << "step " << step;
      if (a == nullptr) continue;
      if (++holders[a] == 1) elements += arrayLength(a);
      const T* e = static_cast<const T*>(a);
      for (uint32_t i = 0; i < arrayLength(a); ++i) {
        ASSERT_EQ(valueOf(e[i]), models[h][i]) << "step " << step << " index " << i;
      }
      if (ops.elementFlags & kTerminated) {
        ASSERT_EQ(valueOf(e[arrayLength(a)]), 0) << "step " << step;
      }
    }
    for (const auto& [a, count] : holders) {
      const int32_t capacity = arrayCapacityField(a);
      if (count == 1) {
        ASSERT_GE(capacity, static_cast<int32_t>(arrayLength(a))) << "step " << step;
        ASSERT_GT(capacity, 0) << "step " << step;
      } else {
        ASSERT_EQ(capacity, 1 - count) << "step " << step;
      }
    }
    if constexpr (std::is_same_v<T, Tracked>) {
      ASSERT_EQ(Tracked::live, elements);
    }
  };

  for (int step = 0; step < 3000; ++step) {
    const size_t h = below(static_cast<uint32_t>(arrays.size()));
    void*& a = arrays[h];
    std::vector<int>& m = models[h];
    const auto length = static_cast<uint32_t>(m.size());
    switch (below(7)) {
      case 0: {  // splice, with or without a source, past the end too
        const uint32_t p = below(length + 4);
        const uint32_t n = below(5);
        const int mode = static_cast<int>(below(3)) - 1;
        const bool withSource = below(4) != 0;
        std::vector<T> source;
        std::vector<int> values;
        source.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
          source.push_back(makeElement<T>(nextValue++));
          values.push_back(withSource ? valueOf(source.back()) : fresh);
        }
        std::vector<int> expected = m;
        if (p > expected.size()) expected.resize(p, fresh);
        if (mode > 0) {
          expected.insert(expected.begin() + p, values.begin(), values.end());
        } else {
          for (uint32_t i = 0; i < n; ++i) {
            if (p + i < expected.size()) {
              if (withSource) expected[p + i] = values[i];
            } else {
              expected.push_back(values[i]);
            }
          }
          if (mode < 0) expected.resize(p + n);
        }
        a = spliceArray(ops, a, p, withSource ? source.data() : nullptr, n, mode);
        m = expected;
        break;
      }
      case 1: {
        const uint32_t p = below(length + 2);
        const uint32_t count = below(5);
        a = eraseFromArray(ops, a, p, count);
        if (p < length) m.erase(m.begin() + p, m.begin() + std::min(length, p + count));
        break;
      }
      case 2: {
        const uint32_t n = below(length + 5);
        a = setArrayLength(ops, a, n);
        m.resize(n, fresh);
        break;
      }
      case 3: {
        const uint32_t n = below(length + 5);
        a = setArrayCapacity(ops, a, n);
        if (n < length) m.resize(n);
        if (n == 0) {
          ASSERT_EQ(a, nullptr);
        }
        break;
      }
      case 4:
        if (arrays.size() < 6) {
          arrays.push_back(shareArray(ops, nullptr, arrays[h]));
          models.push_back(models[h]);
        }
        break;
      case 5:
        if (arrays.size() > 1) {
          releaseArrayReference(ops, arrays[h]);
          arrays.erase(arrays.begin() + static_cast<std::ptrdiff_t>(h));
          models.erase(models.begin() + static_cast<std::ptrdiff_t>(h));
        }
        break;
      default: {
        const size_t other = below(static_cast<uint32_t>(arrays.size()));
        a = shareArray(ops, a, arrays[other]);
        m = models[other];
        break;
      }
    }
    check(step);
    if (::testing::Test::HasFatalFailure()) return;
  }
  for (void* a : arrays) releaseArrayReference(ops, a);
}

TEST(CountedArrayEngine, RandomOperationsMatchAModel) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    for (const ElementOps* ops : {&TrackedOps, &TrackedListOps}) {
      checkAgainstModel<Tracked>(*ops, 0, seed);
      ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "seed " << seed;
      EXPECT_EQ(Tracked::live, 0) << "seed " << seed;
    }
    checkAgainstModel<char>(StringOps, ' ', seed);
    ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "seed " << seed;
  }
}

}  // namespace
}  // namespace cdt
