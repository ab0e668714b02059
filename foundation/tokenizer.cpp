#include "foundation/tokenizer.h"

namespace cdt {

namespace {

// A NUL character in the text is an ordinary character: it never matches the
// terminator of a set, nor an escape or quote character of 0.
bool inSet(const char* set, char ch) {
  if (set == nullptr || ch == '\0') return false;
  for (; *set != '\0'; ++set) {
    if (*set == ch) return true;
  }
  return false;
}

bool isBlankRun(const char* text, uint32_t begin, uint32_t end) {
  return isBlankText(TextBuffer(text + begin, end - begin));
}

// Scans one token from the cursor. Every call that starts before the end
// moves the cursor by at least one character, so callers' loops end.
TextBuffer scanToken(Tokenizer& t, const TokenRules& rules) {
  const uint32_t length = t.text != nullptr ? t.length : 0;
  bool started = false;
  uint32_t start = 0;
  bool escaped = false;
  bool inQuotes = false;
  bool ended = false;
  TextBuffer token;

  while (t.cursor < length) {
    const char ch = t.text[t.cursor];
    if (!started) {
      started = true;
      start = t.cursor;
    }
    if (escaped) {
      escaped = false;
    } else if (rules.escape != '\0' && ch == rules.escape) {
      escaped = true;
    } else if (inQuotes) {
      if (ch == rules.quote) inQuotes = false;
    } else if (rules.quote != '\0' && ch == rules.quote) {
      inQuotes = true;
    } else if (inSet(rules.separators, ch)) {
      const uint32_t end = t.cursor++;
      if (rules.trim && isBlankRun(t.text, start, end)) {
        // A blank piece before a separator is skipped, so runs of
        // separators and leading blanks give no empty tokens.
        started = false;
        continue;
      }
      token = TextBuffer(t.text + start, end - start);
      ended = true;
      break;
    } else if (inSet(rules.singles, ch)) {
      if (t.cursor == start || (rules.trim && isBlankRun(t.text, start, t.cursor))) {
        token = TextBuffer(t.text + t.cursor, 1);
        ++t.cursor;
      } else {
        token = TextBuffer(t.text + start, t.cursor - start);
      }
      ended = true;
      break;
    }
    ++t.cursor;
  }

  // At the end of the text the token runs to the end; when the text ended
  // right after a skipped piece (or the scan began at the end) there is no
  // token text at all and the token is empty.
  if (!ended && started) token = TextBuffer(t.text + start, t.cursor - start);
  if (rules.trim) token = trimText(token);
  t.lastToken = token;
  return token;
}

}  // namespace

TextBuffer nextToken(Tokenizer& tokenizer, const TokenRules& rules) {
  return scanToken(tokenizer, rules);
}

uint32_t splitTokens(Tokenizer& tokenizer, const TokenRules& rules, TextBuffer* tokens,
                     uint32_t n) {
  uint32_t count = 0;
  while (count < n && !tokenizer.atEnd()) {
    const TextBuffer token = scanToken(tokenizer, rules);
    if (tokens != nullptr) tokens[count] = token;
    ++count;
  }
  return count;
}

uint32_t splitAllTokens(Tokenizer& tokenizer, const TokenRules& rules, ViewArray& tokens) {
  // Counting first sizes the array once instead of growing it per token.
  Tokenizer counter = tokenizer;
  uint32_t count = 0;
  while (!counter.atEnd()) {
    scanToken(counter, rules);
    ++count;
  }
  tokens.setLength(count);
  if (count == 0) return 0;
  TextBuffer* out = tokens.mutableData();
  for (uint32_t i = 0; i < count; ++i) out[i] = scanToken(tokenizer, rules);
  return count;
}

TextBuffer tokenAt(const Tokenizer& tokenizer, const TokenRules& rules, int32_t k) {
  Tokenizer scan = tokenizer;
  if (k >= 0) {
    TextBuffer token;
    for (int64_t i = 0; i <= k; ++i) {
      if (scan.atEnd()) return {};
      token = scanToken(scan, rules);
    }
    return token;
  }

  // Counting back from the end: the last token needs one pass; any other
  // needs the count first and a second pass, so nothing is stored.
  const uint32_t back = 0u - static_cast<uint32_t>(k);
  if (back == 1) {
    TextBuffer last;
    while (!scan.atEnd()) last = scanToken(scan, rules);
    return last;
  }
  uint32_t count = 0;
  while (!scan.atEnd()) {
    scanToken(scan, rules);
    ++count;
  }
  if (count < back) return {};
  scan = tokenizer;
  TextBuffer token;
  for (uint32_t i = 0; i <= count - back; ++i) token = scanToken(scan, rules);
  return token;
}

}  // namespace cdt
