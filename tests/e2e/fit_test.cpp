// The tavrick command end to end: spectra written into a temporary store, the
// command run as a process, its standard output and status checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "spectrum/host.h"
#include "support/process.h"
#include "support/store.h"

namespace {

using testsupport::Result;

using Store = testsupport::TestStore;

// Two Gaussians (centroids on channels 150 and 170, FWHM 5) on a sloping
// background, channels 0 .. n-1, counts rounded.
std::vector<std::int32_t> two_peaks(int n = 300) {
  std::vector<std::int32_t> c(static_cast<std::size_t>(n));
  for (int ch = 0; ch < n; ++ch) {
    const double w = 5.0 / 1.665109223;
    const double b1 = (ch - 150) / w;
    const double b2 = (ch - 170) / w;
    const double y = 100.0 - 0.1 * ch + 4000.0 * std::exp(-b1 * b1) + 2500.0 * std::exp(-b2 * b2);
    c[static_cast<std::size_t>(ch)] = static_cast<std::int32_t>(std::lround(y));
  }
  return c;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// The results table: header, peak rows and background line.
std::vector<std::string> table(const std::string& out) {
  const auto l = lines_of(out);
  std::vector<std::string> t;
  for (std::size_t i = 0; i < l.size(); ++i) {
    if (l[i].rfind("             Centroid", 0) != 0) continue;
    for (std::size_t j = i; j < l.size(); ++j) {
      t.push_back(l[j]);
      if (l[j].rfind("   Background Area", 0) == 0) break;
    }
  }
  return t;
}

const std::vector<std::string> kWindow = {"-spectrum", "two", "-limit", "120",     "200",
                                          "-peaks",    "150", "170",    "-widths", "5"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& more) {
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

TEST(Listing, WholeOutputIsAThreeElementTclList) {
  Store s;
  s.add("two", 0, two_peaks());
  const Result r = s.run(kWindow);
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string file = s.dir.path + "/out.txt";
  std::ofstream(file, std::ios::binary) << r.out;
  const std::string script = s.dir.path + "/read.tcl";
  std::ofstream(script)
      << "set f [open [lindex $argv 0]]\n"
         "set d [read $f]\n"
         "close $f\n"
         "puts [llength $d]\n"
         "foreach i {1 2} {\n"
         "  set e [lindex $d $i]\n"
         "  puts \"[llength $e] [lindex $e 0 0] [lindex $e 0 1] [llength [lindex $e 1]]\"\n"
         "}\n";
  const Result t = testsupport::run({"/usr/bin/tclsh", script, file});
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(t.out, "3\n2 120 81 81\n2 120 81 81\n");
}

TEST(Table, LineLengthsOfEveryGaussianVariant) {
  Store s;
  s.add("two", 0, two_peaks());
  const struct {
    std::vector<std::string> opts;
    std::size_t row;
  } cases[] = {{{}, 70},
               {{"-widthopt", "same"}, 72},
               {{"-widthopt", "same", "-peakopt", "given"}, 72},
               {{"-widthopt", "given"}, 72},
               {{"-widthopt", "given", "-peakopt", "given"}, 72}};
  for (const auto& c : cases) {
    const Result r = s.run(with(kWindow, c.opts));
    ASSERT_EQ(r.status, 0) << r.out;
    const auto t = table(r.out);
    ASSERT_EQ(t.size(), 4u) << r.out;
    EXPECT_EQ(t[0].size(), 63u);
    EXPECT_EQ(t[1].size(), c.row) << t[1];
    EXPECT_EQ(t[2].size(), c.row) << t[2];
    EXPECT_EQ(t[3].size(), 47u);
  }
}

TEST(Table, HeldCentroidsAndWidthsPrintAsGivenWithZeroErrors) {
  Store s;
  s.add("two", 0, two_peaks());
  const Result r = s.run(with(kWindow, {"-widthopt", "given", "-peakopt", "given"}));
  ASSERT_EQ(r.status, 0) << r.out;
  const auto t = table(r.out);
  ASSERT_EQ(t.size(), 4u) << r.out;
  // Row layout: I3, then three times 1X F10.2 '+/-' F9.2 (72 characters).
  EXPECT_EQ(t[1].substr(0, 27), "  1     150.00+/-     0.00 ");
  EXPECT_EQ(t[1].substr(49), "       5.00+/-     0.00");
  EXPECT_EQ(t[2].substr(0, 27), "  2     170.00+/-     0.00 ");
  EXPECT_EQ(t[2].substr(49), "       5.00+/-     0.00");
}

TEST(FetchFailures, EachMessageWithStatus8) {
  Store s;
  s.add("two", 100, two_peaks(300));  // channels 100 .. 399
  s.add("matrix", 0, std::vector<std::int32_t>(200, 1), 2);
  s.add("wide", 0, std::vector<std::int32_t>(70000, 5));
  const auto args = [](const std::string& name, const std::string& lo, const std::string& hi,
                       const std::string& peak) {
    return std::vector<std::string>{"-spectrum", name, "-limit",  lo, hi,
                                    "-peaks",    peak, "-widths", "4"};
  };
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {args("nosuch", "120", "200", "150"), "spectrum not found: nosuch\n"},
      {args("matrix", "10", "20", "15"), "spectrum not 1d: matrix\n"},
      {args("two", "99", "200", "150"), "first peak lies ouside spectrum: two\n"},
      {args("two", "120", "400", "150"), "last peak lies outside spectrum: two\n"},
      // Outside the spectrum wins over a peak outside the window.
      {args("two", "99", "200", "250"), "first peak lies ouside spectrum: two\n"},
      {args("wide", "65000", "65536", "65100"), "fitting over too many channels (65536 maximum)\n"},
      // Outside the spectrum wins over the channel capacity.
      {args("two", "300", "70000", "350"), "last peak lies outside spectrum: two\n"},
      {args("two", "120", "200", "201"), "some peaks lie outside fitting limits\n"},
      {args("two", "120", "200", "119.9"), "some peaks lie outside fitting limits\n"},
  };
  for (const auto& c : cases) {
    const Result r = s.run(c.args);
    EXPECT_EQ(r.status, 8) << c.message;
    EXPECT_EQ(r.out, c.message);
    EXPECT_EQ(r.err, "");
  }
  const Result none = testsupport::run({testsupport::bin("tavrick"), "-spectrum", "two", "-limit",
                                        "120", "200", "-peaks", "150", "-widths", "4"},
                                       {"TAVRICK_EXPERIMENT=" + s.dir.path + "/missing.db"});
  EXPECT_EQ(none.status, 8);
  EXPECT_EQ(none.out, "can't connect to experiment\n");
}

// The two list lines of a successful run.
std::vector<std::string> lists(const std::string& out) {
  const auto l = lines_of(out);
  return l.size() >= 2 ? std::vector<std::string>{l[l.size() - 2], l[l.size() - 1]}
                       : std::vector<std::string>{};
}

TEST(Window, OneChannel) {
  Store s;
  s.add("two", 0, two_peaks());
  const Result r =
      s.run({"-spectrum", "two", "-limit", "150", "150", "-peaks", "150", "-widths", "5"});
  ASSERT_EQ(r.status, 0) << r.out;
  const auto l = lists(r.out);
  ASSERT_EQ(l.size(), 2u);
  for (const auto& line : l) {
    EXPECT_EQ(line.substr(0, 31), " {{         150           1 } {");
    EXPECT_EQ(line.size(), 31u + 12u + 4u) << line;
  }
}

TEST(Window, PeaksOnTheLimitsAndTheSpectrumEnds) {
  Store s;
  s.add("two", 100, two_peaks(300));  // channels 100 .. 399
  const Result r =
      s.run({"-spectrum", "two", "-limit", "399", "100", "-peaks", "100", "399", "-widths", "5"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(lists(r.out)[0].substr(0, 31), " {{         100         300 } {");
}

TEST(Window, FromChannelZero) {
  Store s;
  s.add("two", 0, two_peaks());
  const Result r =
      s.run({"-spectrum", "two", "-limit", "0", "299", "-peaks", "150", "170", "-widths", "5"});
  ASSERT_EQ(r.status, 0) << r.out;
  const auto l = lists(r.out);
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[1].substr(0, 31), " {{           0         300 } {");
  EXPECT_EQ(l[1].size(), 31u + 12u * 300u + 4u);
}

TEST(Window, FullCapacityOf65536Channels) {
  Store s;
  std::vector<std::int32_t> c(70000);
  for (std::size_t ch = 0; ch < c.size(); ++ch) {
    const double b = (static_cast<double>(ch) - 30000.0) / 3.0;
    c[ch] = static_cast<std::int32_t>(std::lround(20.0 + 500.0 * std::exp(-b * b)));
  }
  s.add("wide", 0, c);
  const Result r = s.run({"-spectrum", "wide", "-limit", "0", "65535", "-peaks", "30000", "-widths",
                          "5", "-order", "0"});
  ASSERT_EQ(r.status, 0) << r.out.substr(0, 2000);
  const auto l = lists(r.out);
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].substr(0, 31), " {{           0       65536 } {");
  EXPECT_EQ(l[0].size(), 31u + 12u * 65536u + 4u);
  EXPECT_EQ(l[1].size(), 31u + 12u * 65536u + 4u);
}

TEST(Output, FailedWriteOfTheListingIsAnError) {
  // A listing that cannot be written must not end with status 0.
  Store s;
  s.add("two", 0, two_peaks());
  std::string cmd = "TAVRICK_EXPERIMENT='" + s.path + "' '" + testsupport::bin("tavrick") + "'";
  for (const auto& a : kWindow) cmd += " '" + a + "'";
  cmd += " >/dev/full 2>/dev/null";
  const int ws = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(ws));
  EXPECT_EQ(WEXITSTATUS(ws), 8);
}

}  // namespace
