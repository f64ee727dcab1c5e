// The Fortran-format interpreter against gfortran's own output (vectors.txt,
// see tests/format/gen_vectors.sh), plus the rules pinned one per line.
#include "format/fortran.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <new>
#include <string>
#include <vector>

// Counts heap allocations so a test can prove that write() makes none.
static std::atomic<long> g_allocations{0};

void* operator new(std::size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
// The replaced new allocates with malloc, so free is the matching release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

// The formats under test are texts known at run time, malformed ones included.
template <class... A>
std::string format(std::string_view fmt, const A&... args) {
  return fortran::format(fortran::Format::runtime(fmt), args...);
}
using fortran::Item;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// What write() puts on a stream, read back from a temporary file.
std::string written(std::string_view fmt, std::span<const Item> items, bool* ok = nullptr) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return "<no tmpfile>";
  const bool r = fortran::write(f, fortran::Format::runtime(fmt), items);
  if (ok != nullptr) *ok = r;
  std::string text;
  std::rewind(f);
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) text.push_back(static_cast<char>(c));
  std::fclose(f);
  return text;
}

struct Vector {
  int line = 0;
  std::string fmt;
  std::vector<std::string> texts;  // owns the text values
  std::vector<Item> items;
  std::string expected;
};

template <class T>
T number(const std::string& s) {
  T v{};
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

std::vector<Vector> load_vectors() {
  std::ifstream in(TAVRICK_TEST_DIR "/format/vectors.txt", std::ios::binary);
  std::vector<Vector> all;
  std::string line;
  int lineno = 0;
  bool output = false;
  while (std::getline(in, line)) {
    ++lineno;
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("fmt ", 0) == 0) {
      all.push_back(Vector{});
      all.back().line = lineno;
      all.back().fmt = line.substr(4);
      all.back().texts.reserve(8);
      output = false;
      continue;
    }
    if (all.empty()) continue;
    Vector& v = all.back();
    if (output) {
      if (line == ".") {
        output = false;
      } else if (line.size() >= 2 && line.front() == '|' && line.back() == '|') {
        v.expected += line.substr(1, line.size() - 2) + "\n";
      }
    } else if (line == "=") {
      output = true;
    } else if (line.rfind("i ", 0) == 0) {
      v.items.emplace_back(static_cast<long long>(number<std::int64_t>(line.substr(2))));
    } else if (line.rfind("r ", 0) == 0) {
      v.items.emplace_back(std::bit_cast<double>(number<std::int64_t>(line.substr(2))));
    } else if (line.rfind("t|", 0) == 0 && line.back() == '|') {
      v.texts.push_back(line.substr(2, line.size() - 3));
      v.items.emplace_back(std::string_view(v.texts.back()));
    }
  }
  return all;
}

TEST(FortranFormat, MatchesGfortranOnEveryVector) {
  const std::vector<Vector> vectors = load_vectors();
  ASSERT_GT(vectors.size(), 300U) << "vectors.txt missing or truncated";
  for (const Vector& v : vectors) {
    EXPECT_TRUE(fortran::valid(v.fmt)) << "vectors.txt line " << v.line << ": " << v.fmt;
    EXPECT_EQ(format(v.fmt, v.items), v.expected) << "vectors.txt line " << v.line << ": " << v.fmt;
    EXPECT_EQ(written(v.fmt, v.items), v.expected) << "write(), line " << v.line << ": " << v.fmt;
  }
  std::cout << "format vectors: " << vectors.size() << "\n";
}

TEST(FortranFormat, Integers) {
  EXPECT_EQ(format("(I5)", 42), "   42\n");
  EXPECT_EQ(format("(I3)", 12345), "***\n");
  EXPECT_EQ(format("(I3)", -99), "-99\n");
  EXPECT_EQ(format("(I20)", std::numeric_limits<long long>::min()), "-9223372036854775808\n");
  EXPECT_EQ(format("(I0)", -123), "-123\n");
}

TEST(FortranFormat, FixedPoint) {
  EXPECT_EQ(format("(F5.2)", 0.125), " 0.12\n");  // ties to even on the exact binary value
  EXPECT_EQ(format("(F5.2)", -0.001), "-0.00\n");
  EXPECT_EQ(format("(F3.2)", 0.5), ".50\n");
  EXPECT_EQ(format("(F4.2)", -0.5), "-.50\n");
  EXPECT_EQ(format("(F1.0)", 0.3), "*\n");  // with no decimals the zero is required
  EXPECT_EQ(format("(F12.2)", 1e300), "************\n");
  EXPECT_EQ(format("(F6.1)", 7), "   7.0\n");  // an integer under F is written as a real
}

