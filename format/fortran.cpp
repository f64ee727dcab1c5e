// Interpreter of Fortran output formats, written to match gfortran byte for byte.
//
// The format is parsed on the fly while the values are written: no parse tree,
// no heap. Group nesting lives in a small fixed array and the text goes through
// a fixed buffer on the stack, so write() can be called in the middle of a fit.
#include "format/fortran.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <system_error>

#include "format/grammar.h"

namespace fortran {
namespace {

// Widths, decimals and counts beyond these are treated as these: no format of
// the program comes near, and the number buffers below stay bounded.
constexpr int kMaxField = 1000;
constexpr int kMaxScale = 100;

// Room for the fixed form of the largest double (309 integer digits) with kMaxField +
// kMaxScale decimals.
constexpr std::size_t kNumBuf = 1500;

// The work and the text of one statement are bounded: nested repeat counts
// multiply, so a hostile format such as (10000(10000(10000('x')))) would
// otherwise run for hours. No statement of the program comes near either.
constexpr long kMaxSteps = 1L << 22;
constexpr std::size_t kMaxText = std::size_t{1} << 20;

// Buffered output to a stream or, for format(), to a string.
class Out {
 public:
  Out(std::FILE* file, std::string* text) : file_(file), text_(text) {}
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;

  // nX only moves the position: the blanks appear once something follows them
  // on the same line, as gfortran does (trailing X writes nothing).
  void skip(int n) { pending_ += static_cast<std::size_t>(n); }

  void put(char c) {
    settle();
    raw(c);
  }
  void put(std::string_view s) {
    settle();
    for (const char c : s) raw(c);
  }
  void fill(char c, int n) {
    settle();
    for (int i = 0; i < n; ++i) raw(c);
  }

  void end_line() {
    pending_ = 0;
    raw('\n');
  }

  // True once the statement has written its bound of text.
  bool full() const { return total_ >= kMaxText; }

  bool finish() {
    flush();
    if (file_ != nullptr && std::ferror(file_) != 0) ok_ = false;
    return ok_;
  }

 private:
  void settle() {
    for (; pending_ > 0 && !full(); --pending_) raw(' ');
    pending_ = 0;
  }
  void raw(char c) {
    ++total_;
    if (used_ == buf_.size()) flush();
    buf_[used_++] = c;
  }
  void flush() {
    if (used_ == 0) return;
    if (file_ != nullptr) {
      if (std::fwrite(buf_.data(), 1, used_, file_) != used_) ok_ = false;
    } else if (text_ != nullptr) {
      text_->append(buf_.data(), used_);
    }
    used_ = 0;
  }

  std::FILE* file_;
  std::string* text_;
  std::array<char, 1024> buf_{};
  std::size_t used_ = 0;
  std::size_t total_ = 0;  // characters of this statement so far
  std::size_t pending_ = 0;
  bool ok_ = true;
};

// ---- one writer per kind of field -------------------------------------------

void stars(Out& out, int w) { out.fill('*', w < 1 ? 1 : w); }

// Right-aligns the parts in w columns, or writes w asterisks when they do not fit.
void field(Out& out,
           int w,
           int len,
           std::string_view a,
           std::string_view b = {},
           std::string_view c = {},
           std::string_view d = {}) {
  if (len > w) {
    stars(out, w);
    return;
  }
  out.fill(' ', w - len);
  out.put(a);
  out.put(b);
  out.put(c);
  out.put(d);
}

// Iw and Iw.m (m < 0: not given).
void write_int(Out& out, int w, int m, std::int64_t v) {
  const bool neg = v < 0;
  // Magnitude in unsigned arithmetic: the most negative value has no positive twin.
  const std::uint64_t mag =
      neg ? ~static_cast<std::uint64_t>(v) + 1U : static_cast<std::uint64_t>(v);
  std::array<char, 24> digits{};
  auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), mag);
  (void)ec;
  std::string_view ds(digits.data(), static_cast<std::size_t>(end - digits.data()));
  if (m == 0 && mag == 0) ds = {};  // Iw.0 writes zero as blanks only
  const int zeros = m > static_cast<int>(ds.size()) ? m - static_cast<int>(ds.size()) : 0;
  const int len = (neg ? 1 : 0) + zeros + static_cast<int>(ds.size());
  if (w == 0) w = len > 0 ? len : 1;
  if (len > w) {
    stars(out, w);
    return;
  }
  out.fill(' ', w - len);
  if (neg) out.put('-');
  out.fill('0', zeros);
  out.put(ds);
}

