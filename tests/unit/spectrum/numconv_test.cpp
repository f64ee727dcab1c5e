// ctoi and ctor against an independent reference: a regular expression for
// the accepted forms and the C library's strtol/strtof for the values.
#include "spectrum/numconv.h"

#include <gtest/gtest.h>

// g++ 12 with the sanitizers warns falsely inside std::regex's own code.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>

namespace {

struct IntOut {
  int status;
  std::int32_t value;
};

IntOut toi(const std::string& t, int pos = 1) {
  IntOut r{-99, 777};
  spectrum::ctoi(t.data(), static_cast<int>(t.size()), pos, r.value, r.status);
  return r;
}

struct RealOut {
  int status;
  float value;
};

RealOut tor(const std::string& t, int pos = 1) {
  RealOut r{-99, 777.0f};
  spectrum::ctor(t.data(), static_cast<int>(t.size()), pos, r.value, r.status);
  return r;
}

// Reference for ctoi: the form by regex, the value by strtoll.
bool ref_int(const std::string& t, std::int32_t& v) {
  static const std::regex form("[+-]?[0-9]+");
  if (t.size() > 32 || !std::regex_match(t, form)) return false;
  errno = 0;
  const long long x = std::strtoll(t.c_str(), nullptr, 10);
  if (errno == ERANGE || x < INT32_MIN || x > INT32_MAX) return false;
  v = static_cast<std::int32_t>(x);
  return true;
}

// Reference for ctor: the form by regex, the value by glibc's correctly
// rounded strtof; ERANGE with an infinity is an overflow, with a zero or a
// subnormal an underflow, which converts.
bool ref_real(const std::string& t, float& v) {
  static const std::regex form(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eEdD][+-]?[0-9]+)?)");
  if (t.size() > 32 || !std::regex_match(t, form)) return false;
  std::string c = t;
  for (char& ch : c) {
    if (ch == 'd' || ch == 'D') ch = 'e';
  }
  errno = 0;
  const float x = std::strtof(c.c_str(), nullptr);
  if (std::isinf(x)) return false;
  v = x;
  return true;
}

// Texts near the accepted forms: mostly well-formed numbers over the whole
// single-precision range and beyond, some with a character changed.
std::string random_text(std::mt19937& g) {
  auto pick = [&](int n) { return static_cast<int>(g() % static_cast<unsigned>(n)); };
  auto digits = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + pick(10));
    return s;
  };
  std::string s;
  const int sign = pick(4);
  if (sign == 1) s += '-';
  if (sign == 2) s += '+';
  const int kind = pick(4);
  if (kind == 0) {
    s += digits(1 + pick(12));
  } else if (kind == 1) {
    s += digits(pick(10)) + "." + digits(pick(10));
  } else {
    s += digits(1 + pick(3)) + "." + digits(pick(9));
    s += "eEdD"[pick(4)];
    const int es = pick(3);
    if (es == 1) s += '-';
    if (es == 2) s += '+';
    s += std::to_string(pick(kind == 2 ? 60 : 400));
  }
  if (pick(8) == 0 && !s.empty()) {
    static const char alphabet[] = "0123456789+-.eEdD x";
    s[static_cast<std::size_t>(pick(static_cast<int>(s.size())))] = alphabet[pick(19)];
  }
  return s;
}

TEST(Ctor, AgreesWithStrtofOnRandomTexts) {
  std::mt19937 g(20261208u);
  int converted = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string t = random_text(g);
    float want = 0.0f;
    const bool ok = ref_real(t, want);
    const RealOut r = tor(t);
    ASSERT_EQ(r.status == 0, ok) << '"' << t << '"';
    if (ok) {
      ++converted;
      ASSERT_EQ(std::bit_cast<std::uint32_t>(r.value), std::bit_cast<std::uint32_t>(want))
          << '"' << t << '"';
    } else {
      ASSERT_EQ(r.value, 777.0f) << "result touched for \"" << t << '"';
    }
  }
  EXPECT_GT(converted, 10000);
}

TEST(Ctoi, AgreesWithStrtolOnRandomTexts) {
  std::mt19937 g(7u);
  for (int i = 0; i < 20000; ++i) {
    std::string t = random_text(g);
    if (g() % 2 == 0) t = t.substr(0, t.find_first_of(".eEdD"));
    std::int32_t want = 0;
    const bool ok = ref_int(t, want);
    const IntOut r = toi(t);
    ASSERT_EQ(r.status == 0, ok) << '"' << t << '"';
    if (ok) {
      ASSERT_EQ(r.value, want) << '"' << t << '"';
    }
  }
}

