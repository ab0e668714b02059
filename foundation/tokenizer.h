// The tokenizer: splits text into tokens at separators, with single-character
// tokens, quoting and escapes; and the whole-token number checks and parsers.
//
// Separator and single-character-token sets are terminated character lists
// (nullptr or "" for none). Escape and quote character 0 mean none. Quote and
// escape characters stay in the token's text; unquoting is a separate step.
#pragma once

#include <cstdint>

#include "foundation/counted_array.h"
#include "foundation/element_kinds.h"
#include "foundation/text_view.h"

namespace cdt {

// The scanning state over one text, which must stay unchanged while used.
struct Tokenizer {
  const char* text = nullptr;
  uint32_t length = 0;
  uint32_t cursor = 0;
  TextBuffer lastToken;

  Tokenizer() = default;
  Tokenizer(const char* t, uint32_t n) : text(t), length(n) {}
  bool atEnd() const { return cursor >= length; }
};

// The settings every scanning operation takes.
struct TokenRules {
  const char* separators = nullptr;
  const char* singles = nullptr;
  bool trim = false;
  char escape = 0;
  char quote = 0;
};

// The next token; the cursor moves past it and lastToken is set.
TextBuffer nextToken(Tokenizer& tokenizer, const TokenRules& rules);

// Up to n tokens into `tokens` (which may be nullptr); returns their count.
uint32_t splitTokens(Tokenizer& tokenizer, const TokenRules& rules, TextBuffer* tokens, uint32_t n);

// Every remaining token, into `tokens` (emptied first).
inline constexpr ElementOps ViewArrayOps = rawElementOps(sizeof(TextBuffer));
using ViewArray = CountedArray<TextBuffer, &ViewArrayOps>;
uint32_t splitAllTokens(Tokenizer& tokenizer, const TokenRules& rules, ViewArray& tokens);

// Token k counted from the cursor (k >= 0) or back from the end (k < 0: -1 is
// the last); empty when there is no such token. The tokenizer is unchanged.
TextBuffer tokenAt(const Tokenizer& tokenizer, const TokenRules& rules, int32_t k);

// Whole-view number checks: the view holds one number and otherwise only white
// space.
bool isIntegerText(TextBuffer text, int base);
bool isRealText(TextBuffer text);

// The view's value when the matching check holds, else `fallback`. Values out
// of range saturate as the C library's conversions do.
int32_t parseInt32(TextBuffer text, int32_t fallback, int base);
uint32_t parseUInt32(TextBuffer text, uint32_t fallback, int base);
int64_t parseInt64(TextBuffer text, int64_t fallback, int base);
uint64_t parseUInt64(TextBuffer text, uint64_t fallback, int base);
double parseReal(TextBuffer text, double fallback);

}  // namespace cdt
