// The grammar of Fortran output formats, shared by the interpreter and by
// fortran::valid (which can check a format literal at compile time).
//
// A format is read as a stream of tokens: groups, literals, position and line
// items, scale factors and data edit descriptors. Blanks outside literals mean
// nothing, commas only separate, and letters may be of either case.
#pragma once

#include <cstddef>
#include <string_view>

namespace fortran::grammar {

// Counts, widths and decimals beyond this are read as this: no real format
// comes near, and the interpreter's buffers stay bounded.
inline constexpr int kMaxNumber = 10000;
// Parentheses nested deeper than this (the outer pair included) are refused.
inline constexpr int kMaxDepth = 16;

class Cursor {
 public:
  constexpr explicit Cursor(std::string_view f) : f_(f) {}

  // The next significant character, upper-cased; '\0' at the end.
  constexpr char peek() {
    while (pos_ < f_.size() && (f_[pos_] == ' ' || f_[pos_] == '\t')) ++pos_;
    if (pos_ >= f_.size()) return '\0';
    const char c = f_[pos_];
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  constexpr void next() { ++pos_; }

  // An unsigned number, or -1 when there is none.
  constexpr int number() {
    int v = -1;
    for (char c = peek(); c >= '0' && c <= '9'; c = peek()) {
      v = v < 0 ? 0 : v;
      if (v <= kMaxNumber) v = v * 10 + (c - '0');
      next();
    }
    return v > kMaxNumber ? kMaxNumber : v;
  }

  constexpr std::size_t pos() const { return pos_; }
  constexpr void seek(std::size_t p) { pos_ = p; }
  constexpr std::string_view text() const { return f_; }

 private:
  std::string_view f_;
  std::size_t pos_ = 0;
};

enum class Tok {
  End,    // the text ended (before the outer parenthesis closed, if it is an error)
  Bad,    // not a format item
  Open,   // '(' with its repeat count
  Close,  // ')'
  Slash,  // '/' (count times): end of line
  Colon,  // ':' stops when no value is left
  Text,   // a quoted literal or nH text: characters from..to of the format
  Skip,   // nX: count blanks
  Scale,  // kP: count is k
  Data,   // letter w.d Ee, count times
};

struct Token {
  Tok kind = Tok::Bad;
  int count = 1;
  bool counted = false;  // a count was written
  char letter = 0;       // Data: I F E D A; Text: the quote, or 'H' (no doubled quotes)
  int w = -1;            // -1: not given
  int d = -1;
  int e = -1;
  std::size_t from = 0;
  std::size_t to = 0;
};

// Reads the rest of a data edit descriptor after its letter. False when malformed.
constexpr bool read_descriptor(Cursor& cur, Token& t) {
  t.w = cur.number();
  switch (t.letter) {
    case 'A':
      return true;
    case 'I':
      if (t.w < 0) return false;
      if (cur.peek() == '.') {
        cur.next();
        t.d = cur.number();
        if (t.d < 0) return false;
      }
      return true;
    case 'F':
    case 'E':
    case 'D':
      if (t.w < 0 || cur.peek() != '.') return false;
      cur.next();
      t.d = cur.number();
      if (t.d < 0) return false;
      if (t.letter != 'F' && cur.peek() == 'E') {
        cur.next();
        t.e = cur.number();
        if (t.e <= 0) return false;
      }
      return t.letter == 'F' || t.w > 0;
    default:
      return false;
  }
}

constexpr Token next_token(Cursor& cur) {
  Token t;
  char c = cur.peek();
  while (c == ',') {
    cur.next();
    c = cur.peek();
  }
  const std::string_view f = cur.text();
  if (c == '\0') {
    t.kind = Tok::End;
    return t;
  }
  if (c == '\'' || c == '"') {
    cur.next();
    t.kind = Tok::Text;
    t.letter = c;
    t.from = cur.pos();
    for (std::size_t p = cur.pos(); p < f.size(); ++p) {
      if (f[p] != c) continue;
      if (p + 1 < f.size() && f[p + 1] == c) {  // a doubled quote stands for one
        ++p;
        continue;
      }
      t.to = p;
      cur.seek(p + 1);
      return t;
    }
    t.kind = Tok::Bad;  // unterminated
    return t;
  }
  if (c == ')') {
    cur.next();
    t.kind = Tok::Close;
    return t;
  }
  if (c == ':') {
    cur.next();
    t.kind = Tok::Colon;
    return t;
  }
  bool negative = false;
  if (c == '-' || c == '+') {
    negative = c == '-';
    cur.next();
  }
  const int n = cur.number();
  t.counted = n >= 0;
  t.count = n < 0 ? 1 : n;
  const char k = cur.peek();
  if (k == 'P') {
    cur.next();
    t.kind = t.counted ? Tok::Scale : Tok::Bad;
    if (negative) t.count = -t.count;
    return t;
  }
  if (negative || c == '+' || (t.counted && t.count == 0)) return t;  // Bad
  cur.next();
  switch (k) {
    case '(':
      t.kind = Tok::Open;
      return t;
    case '/':
      t.kind = Tok::Slash;
      return t;
    case 'X':
      t.kind = Tok::Skip;
      return t;
    case 'H':
      // nH: the next n characters exactly as they stand.
      if (!t.counted || f.size() - cur.pos() < static_cast<std::size_t>(t.count)) return t;
      t.kind = Tok::Text;
      t.letter = 'H';
      t.from = cur.pos();
      t.to = t.from + static_cast<std::size_t>(t.count);
      cur.seek(t.to);
      return t;
    default:
      t.letter = k;
      if (read_descriptor(cur, t)) t.kind = Tok::Data;
      return t;
  }
}

}  // namespace fortran::grammar

namespace fortran {

// True when fmt is a complete format the interpreter understands, for
// static_assert on format literals and tables of them.
constexpr bool valid(std::string_view fmt) {
  grammar::Cursor cur(fmt);
  grammar::Token t = grammar::next_token(cur);
  if (t.kind != grammar::Tok::Open || t.counted) return false;
  int depth = 1;
  while (depth > 0) {
    t = grammar::next_token(cur);
    switch (t.kind) {
      case grammar::Tok::End:
      case grammar::Tok::Bad:
        return false;
      case grammar::Tok::Open:
        if (++depth > grammar::kMaxDepth) return false;
        break;
      case grammar::Tok::Close:
        --depth;
        break;
      default:
        break;
    }
  }
  return cur.peek() == '\0';
}

}  // namespace fortran
