// The argument layer: scanning for options, delivering their values, exits.
#include "main/args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tavrick::Args;

// Process arguments built from strings; argv[0] is the program.
struct Argv {
  std::vector<std::string> s;
  std::vector<char*> p;
  explicit Argv(std::vector<std::string> args) : s(std::move(args)) {
    s.insert(s.begin(), "tavrick");
    for (auto& a : s) p.push_back(a.data());
    p.push_back(nullptr);
  }
  Args args() { return Args(static_cast<int>(s.size()), p.data()); }
};

// One fsarg request into a 256-character value text prefilled with '#'.
struct Got {
  int status;
  int len;
  std::string text;  // the first len characters
  std::string all;
};

Got get(Args& a, std::string_view name) {
  std::string v(256, '#');
  Got g{0, -7, {}, {}};
  a.fsarg(name, std::span<char>(v.data(), v.size()), g.len, g.status);
  if (g.len >= 0) g.text = v.substr(0, static_cast<std::size_t>(g.len));
  g.all = v;
  return g;
}

TEST(Siglen, TrailingBlanksAndControlsAreFiller) {
  EXPECT_EQ(tavrick::siglen("ab  ", 4), 2);
  EXPECT_EQ(tavrick::siglen("ab\t\r\x01 ", 6), 2);
  EXPECT_EQ(tavrick::siglen(" a b ", 5), 4);
  EXPECT_EQ(tavrick::siglen("    ", 4), 0);
  EXPECT_EQ(tavrick::siglen("x\xe9", 2), 2);  // bytes from 128 up are significant
  EXPECT_EQ(tavrick::siglen("ab", 0), 0);
  EXPECT_EQ(tavrick::siglen("ab", -3), -3);
  EXPECT_EQ(tavrick::siglen("abcdef", 3), 3);
}

TEST(Findarg, PadsCutsAndBlanksOutOfRange) {
  Argv v({"abc", std::string(200, 'x')});
  Args a = v.args();
  EXPECT_EQ(a.countargs(), 2);
  tavrick::ArgText t;
  a.findarg(1, t);
  EXPECT_EQ(std::string(t.data(), 4), "abc ");
  EXPECT_EQ(tavrick::siglen(t.data(), 128), 3);
  a.findarg(2, t);
  EXPECT_EQ(std::string(t.data(), 128), std::string(128, 'x'));
  for (std::int16_t i : {0, 3, -1}) {
    a.findarg(i, t);
    EXPECT_EQ(tavrick::siglen(t.data(), 128), 0);
  }
}

TEST(Fsarg, WalksAListAndStaysPastItsEnd) {
  Argv v({"-limit", "900", "100", "-peaks", "150"});
  Args a = v.args();
  EXPECT_EQ(get(a, "limit").text, "900");
  EXPECT_EQ(get(a, "limit").text, "100");
  // The argument after the values goes out whatever it is.
  const Got third = get(a, "limit");
  EXPECT_EQ(third.status, Args::kDelivered);
  EXPECT_EQ(third.text, "-peaks");
  EXPECT_EQ(get(a, "limit").text, "150");
  for (int k = 0; k < 3; ++k) {
    const Got end = get(a, "limit");
    EXPECT_EQ(end.status, Args::kNone);
    EXPECT_EQ(end.len, -7);  // untouched
    EXPECT_EQ(end.all, std::string(256, '#'));
  }
  EXPECT_EQ(a.state().name, 1);
  EXPECT_EQ(a.state().value, 6);
}

TEST(Fsarg, OtherOptionRestartsAndOnlyFirstOccurrenceCounts) {
  Argv v({"-peaks", "1", "2", "-widths", "3", "-peaks", "9"});
  Args a = v.args();
  EXPECT_EQ(get(a, "peaks").text, "1");
  EXPECT_EQ(get(a, "peaks").text, "2");
  EXPECT_EQ(get(a, "widths").text, "3");
  EXPECT_EQ(get(a, "peaks").text, "1");
  EXPECT_EQ(get(a, "order").status, Args::kNone);
  // A failed search leaves the state where it was.
  EXPECT_EQ(get(a, "peaks").text, "2");
}