TEST(FortranFormat, Exponent) {
  EXPECT_EQ(format("(E9.3)", 0.0), "0.000E+00\n");
  EXPECT_EQ(format("(E9.3)", -1.0), "-.100E+01\n");
  EXPECT_EQ(format("(E8.3)", -1.0), "********\n");
  EXPECT_EQ(format("(1PE10.2)", 1e100), "  1.00+100\n");  // ten columns: two blanks
  EXPECT_EQ(format("(1PE10.2)", 9.999e-5), "  1.00E-04\n");
  EXPECT_EQ(format("(-1PE12.3)", 1234.0), "   0.012E+05\n");
  EXPECT_EQ(format("(E12.4E1)", 1e25), "************\n");
}

TEST(FortranFormat, NonFinite) {
  EXPECT_EQ(format("(F10.2)", kNaN), "       NaN\n");
  EXPECT_EQ(format("(F2.1)", kNaN), "**\n");
  EXPECT_EQ(format("(F7.2)", kInf), "    Inf\n");
  EXPECT_EQ(format("(F8.2)", kInf), "Infinity\n");
  EXPECT_EQ(format("(F8.2)", -kInf), "    -Inf\n");
  EXPECT_EQ(format("(F3.2)", -kInf), "***\n");
  EXPECT_EQ(format("(1PE10.3)", -kInf), " -Infinity\n");
}

TEST(FortranFormat, ScaleFactorStaysForTheStatement) {
  EXPECT_EQ(format("(1PE10.2,F8.2)", 1.5, 1.5), "  1.50E+00   15.00\n");
  EXPECT_EQ(format("(' L =',1PE9.2)", 0.001, 0.001), " L = 1.00E-03\n L = 1.00E-03\n");
  EXPECT_EQ(format("(I2,1PE9.2)", 1, 1.0, 2, 2.0), " 1 1.00E+00\n 2 2.00E+00\n");
  EXPECT_EQ(format("(F6.1,1PE9.2)", 1.0, 1.0, 2.0), "   1.0 1.00E+00\n  20.0\n");
}

TEST(FortranFormat, Texts) {
  EXPECT_EQ(format("(A5)", "abc"), "  abc\n");
  EXPECT_EQ(format("(A5)", "abcdefgh"), "abcde\n");
  EXPECT_EQ(format("('[',A,']')", ""), "[]\n");
  EXPECT_EQ(format("('it''s \\T20')"), "it's \\T20\n");
  EXPECT_EQ(format("(\"say \"\"hi\"\"\")"), "say \"hi\"\n");
}

TEST(FortranFormat, LinesAndBlanks) {
  EXPECT_EQ(format("(/' banner')"), "\n banner\n");
  EXPECT_EQ(format("(F5.1//)", 1.0), "  1.0\n\n\n");
  EXPECT_EQ(format("(I3,5X)", 1), "  1\n");  // X at the end of a line writes nothing
  EXPECT_EQ(format("( 3X , 'a' ,   2X,'b')"), "   a  b\n");
}

TEST(FortranFormat, ValuesRunningOut) {
  EXPECT_EQ(format("(I3,3X,'x',I3,'y')", 1), "  1   x\n");
  EXPECT_EQ(format("(I5,:,' tail')", 1), "    1\n");
  EXPECT_EQ(format("(3F5.1)", 1.0), "  1.0\n");
  EXPECT_EQ(format("(I3)"), "\n");
}

TEST(FortranFormat, Reversion) {
  EXPECT_EQ(format("(2F5.1)", 1.0, 2.0, 3.0), "  1.0  2.0\n  3.0\n");
  EXPECT_EQ(format("(I2,2(I3))", 1, 2, 3, 4, 5), " 1  2  3\n  4  5\n");
  EXPECT_EQ(format("(I2,2(1X,2(I2)))", 1, 2, 3, 4, 5, 6), " 1  2 3  4 5\n  6\n");
}

TEST(FortranFormat, MismatchedValuesAreFlagged) {
  EXPECT_EQ(format("(I4)", 2.5), "****\n");
  EXPECT_EQ(format("(F6.2)", "x"), "******\n");
  EXPECT_EQ(format("(A3)", 7), "***\n");
}

// Malformed formats end the statement where they stop making sense, never
// reading past the text or looping.
TEST(FortranFormat, MalformedFormatsStopSafely) {
  EXPECT_EQ(format("(I3", 1, 2), "  1\n");
  EXPECT_EQ(format("(I2,'abc", 1), " 1\n");
  EXPECT_EQ(format("(F5)", 1.0), "\n");
  EXPECT_EQ(format("(X)", 1), "\n");  // no value field: no endless reversion
  EXPECT_EQ(format("I3", 1), "\n");
  EXPECT_EQ(format("", 1), "\n");
  EXPECT_EQ(format("(I2,Q5)", 1, 2), " 1\n");
  EXPECT_EQ(format("(0(I3))", 1), "\n");
  EXPECT_EQ(format("(99999999999999999999X,'a')"), std::string(10000, ' ') + "a\n");
  const std::string deep = std::string(40, '(') + "I1" + std::string(40, ')');
  EXPECT_EQ(format(deep, 1), "\n");
  for (const char* f : {"(", ")", "((", "(3(", "(1P", "(-", "(E9.", "(I3.", "(3H", "(2/", "(:"}) {
    const std::string out = format(f, 1, 2.0, "t");
    EXPECT_TRUE(!out.empty() && out.back() == '\n') << f;
  }
}

