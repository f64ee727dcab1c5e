// Formatted output as a Fortran WRITE statement with an explicit format
// writes it: one call is one output statement.
//
//   fortran::write(out, "(' IT =',I5,'  CHISQ =',F12.4,'  L =',1PE10.2)", it, chisq, alamda);
//
// Supported: Iw[.m], Fw.d, Ew.d[Ee], Dw.d, kP scale factors, Aw and A, nX, quoted literals,
// nH, "/", ":", repeat counts on descriptors and groups, reversion, and the end of the
// output before the next value field once the values run out.
//
// Formats are Format values: a literal is checked when compiled, so a
// malformed one does not build. A text known only at run time (a test
// vector, a fuzzer's input) goes through Format::runtime, unchecked; a
// malformed format never crashes: the statement ends where the format stops
// making sense.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "format/grammar.h"

namespace fortran {

// One value of an output list. An integer under F, E or D is written as its
// value; a real under I, a text under a numeric field and a number under A
// fill the field with asterisks (gfortran stops the program there).
struct Item {
  enum class Kind { Int, Real, Text };
  Kind kind;
  std::int64_t i = 0;
  double d = 0.0;
  std::string_view s{};

  Item(int v) : kind(Kind::Int), i(v) {}
  Item(long v) : kind(Kind::Int), i(v) {}
  Item(long long v) : kind(Kind::Int), i(v) {}
  Item(double v) : kind(Kind::Real), d(v) {}
  Item(std::string_view v) : kind(Kind::Text), s(v) {}
  Item(const char* v) : kind(Kind::Text), s(v) {}
  Item(float) = delete;  // widen explicitly: sp(x) or static_cast<double>
};

// A format text. Built from a literal (or a constant text) it is checked
// when compiled; Format::runtime takes any text.
class Format {
 public:
  template <class S>
  requires std::is_convertible_v<const S&, std::string_view>
  consteval Format(const S& text) : text_(text) {  // NOLINT: implicit from a literal on purpose
    // Not a constant expression, so a malformed literal is a compile error.
    if (!valid(text_)) malformed();
  }
  static constexpr Format runtime(std::string_view text) { return Format(text, Unchecked{}); }
  constexpr std::string_view text() const { return text_; }

 private:
  struct Unchecked {};
  constexpr Format(std::string_view text, Unchecked) : text_(text) {}
  static void malformed() {}
  std::string_view text_;
};

// The text one output statement produces, every line ended by '\n'.
std::string format(Format fmt, std::span<const Item> items);

// Writes the statement to out. Returns false when the stream reports an error.
bool write(std::FILE* out, Format fmt, std::span<const Item> items);

// A list of values that is already a sequence of Items (an array, a vector)
// goes to the span overloads above, not into a one-item list.
template <class... A>
concept ValueList =
    !(sizeof...(A) == 1 && (std::is_convertible_v<const A&, std::span<const Item>> && ...));

template <class... A>
std::string format(Format fmt, const A&... args) requires ValueList<A...> {
  const std::array<Item, sizeof...(A)> items{Item(args)...};
  return format(fmt, std::span<const Item>(items.data(), items.size()));
}

template <class... A>
bool write(std::FILE* out, Format fmt, const A&... args) requires ValueList<A...> {
  const std::array<Item, sizeof...(A)> items{Item(args)...};
  return write(out, fmt, std::span<const Item>(items.data(), items.size()));
}

}  // namespace fortran