// NaN and infinities in a numeric field, as gfortran writes them.
void write_nonfinite(Out& out, int w, double x) {
  const bool neg = std::signbit(x);
  std::string_view text;
  if (std::isnan(x)) {
    if (w == 0) w = 3;
    text = "NaN";
  } else if (neg) {
    if (w == 0) w = 4;
    text = w >= 9 ? "-Infinity" : "-Inf";
  } else {
    if (w == 0) w = 3;
    text = w >= 8 ? "Infinity" : "Inf";
  }
  field(out, w, static_cast<int>(text.size()), text);
}

// A short text assembled in place; pushes beyond the capacity are dropped
// (the callers size it so that this never happens).
template <std::size_t N>
class Chars {
 public:
  void push(char c) {
    if (n_ < N) a_[n_++] = c;
  }
  void append(std::string_view s) {
    for (const char c : s) push(c);
  }
  void repeat(char c, int k) {
    for (int i = 0; i < k; ++i) push(c);
  }
  std::string_view view() const { return {a_.data(), n_}; }
  int size() const { return static_cast<int>(n_); }

 private:
  std::array<char, N> a_{};
  std::size_t n_ = 0;
};

// The decimal digits of a double, in fixed ("ddd.ddd") or scientific
// ("d.ddde+xx") form with prec decimals. to_chars rounds the exact binary value
// to nearest, ties to even, as gfortran does; unlike printf it never allocates
// and ignores the locale. Empty on failure.
std::string_view print(std::array<char, kNumBuf>& buf, std::chars_format form, int prec, double x) {
  const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), x, form, prec);
  if (ec != std::errc{}) return {};
  return {buf.data(), static_cast<std::size_t>(end - buf.data())};
}

// Fw.d under scale factor k: the value times 10^k with d decimals. The leading
// zero of a value below 1 is written only when the field has room for it (and
// always with no decimals, where it is the only digit).
void write_fixed(Out& out, int w, int d, int k, double x) {
  if (!std::isfinite(x)) {
    write_nonfinite(out, w, x);
    return;
  }
  if (w > 0 && d >= w) {  // not even the point and the decimals fit
    stars(out, w);
    return;
  }
  // Round to d + k decimals, then move the point k places right (left when k
  // is negative). A scale beyond the decimals multiplies in binary instead.
  int shift = k;
  double y = std::fabs(x);
  if (d + k < 0) {
    y *= std::pow(10.0, k);
    shift = 0;
  }
  std::array<char, kNumBuf> buf{};
  const std::string_view s = print(buf, std::chars_format::fixed, d + shift, y);
  if (s.empty()) {
    stars(out, w);
    return;
  }
  const std::size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  const std::string_view frac = dot == std::string_view::npos ? "" : s.substr(dot + 1);
  Chars<kNumBuf> ip;  // integer digits
  Chars<kNumBuf> dp;  // exactly d decimals
  if (shift >= 0) {
    ip.append(whole);
    ip.append(frac.substr(0, static_cast<std::size_t>(shift)));
    dp.append(frac.substr(static_cast<std::size_t>(shift)));
  } else {
    const auto left = static_cast<std::size_t>(-shift);
    if (whole.size() > left) {
      ip.append(whole.substr(0, whole.size() - left));
      whole.remove_prefix(whole.size() - left);
    }
    dp.repeat('0', static_cast<int>(left - whole.size()));
    dp.append(whole);
    dp.append(frac);
  }
  std::string_view digits = ip.view();
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);

  const bool neg = std::signbit(x);  // also for values that round to zero
  int len = (neg ? 1 : 0) + static_cast<int>(digits.size()) + 1 + dp.size();
  if (digits.empty() && (d == 0 || w == 0 || len < w)) {
    digits = "0";
    ++len;
  }
  if (w == 0) w = len;
  field(out, w, len, neg ? "-" : "", digits, ".", dp.view());
}