static_assert(fortran::valid("('XTEXT 3.0 ',F5.2,' \\C8',I3,1X,1PE10.3,'+/-',  E9.3,      I3)"));
static_assert(fortran::valid("(I4,3(1X,F9.2,' +/-',F8.2))"));
static_assert(!fortran::valid("(I4,3(1X,F9.2,' +/-',F8.2)"));

TEST(FortranValid, RefusesWhatTheInterpreterWouldStopAt) {
  for (const char* f :
       {"", "I3", "(I3", "(I3))", "2(I3)", "(F5)", "(F5.)", "(E0.3)", "(I)", "('abc)", "(0X)",
        "(-2X)", "(P)", "(1P", "(Q5)", "(4Habc)", "(0(I3))", "(I3) x"}) {
    EXPECT_FALSE(fortran::valid(f)) << f;
  }
  for (const char* f : {"()", "(/)", "( i 3 , f 6 . 2 )", "(1PE10.2E3)", "(A)", "(3Habc)",
                        "(-1P,2(1X,D9.2),:,'''')", "(\"q\"\"\")"}) {
    EXPECT_TRUE(fortran::valid(f)) << f;
  }
  EXPECT_TRUE(fortran::valid(std::string(16, '(') + std::string(16, ')')));
  EXPECT_FALSE(fortran::valid(std::string(17, '(') + std::string(17, ')')));
}

// Random formats built from the pieces of the language, run under the
// sanitizer build: no crash, no read past the text, always a final newline.
TEST(FortranFormat, RandomFormatsNeverCrash) {
  static constexpr std::string_view kPieces[] = {
      "(", ")", ",", "'", "''", "'a'", "/", ":", "I",  "F",   "E",     "D",   "A",  "X",  "P", "H",
      ".", "1", "3", "0", "12", "-",   "+", " ", "E2", "5.2", "99999", "(3(", "1P", "2X", "Q"};
  std::uint32_t seed = 12345U;
  auto next = [&seed] {
    seed = seed * 1664525U + 1013904223U;
    return seed >> 8;
  };
  const Item items[] = {Item(1), Item(-2.5), Item("txt"), Item(kNaN), Item(12345678), Item(1e300)};
  for (int n = 0; n < 3000; ++n) {
    std::string f = next() % 8 == 0 ? "" : "(";
    const std::uint32_t len = next() % 14;
    for (std::uint32_t k = 0; k < len; ++k) f += kPieces[next() % std::size(kPieces)];
    if (next() % 2 == 0) f += ")";
    const std::size_t count = next() % (std::size(items) + 1);
    const std::string out =
        fortran::format(fortran::Format::runtime(f), std::span<const Item>(items, count));
    ASSERT_TRUE(!out.empty() && out.back() == '\n') << f;
    ASSERT_LT(out.size(), 200000U) << f;
  }
}

TEST(FortranWrite, LongLinesPassTheBufferIntact) {
  const std::string text(5000, 'x');
  const Item items[] = {Item(std::string_view(text)), Item(3)};
  EXPECT_EQ(written("(' <',A,'>',I2)", items), " <" + text + "> 3\n");
  std::vector<Item> many(700, Item(1.5));
  EXPECT_EQ(written("(700F6.2)", many), format("(700F6.2)", many));
  EXPECT_EQ(format("(700F6.2)", many).size(), 700U * 6U + 1U);
}

TEST(FortranWrite, MakesNoAllocation) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  const double v[] = {1.5, -2.25e-7, kNaN};
  const long before = g_allocations.load();
  fortran::write(f, "(' IT =',I5,'  CHISQ =',F12.4,'  L =',1PE10.2)", 3, v[0], v[1]);
  fortran::write(f, "(I3,3(1X,F10.2,' +/-',F8.2)/25X,F11.2,'+/-',F8.2)", 1, v[0], v[1], v[2], v[0],
                 v[1], v[2], v[0], v[1]);
  fortran::write(f, "('XTEXT 2.5 13.0 \\T20 ',A40)", "title");
  EXPECT_EQ(g_allocations.load(), before);
  std::fclose(f);
}

TEST(FortranWrite, ReportsStreamErrors) {
  std::FILE* f = std::fopen("/dev/full", "w");
  if (f == nullptr) GTEST_SKIP() << "no /dev/full";
  std::setvbuf(f, nullptr, _IONBF, 0);
  EXPECT_FALSE(fortran::write(f, "(I5)", 1));
  EXPECT_FALSE(fortran::write(nullptr, "(I5)", 1));
  std::fclose(f);
  bool ok = false;
  written("(I5)", std::vector<Item>{Item(1)}, &ok);
  EXPECT_TRUE(ok);
}

}  // namespace