TEST(Fsarg, NameMatchingRules) {
  // Last argument: absent; state unchanged.
  Argv last({"-peaks", "1", "-widths"});
  Args a = last.args();
  EXPECT_EQ(get(a, "peaks").text, "1");
  EXPECT_EQ(get(a, "widths").status, Args::kNone);
  EXPECT_EQ(a.state().name, 1);

  // A lone "-" is never a name; exact, case-sensitive, no abbreviations.
  Argv odd({"-", "x", "-Peaks", "1", "-peak", "2", "-peakss", "3", "peaks", "4"});
  Args b = odd.args();
  EXPECT_EQ(get(b, "").status, Args::kNone);
  EXPECT_EQ(get(b, "peaks").status, Args::kNone);

  // Trailing blanks and controls inside an argument are ignored.
  Argv blank({"-peaks \t", "150  "});
  Args c = blank.args();
  const Got g = get(c, "peaks");
  EXPECT_EQ(g.len, 3);
  EXPECT_EQ(g.all.substr(0, 4), "150#");  // only len characters are written
}

TEST(Fsarg, EmptyAndLongValues) {
  Argv v({"-spectrum", "", "-shape", std::string(200, 'y')});
  Args a = v.args();
  const Got e = get(a, "spectrum");
  EXPECT_EQ(e.status, Args::kDelivered);
  EXPECT_EQ(e.len, 0);
  EXPECT_EQ(e.all, std::string(256, '#'));
  const Got l = get(a, "shape");
  EXPECT_EQ(l.len, 128);
  EXPECT_EQ(l.all, std::string(128, 'y') + std::string(128, '#'));
}

TEST(Fsarg, ArgumentsBeyondSixteenBitIndicesAreNotScanned) {
  std::vector<std::string> many(40000, "x");
  many[32764] = "-peaks";  // argument 32765
  many[32765] = "7";
  many[32766] = "8";
  many[39000] = "-widths";
  Argv v(many);
  Args a = v.args();
  EXPECT_EQ(a.countargs(), Args::kMaxArgs);
  EXPECT_EQ(get(a, "peaks").text, "7");
  for (int k = 0; k < 3; ++k) EXPECT_EQ(get(a, "peaks").status, Args::kNone);
  EXPECT_EQ(a.state().value, Args::kMaxArgs + 1);
  EXPECT_EQ(get(a, "widths").status, Args::kNone);
}

TEST(Txtin, BlanksTheValueFirst) {
  Argv v({"-spectrum", "", "-shape", "skew"});
  Args a = v.args();
  std::string t(256, '#');
  int len = 99;
  EXPECT_EQ(a.txtin("spectrum", std::span<char>(t.data(), t.size()), len), 0);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(t, std::string(256, ' '));
  len = 99;
  EXPECT_EQ(a.txtin("peakopt", std::span<char>(t.data(), t.size()), len), -1);
  EXPECT_EQ(len, 99);
}

TEST(Intin, ConvertsOrReportsWhyNot) {
  Argv v({"-limit", "-5", "+7", "x", "-order", std::string(31, '0') + "42", "-peaks", "1.5",
          std::string(40, '1')});
  Args a = v.args();
  std::int32_t n = 123;
  EXPECT_EQ(a.intin("limit", n), 0);
  EXPECT_EQ(n, -5);
  EXPECT_EQ(a.intin("limit", n), 0);
  EXPECT_EQ(n, 7);
  EXPECT_GT(a.intin("limit", n), 0);  // delivered, does not convert
  EXPECT_EQ(n, 7);
  EXPECT_GT(a.intin("order", n), 0);  // 33 characters: longer than the work text
  EXPECT_EQ(a.intin("skews", n), -1);
  EXPECT_EQ(n, 7);

  float r = 0.0f;
  EXPECT_EQ(a.rlin("peaks", r), 0);
  EXPECT_EQ(r, 1.5f);
  EXPECT_GT(a.rlin("peaks", r), 0);  // 40 characters
  EXPECT_EQ(r, 1.5f);
  EXPECT_EQ(a.rlin("peaks", r), -1);
}

TEST(Exits, WriteOneLineAndEnd) {
  EXPECT_EXIT(tavrick::crash("bad LIMIT argument", stderr), testing::ExitedWithCode(8),
              "^bad LIMIT argument\n$");
  EXPECT_EXIT(tavrick::usage("what", stderr), testing::ExitedWithCode(8),
              "^what\nusage: tavrick -spectrum specname -limit lim1 lim2 \\.\\.\\.\n$");
  spectrum::Host host("/nonexistent/dir/none.db");
  int status = 0;
  host.sexpt(status);
  ASSERT_NE(status, 0);
  EXPECT_EXIT(tavrick::sabend(host, 3, stderr), testing::ExitedWithCode(3), "^[^\n]+\n$");
}

}  // namespace