// Ew.d and Ew.dEe (e < 0: not given) under scale factor k. Without a scale
// factor the mantissa is 0.ddd (the zero only when there is room); kP puts k
// digits before the point. A three-digit exponent drops the letter.
void write_exp(Out& out, int w, int d, int e, int k, double x, char letter) {
  if (!std::isfinite(x)) {
    write_nonfinite(out, w, x);
    return;
  }
  // The scale must leave at least one significant digit.
  if ((k > 0 && k > d + 1) || (k <= 0 && k <= -d)) {
    stars(out, w);
    return;
  }
  const double ax = std::fabs(x);
  const int ndig = k > 0 ? d + 1 : d + k;  // significant digits
  std::array<char, kNumBuf> buf{};
  const std::string_view s = print(buf, std::chars_format::scientific, ndig - 1, ax);  // d.ddde+xx
  const std::size_t epos = s.find('e');
  if (s.empty() || epos == std::string_view::npos) {
    stars(out, w);
    return;
  }
  Chars<kNumBuf> digits;
  for (const char c : s.substr(0, epos)) {
    if (c != '.') digits.push(c);
  }
  std::string_view ev = s.substr(epos + 1);
  if (!ev.empty() && ev.front() == '+') ev.remove_prefix(1);
  int e10 = 0;
  std::from_chars(ev.data(), ev.data() + ev.size(), e10);

  Chars<kNumBuf> mant;
  const std::string_view dv = digits.view();
  if (k > 0) {
    mant.append(dv.substr(0, static_cast<std::size_t>(k)));
    mant.push('.');
    mant.append(dv.substr(static_cast<std::size_t>(k)));
  } else {
    mant.push('.');
    mant.repeat('0', -k);
    mant.append(dv);
  }

  // The exponent: letter, sign and two digits; sign and three digits when it
  // needs them; with Ee always the letter and e digits.
  const int expo = ax == 0.0 ? 0 : e10 + 1 - k;
  const int mag = expo < 0 ? -expo : expo;
  int width = 2;
  bool with_letter = true;
  if (e > 0) {
    width = e;
    if (e < 4 && mag >= (e == 1 ? 10 : e == 2 ? 100 : 1000)) {
      stars(out, w);
      return;
    }
  } else if (mag > 99) {
    width = 3;
    with_letter = false;
  }
  Chars<kMaxField + 8> ex;
  if (with_letter) ex.push(letter);
  ex.push(expo < 0 ? '-' : '+');
  std::array<char, 8> ed{};
  auto [end, ec] = std::to_chars(ed.data(), ed.data() + ed.size(), mag);
  (void)ec;
  const std::string_view mag_digits(ed.data(), static_cast<std::size_t>(end - ed.data()));
  ex.repeat('0', width - static_cast<int>(mag_digits.size()));
  ex.append(mag_digits);

  const bool neg = std::signbit(x);
  int len = (neg ? 1 : 0) + mant.size() + ex.size();
  const bool zero = k <= 0 && (w == 0 || len < w);
  if (zero) ++len;
  if (w == 0) w = len;
  field(out, w, len, neg ? "-" : "", zero ? "0" : "", mant.view(), ex.view());
}

// Aw (w < 0: plain A). A shorter text is right-aligned, a longer one cut.
void write_text(Out& out, int w, std::string_view s) {
  if (w < 0) {
    out.put(s);
    return;
  }
  const auto uw = static_cast<std::size_t>(w);
  if (s.size() >= uw) {
    out.put(s.substr(0, uw));
  } else {
    out.fill(' ', static_cast<int>(uw - s.size()));
    out.put(s);
  }
}

// ---- the format walker ------------------------------------------------------

using grammar::Tok;
using grammar::Token;