TEST(Ctoi, RangeSignsAndZeros) {
  EXPECT_EQ(toi("2147483647").value, 2147483647);
  EXPECT_EQ(toi("-2147483648").value, INT32_MIN);
  EXPECT_NE(toi("2147483648").status, 0);
  EXPECT_NE(toi("-2147483649").status, 0);
  EXPECT_EQ(toi("+17").value, 17);
  EXPECT_EQ(toi("-0").value, 0);
  EXPECT_EQ(toi("000000000000000000000000000000042").status, 1);  // 33 characters
  EXPECT_EQ(toi("00000000000000000000000000000042").value, 42);   // 32 characters
  for (const char* bad :
       {"", "+", "-", "+-5", "--5", " 5", "5 ", "5x", "1.0", "1e3", "0x10", "-limit", "peaks"}) {
    const IntOut r = toi(bad);
    EXPECT_NE(r.status, 0) << '"' << bad << '"';
    EXPECT_EQ(r.value, 777) << '"' << bad << '"';
  }
}

TEST(Ctoi, StartsAtPosition) {
  EXPECT_EQ(toi("xx42", 3).value, 42);
  EXPECT_NE(toi("42", 3).status, 0);
  EXPECT_NE(toi("42", 0).status, 0);
}

TEST(Ctor, FormsThatConvert) {
  EXPECT_EQ(tor("5.").value, 5.0f);
  EXPECT_EQ(tor(".5").value, 0.5f);
  EXPECT_EQ(tor("+2.5").value, 2.5f);
  EXPECT_EQ(tor("-2.5").value, -2.5f);
  EXPECT_EQ(tor("1d3").value, 1000.0f);
  EXPECT_EQ(tor("1D-1").value, 0.1f);
  EXPECT_EQ(tor("2.E+2").value, 200.0f);
  EXPECT_EQ(tor("100.3").value, 100.3f);
  EXPECT_EQ(tor("0e99999999999999999999999999999").value, 0.0f);
}

TEST(Ctor, FormsThatDoNot) {
  for (const char* bad :
       {"",      ".",   "+",    "-.",  "e5",       ".e5",   "5e",   "5e+", "5 ",  " 5",    "5..",
        "1.2.3", "inf", "-inf", "nan", "infinity", "0x1p3", "1e5x", "+-1", "1,5", "-skews"}) {
    const RealOut r = tor(bad);
    EXPECT_NE(r.status, 0) << '"' << bad << '"';
    EXPECT_EQ(r.value, 777.0f) << '"' << bad << '"';
  }
  // 33 characters do not convert even though the number is fine.
  EXPECT_NE(tor("1.0000000000000000000000000000000").status, 0);
  EXPECT_EQ(tor("1.000000000000000000000000000000").value, 1.0f);
}

TEST(Ctor, RangeEnds) {
  // The largest float, and the decimal just below the midpoint to 2^128,
  // round to it; the midpoint and above overflow.
  EXPECT_EQ(tor("3.4028235e38").value, 3.4028234663852886e38f);
  EXPECT_EQ(tor("3.4028235677e38").value, 3.4028234663852886e38f);
  EXPECT_NE(tor("3.40282357e38").status, 0);
  EXPECT_NE(tor("-1e39").status, 0);
  EXPECT_NE(tor("1e99999999999999999999999999999").status, 0);
  EXPECT_NE(tor("0.00000000000000000000001e62").status, 0);
  // Subnormals round from the decimal text; below half the smallest one the
  // value is a zero of its sign.
  EXPECT_EQ(tor("1e-40").value, 1e-40f);
  EXPECT_EQ(tor("1.4e-45").value, 0x1p-149f);
  EXPECT_EQ(tor("7.1e-46").value, 0x1p-149f);
  const RealOut z = tor("-7e-46");
  EXPECT_EQ(z.status, 0);
  EXPECT_TRUE(z.value == 0.0f && std::signbit(z.value));
  EXPECT_EQ(tor("1e-99999999999999999999999999999").status, 0);
  EXPECT_EQ(tor("100000000000000000000000e-80").value, 0.0f);
}

}  // namespace
