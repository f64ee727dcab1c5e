// The command's option phase seen from outside: every message, the order in
// which checks report, and the edge cases of the argument scan. A command line
// that passes every check goes on to the experiment, which here does not
// exist, so it ends with "can't connect to experiment".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"

namespace {

const std::string kNoStore = "can't connect to experiment\n";

testsupport::Result tavrick(std::vector<std::string> args) {
  args.insert(args.begin(), testsupport::bin("tavrick"));
  return testsupport::run(args, {"TAVRICK_EXPERIMENT=/nonexistent/tavrick-e2e/none.db"});
}

// A valid command line with more appended (later occurrences do not count,
// so more cannot replace these options).
std::vector<std::string> valid(std::vector<std::string> more = {}) {
  std::vector<std::string> v{"-spectrum", "ge1", "-limit",  "900", "100",
                             "-peaks",    "150", "-widths", "3"};
  v.insert(v.end(), more.begin(), more.end());
  return v;
}

struct Case {
  const char* what;
  std::vector<std::string> args;
  std::string out;
};

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const testsupport::Result r = tavrick(c.args);
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_EQ(r.status, 8) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
  }
}

std::vector<std::string> numbers(const char* option, int n) {
  std::vector<std::string> v{option};
  for (int k = 1; k <= n; ++k) v.push_back(std::to_string(100 + k));
  return v;
}

std::vector<std::string> cat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(TavrickOptions, EveryMessage) {
  const std::vector<std::string> head{"-spectrum", "ge1", "-limit", "1", "2"};
  check({
      {"no arguments", {}, "bad SPECTRUM argument:" + std::string(80, ' ') + "\n"},
      {"spectrum last",
       {"-limit", "1", "2", "-spectrum"},
       "bad SPECTRUM argument:" + std::string(80, ' ') + "\n"},
      {"shape",
       {"-spectrum", "a", "-shape", "Gauss"},
       "bad SHAPE argument (gauss|skew|skewtail|lorentz)Gauss\n"},
      {"shape skews",
       {"-spectrum", "a", "-shape", "skews"},
       "bad SHAPE argument (gauss|skew|skewtail|lorentz)skews\n"},
      {"widthopt",
       {"-spectrum", "a", "-widthopt", "sam"},
       "bad WIDTHOPT argument (different|same|given)sam\n"},
      {"peakopt",
       {"-spectrum", "a", "-peakopt", "given2"},
       "bad PEAKOPT argument (different|given)given2\n"},
      {"order 6",
       {"-spectrum", "a", "-order", "6"},
       "invalid background polynomial order (0..5)\n"},
      {"order -1",
       {"-spectrum", "a", "-order", "-1"},
       "invalid background polynomial order (0..5)\n"},
      {"no limit", {"-spectrum", "a"}, "bad LIMIT argument\n"},
      {"one limit then option",
       {"-spectrum", "a", "-limit", "100", "-peaks", "150"},
       "bad LIMIT argument\n"},
      {"one limit last", {"-spectrum", "a", "-limit", "100"}, "bad LIMIT argument\n"},
      {"real limit", {"-spectrum", "a", "-limit", "100", "200.5"}, "bad LIMIT argument\n"},
      {"31 peaks", cat(head, numbers("-peaks", 31)), "too many PEAKS (max of 30)\n"},
      {"no peaks", head, "no PEAKS argument(s) at all\n"},
      {"peaks not a number", cat(head, {"-peaks", "x", "150"}), "no PEAKS argument(s) at all\n"},
      {"no widths", cat(head, {"-peaks", "150"}), "no WIDTHS argument(s) at all\n"},
      {"31 widths", cat(head, cat({"-peaks", "150"}, numbers("-widths", 31))),
       "too many WIDTHS (max of 30)\n"},
      {"skew without skews", valid({"-shape", "skew"}), "no SKEWS argument(s) at all\n"},
      {"31 skews", valid(numbers("-skews", 31)), "too many SKEWS (max of 30)\n"},
      {"skewtail defaults", valid({"-shape", "skewtail"}),
       "SHAPE=skewtail requires WIDTHOPT=same|given or PEAKOPT=given\n"},
      {"skewtail same", valid({"-shape", "skewtail", "-widthopt", "same"}),
       "SHAPE=skewtail requires WIDTHOPT=given\n"},
      {"skewtail peaks given", valid({"-shape", "skewtail", "-peakopt", "given"}),
       "SHAPE=skewtail requires WIDTHOPT=given\n"},
      {"gauss peaks given", valid({"-peakopt", "given"}),
       "SHAPE=gauss with PEAKOPT=given requires WIDTHOPT=same|given\n"},
      {"zero width", cat(head, {"-peaks", "150", "-widths", "3", "0"}),
       "WIDTHS must be positive\n"},
      {"negative skew", valid({"-skews", "-2"}), "SKEWS must be positive\n"},
  });
}

