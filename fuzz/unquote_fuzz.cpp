// Unquotes arbitrary bytes with and without a quote character, and quotes
// them and unquotes the result, which must give the bytes back. Each
// operation is also run at a position past the start, into a shared string
// and on text that lies inside the string being written, and must give the
// same characters each way.
//
// Input: the whole input is the text for the fixed quote and escape pairs;
// when it holds at least two bytes, the first two are also a quote and an
// escape character for the rest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "foundation/counted_string.h"
#include "foundation/text_building.h"
#include "foundation/text_view.h"

namespace {

using cdt::CountedString;
using cdt::TextBuffer;

void check(bool condition) {
  if (!condition) std::abort();
}

// quoteText or unquoteText with its quote and escape characters bound.
struct Operation {
  void (*write)(CountedString&, uint32_t, TextBuffer, char, char);
  char quote;
  char escape;

  void operator()(CountedString& s, uint32_t position, TextBuffer text) const {
    write(s, position, text, quote, escape);
  }
  std::string of(std::string_view text) const {
    CountedString s;
    (*this)(s, 0, TextBuffer(text));
    return s.str();
  }
};

// Writing from a position keeps the characters before it, pads a gap with
// blanks and leaves other holders of a shared block as they were; text that
// lies inside the string being written, even in the part the write replaces,
// gives the same result as a copy of it. Returns the plain result.
std::string checkedResult(const Operation& op, std::string_view text) {
  const std::string expected = op.of(text);

  CountedString prefixed("ab");
  op(prefixed, 1, TextBuffer(text));
  check(prefixed == "a" + expected);

  CountedString padded("ab");
  op(padded, 5, TextBuffer(text));
  check(padded == "ab   " + expected);

  const CountedString original("xyz");
  CountedString shared = original;
  op(shared, 1, TextBuffer(text));
  check(original == "xyz");
  check(shared == "x" + expected);

  CountedString aliased(text);
  op(aliased, 0, TextBuffer(aliased.c_str(), aliased.length()));
  check(aliased == expected);

  if (text.size() >= 2) {
    CountedString inside(text);
    op(inside, 1, TextBuffer(inside.c_str() + 1, inside.length() - 1));
    check(inside == std::string(text.substr(0, 1)) + op.of(text.substr(1)));
  }
  return expected;
}

// Whether quoteText followed by unquoteText gives the text back with these
// characters. It does not when the escape or the quote character is one that
// unquoting reads after an escape as a letter escape or an octal digit
// (quoting writes the quote character escaped), nor when the quote character
// is white space, which unquoting trims away before it looks for the quotes.
bool roundTrips(char quote, char escape) {
  constexpr std::string_view kEscapeLetters = "bnrt01234567";
  if (escape == '\0' || kEscapeLetters.find(escape) != std::string_view::npos) return false;
  if (quote == '\0') return true;
  return kEscapeLetters.find(quote) == std::string_view::npos && !cdt::isSpaceChar(quote);
}

void checkPair(std::string_view text, char quote, char escape) {
  const Operation unquote{cdt::unquoteText, quote, escape};
  const std::string plain = checkedResult(unquote, text);
  // Every escape stands for at most the characters it is written with.
  check(plain.size() <= text.size());

  if (escape == '\0') return;
  const Operation quote_{cdt::quoteText, quote, escape};
  const std::string written = checkedResult(quote_, text);
  if (quote != '\0') {
    check(written.size() >= 2 && written.front() == quote && written.back() == quote);
  }
  if (roundTrips(quote, escape)) check(unquote.of(written) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX / 8) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  checkPair(text, '"', '\\');
  checkPair(text, '\0', '\\');
  checkPair(text, '\'', '%');
  // With 0 as the escape character, NUL bytes in the text are the escapes.
  checkPair(text, '\0', '\0');
  if (size >= 2) checkPair(text.substr(2), text[0], text[1]);
  return 0;
}