void write_value(Out& out, const Token& desc, int scale, const Item& item) {
  const int w = desc.w > kMaxField ? kMaxField : desc.w;
  const int d = desc.d > kMaxField ? kMaxField : desc.d;
  const int e = desc.e > kMaxField ? kMaxField : desc.e;
  switch (desc.letter) {
    case 'I':
      if (item.kind == Item::Kind::Int) {
        write_int(out, w, d, item.i);
      } else {
        stars(out, w);  // no silent truncation of a real or a text
      }
      return;
    case 'F':
    case 'E':
    case 'D': {
      if (item.kind == Item::Kind::Text) {
        stars(out, w);
        return;
      }
      const double x = item.kind == Item::Kind::Int ? static_cast<double>(item.i) : item.d;
      if (desc.letter == 'F') {
        write_fixed(out, w, d, scale, x);
      } else {
        write_exp(out, w, d, e, scale, x, desc.letter);
      }
      return;
    }
    default:  // 'A'
      if (item.kind == Item::Kind::Text) {
        write_text(out, w, item.s);
      } else {
        stars(out, w);
      }
      return;
  }
}

// A literal as written in the format, with doubled quotes made single.
void write_literal(Out& out, std::string_view fmt, const Token& t) {
  for (std::size_t p = t.from; p < t.to; ++p) {
    out.put(fmt[p]);
    if (fmt[p] == t.letter) ++p;
  }
}

struct Group {
  std::size_t start;  // just after the '('
  int left;           // passes still to make, this one included
};

// One output statement. Stops quietly at anything it does not understand,
// keeping what was written so far.
void run(Out& out, std::string_view fmt, std::span<const Item> items) {
  grammar::Cursor cur(fmt);
  std::size_t next_item = 0;
  int scale = 0;
  std::array<Group, grammar::kMaxDepth> stack{};
  std::size_t depth = 0;
  // Where the format starts over when the values outlast it: the last group
  // opened at the top level (with its repeat count), or the very beginning.
  std::size_t revert_start = 0;
  int revert_count = 0;
  bool revert_group = false;
  bool used_values = false;  // since the format last started over

  Token t = grammar::next_token(cur);
  if (t.kind != Tok::Open || t.counted) return;
  stack[0] = Group{cur.pos(), 1};
  depth = 1;
  revert_start = cur.pos();

  for (long steps = 0;; ++steps) {
    if (steps == kMaxSteps || out.full()) return;
    t = grammar::next_token(cur);
    switch (t.kind) {
      case Tok::End:  // unbalanced parentheses
      case Tok::Bad:
        return;
      case Tok::Text:
        write_literal(out, fmt, t);
        break;
      case Tok::Slash:
        for (int i = 0; i < t.count; ++i) out.end_line();
        break;
      case Tok::Colon:
        if (next_item == items.size()) return;
        break;
      case Tok::Skip:
        out.skip(t.count);
        break;
      case Tok::Scale:
        scale = t.count < -kMaxScale ? -kMaxScale : t.count > kMaxScale ? kMaxScale : t.count;
        break;
      case Tok::Open:
        if (depth == stack.size()) return;
        if (depth == 1) {
          revert_start = cur.pos();
          revert_count = t.count;
          revert_group = true;
        }
        stack[depth++] = Group{cur.pos(), t.count};
        break;
      case Tok::Close:
        if (depth > 1) {
          Group& g = stack[depth - 1];
          if (--g.left > 0) {
            cur.seek(g.start);
          } else {
            --depth;
          }
          break;
        }
        // The end of the format: done, or a new line and start over. A format
        // that took no value since it last started over would loop forever.
        if (next_item == items.size() || !used_values) return;
        out.end_line();
        used_values = false;
        cur.seek(revert_start);
        if (revert_group) {
          stack[1] = Group{revert_start, revert_count};
          depth = 2;
        }
        break;
      case Tok::Data:
        for (int i = 0; i < t.count; ++i) {
          if (next_item == items.size()) return;
          write_value(out, t, scale, items[next_item++]);
          used_values = true;
        }
        break;
    }
  }
}

}  // namespace

std::string format(Format f, std::span<const Item> items) {
  const std::string_view fmt = f.text();
  std::string text;
  Out out(nullptr, &text);
  run(out, fmt, items);
  out.end_line();
  out.finish();
  return text;
}

bool write(std::FILE* out, Format f, std::span<const Item> items) {
  const std::string_view fmt = f.text();
  if (out == nullptr) return false;
  Out o(out, nullptr);
  run(o, fmt, items);
  o.end_line();
  return o.finish();
}

}  // namespace fortran