TEST(TavrickOptions, EarlierCheckWins) {
  check({
      {"shape before order",
       {"-spectrum", "a", "-order", "9", "-shape", "x"},
       "bad SHAPE argument (gauss|skew|skewtail|lorentz)x\n"},
      {"order before limit",
       {"-spectrum", "a", "-order", "9"},
       "invalid background polynomial order (0..5)\n"},
      {"spectrum before all",
       {"-shape", "x", "-order", "9"},
       "bad SPECTRUM argument:" + std::string(80, ' ') + "\n"},
      {"widths before combination",
       {"-spectrum", "a", "-limit", "1", "2", "-peaks", "1", "-shape", "skewtail"},
       "no WIDTHS argument(s) at all\n"},
      {"too many widths before their sign",
       cat({"-spectrum", "a", "-limit", "1", "2", "-peaks", "1"},
           cat(numbers("-widths", 30), {"-1"})),
       "too many WIDTHS (max of 30)\n"},
  });
}

TEST(TavrickOptions, AcceptedLines) {
  std::vector<std::string> thirty = valid();
  thirty.resize(5);
  thirty = cat(cat(thirty, numbers("-peaks", 30)), {"-widths", "3"});
  check({
      {"limits reversed", valid(), kNoStore},
      {"thirty peaks", thirty, kNoStore},
      {"list ends at a word",
       {"-spectrum", "a", "-limit", "1", "2", "-peaks", "100", "x", "200", "-widths", "3", "4"},
       kNoStore},
      {"minus five is a skew, not the list end", valid({"-skews", "1", "-5"}),
       "SKEWS must be positive\n"},
      {"order not a number", valid({"-order", "x"}), kNoStore},
      {"option twice", valid({"-order", "3", "-order", "9"}), kNoStore},
      {"second spectrum ignored", valid({"-spectrum"}), kNoStore},
      {"lone dash and strays", valid({"-", "stray", "-nosuch", "1"}), kNoStore},
      {"empty name",
       {"-spectrum", "", "-limit", "1", "2", "-peaks", "1", "-widths", "3"},
       kNoStore},
      {"long name",
       {"-spectrum", std::string(200, 'n'), "-limit", "1", "2", "-peaks", "1", "-widths", "3"},
       kNoStore},
      {"trailing blanks",
       {"-spectrum ", "a", "-shape", "skew  ", "-limit", "1 ", "2", "-peaks", "1", "-widths", "3",
        "-skews", "2\t"},
       kNoStore},
      {"skewtail given no skews", valid({"-shape", "skewtail", "-widthopt", "given"}), kNoStore},
      {"skewtail same and given",
       valid({"-shape", "skewtail", "-widthopt", "given", "-peakopt", "given"}), kNoStore},
  });
}

TEST(TavrickOptions, SearchHalfWidth) {
  const std::string bad = "bad SEARCH argument (an integer 0..65536)\n";
  check({
      {"search 0", valid({"-search", "0"}), kNoStore},
      {"search whole range", valid({"-search", "65536"}), kNoStore},
      {"search last counts as absent", valid({"-search"}), kNoStore},
      {"search negative", valid({"-search", "-1"}), bad},
      {"search beyond the channels", valid({"-search", "65537"}), bad},
      {"search real", valid({"-search", "2.5"}), bad},
      {"search word", valid({"-search", "off"}), bad},
      {"search empty", valid({"-search", ""}), bad},
      {"search followed by an option", valid({"-search", "-order", "1"}), bad},
      {"older checks first", valid({"-search", "x", "-order", "9"}),
       "invalid background polynomial order (0..5)\n"},
  });
}

TEST(TavrickOptions, Weights) {
  const std::string bad = "bad WEIGHTS argument (data|fit|poisson)";
  check({
      {"weights data", valid({"-weights", "data"}), kNoStore},
      {"weights fit", valid({"-weights", "fit"}), kNoStore},
      {"weights poisson", valid({"-weights", "poisson"}), kNoStore},
      {"weights last counts as absent", valid({"-weights"}), kNoStore},
      {"weights capitalised", valid({"-weights", "Poisson"}), bad + "Poisson\n"},
      {"weights followed by an option", valid({"-weights", "-order", "1"}), bad + "-order\n"},
      {"search before weights", valid({"-weights", "x", "-search", "-3"}),
       "bad SEARCH argument (an integer 0..65536)\n"},
  });
}

TEST(TavrickOptions, MessageKeepsTheWordAsTyped) {
  // Cut to the 128 characters of an argument; trailing blanks dropped.
  check({
      {"long shape",
       {"-spectrum", "a", "-shape", std::string(200, 'q')},
       "bad SHAPE argument (gauss|skew|skewtail|lorentz)" + std::string(128, 'q') + "\n"},
      {"shape with blank",
       {"-spectrum", "a", "-shape", "gauss x "},
       "bad SHAPE argument (gauss|skew|skewtail|lorentz)gauss x\n"},
      {"empty shape",
       {"-spectrum", "a", "-shape", ""},
       "bad SHAPE argument (gauss|skew|skewtail|lorentz)\n"},
  });
}

}  // namespace
