// tavrick-sketch end to end on a spectrum of the demo store: the script's data
// lines carry the spectrum's counts and the listing's curves channel by channel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "spectrum/host.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using testsupport::Result;
using testsupport::slurp;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// The values of a list line " {{ ilo nchan } { v v ... }} ".
std::vector<long> list_values(const std::string& line) {
  std::string s = line;
  for (char& c : s)
    if (c == '{' || c == '}') c = ' ';
  std::istringstream in(s);
  std::vector<long> v;
  for (long x = 0; in >> x;) v.push_back(x);
  return v;  // ilo, nchan, then the values
}

// Pairs of a block of data lines that starts after line `from`.
std::vector<std::pair<double, double>> data_block(const std::vector<std::string>& lines,
                                                  std::size_t& from) {
  std::vector<std::pair<double, double>> v;
  while (from < lines.size() && !lines[from].empty() && lines[from][0] == ' ') {
    std::istringstream in(lines[from]);
    double x = 0, y = 0;
    in >> x >> y;
    v.emplace_back(x, y);
    ++from;
  }
  return v;
}

class Sketch : public ::testing::Test {
 protected:
  void SetUp() override {
    store = dir.path + "/demo.db";
    const auto r =
        testsupport::run({testsupport::bin("tavrick-store"), "demo", "--experiment", store});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  Result sketch(std::vector<std::string> args) const {
    args.insert(args.begin(), testsupport::bin("tavrick-sketch"));
    return testsupport::run(args, {"TAVRICK_EXPERIMENT=" + store});
  }
  // Counts of channels ilo..ihi of a spectrum, read through the library.
  std::vector<std::int32_t> counts(const std::string& name, int ilo, int ihi) const {
    spectrum::Host host(store);
    int status = 0;
    host.sexpt(status);
    spectrum::Ident id;
    host.sname(id, name.c_str(), static_cast<int>(name.size()), status);
    EXPECT_EQ(status, 0) << host.error();
    std::vector<std::int32_t> c(static_cast<std::size_t>(ihi - ilo + 1));
    host.sread(id, ilo, ihi - ilo + 1, 0, 0, c.data(), 4, status);
    EXPECT_EQ(status, 0) << host.error();
    return c;
  }
  testsupport::TempDir dir;
  std::string store;
};

TEST_F(Sketch, DataLinesFollowTheSpectrumAndTheListedCurves) {
  const std::string name = "iaea_cs137_lowres";
  const int ilo = 240, ihi = 330;
  const std::string list = dir.path + "/listing.txt";
  const Result r = sketch({"-spectrum", name, "-limit", "330", "240", "-peaks", "283", "-widths",
                           "12", "-sketchmarks", "283", "-sketchlist", list});
  ASSERT_EQ(r.status, 0) << r.out << slurp(list);
  EXPECT_EQ(r.err, "");

  // The listing is what tavrick prints: its last two lines are the curves.
  const auto listing = lines_of(slurp(list));
  ASSERT_GE(listing.size(), 3u);
  EXPECT_EQ(listing.front(), "{");
  const auto bak = list_values(listing[listing.size() - 2]);
  const auto fit = list_values(listing.back());
  const std::size_t n = static_cast<std::size_t>(ihi - ilo + 1);
  ASSERT_EQ(bak.size(), n + 2);
  ASSERT_EQ(fit.size(), n + 2);

  const auto script = lines_of(r.out);
  ASSERT_GT(script.size(), 10u);
  EXPECT_EQ(script[0], "A4P");
  EXPECT_EQ(script[3], "SCALE X  240  330");
  EXPECT_EQ(script[6], "DATA");
  std::size_t at = 7;
  const auto hist = data_block(script, at);
  const auto c = counts(name, ilo, ihi);
  ASSERT_EQ(hist.size(), 2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    const double ch = ilo + static_cast<double>(i);
    EXPECT_EQ(hist[2 * i], std::make_pair(ch - 0.5, static_cast<double>(c[i])));
    EXPECT_EQ(hist[2 * i + 1], std::make_pair(ch + 0.5, static_cast<double>(c[i])));
  }

  // Listed values are the curves truncated to integers; the script has two decimals.
  const auto near = [](double printed, long listed) {
    return std::fabs(printed - static_cast<double>(listed)) < 1.006;
  };
  ASSERT_EQ(script[at], "SYMBOL OFF");
  at += 3;
  const auto dotted = data_block(script, at);
  ASSERT_EQ(dotted.size(), n);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(dotted[i].first, ilo + static_cast<double>(i));
    EXPECT_TRUE(near(dotted[i].second, bak[i + 2])) << i << ": " << dotted[i].second;
  }
  ASSERT_EQ(script[at], "DATA");  // the marker
  ++at;
  const auto marker = data_block(script, at);
  ASSERT_EQ(marker.size(), 2u);
  EXPECT_EQ(marker[0], std::make_pair(283.0, 0.0));
  ASSERT_EQ(script[at], "LINE DOTDASH");
  at += 2;
  const auto total = data_block(script, at);
  ASSERT_EQ(total.size(), n);
  for (std::size_t i = 0; i < n; ++i)
    EXPECT_TRUE(near(total[i].second, fit[i + 2])) << i << ": " << total[i].second;
  EXPECT_EQ(script[at], "LINE OFF");
  EXPECT_EQ(script[at + 3], "XTEXT 2.5 13.0 \\T20                        " + name);
  EXPECT_EQ(script[at + 4], "XTEXT 2.5 12.0 \\T20                      Channels 240 to 330");
  EXPECT_EQ(script.back().substr(0, 21), "XTEXT 3.0  8.9 \\C8  1");
}

TEST_F(Sketch, ErrorsGoWhereTheListingGoes) {
  Result r = sketch({"-spectrum", "nosuch", "-limit", "1", "20", "-peaks", "5", "-widths", "3"});
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "spectrum not found: nosuch\n");

  const std::string list = dir.path + "/l.txt";
  r = sketch({"-spectrum", "iaea_cs137_lowres", "-limit", "240", "330", "-peaks", "283", "-widths",
              "12", "-sketchfit", "yes", "-sketchlist", list});
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(slurp(list), "bad SKETCHFIT argument\n");

  r = sketch({"-spectrum", "iaea_cs137_lowres", "-limit", "240", "330", "-widths", "12"});
  EXPECT_EQ(r.status, 8);
  EXPECT_EQ(r.err, "no PEAKS argument(s) at all\n");

  r = sketch({"-spectrum", "x", "-sketchlist", dir.path + "/no/such/dir/l.txt"});
  EXPECT_EQ(r.status, 8);
  EXPECT_NE(r.err.find("can't open SKETCHLIST file"), std::string::npos);
}

TEST_F(Sketch, FitFlagZeroAndLogAxis) {
  const Result r = sketch({"-spectrum", "iaea_cs137_lowres", "-limit", "240", "330", "-peaks",
                           "283", "-widths", "12", "-sketchfit", "0", "-sketchlog", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto script = lines_of(r.out);
  EXPECT_EQ(script[2], "LOGY");
  EXPECT_EQ(script.back(), "XTEXT 2.5 12.0 \\T20                      Channels 240 to 330");
  EXPECT_EQ(script.size(), 4u + 4u + 2u * 91u + 5u);
  EXPECT_EQ(r.err.substr(0, 2), "{\n");  // the listing on standard error
}

TEST_F(Sketch, ScriptThatCannotBeWrittenFailsWithStatus8) {
  const std::string list = dir.path + "/l.txt";
  const Result r = testsupport::run(
      {"/bin/sh", "-c",
       "exec \"$0\" -spectrum iaea_cs137_lowres -limit 240 330 -peaks 283 -widths 12 "
       "-sketchlist \"$1\" >/dev/full",
       testsupport::bin("tavrick-sketch"), list},
      {"TAVRICK_EXPERIMENT=" + store});
  EXPECT_EQ(r.status, 8);
  const std::string text = slurp(list);
  EXPECT_NE(text.find("tavrick-sketch: error writing standard output\n"), std::string::npos);
}

TEST_F(Sketch, FormatOptionPicksScriptOrPicture) {
  const std::vector<std::string> fit = {"-spectrum", "ortec_eu152_hpge", "-limit", "1840",
                                        "1920",      "-peaks",           "1880",   "-widths",
                                        "8.2",       "-order",           "1",      "-sketchlist",
                                        "/dev/null"};
  const Result plain = sketch(fit);
  ASSERT_EQ(plain.status, 0) << plain.err;
  struct Case {
    std::vector<std::string> extra;
    int status;
    std::string out_starts;  // empty: the default script, byte for byte
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"-sketchformat", "script"}, 0, "", ""},
      {{"-sketchformat", "svg"}, 0, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", ""},
      {{"-sketchformat", "SVG"}, 8, "", "bad SKETCHFORMAT argument (script|svg)SVG\n"},
      {{"-sketchformat", "sv"}, 8, "", "bad SKETCHFORMAT argument (script|svg)sv\n"},
  };
  for (const Case& c : cases) {
    auto args = fit;
    args.pop_back();
    args.pop_back();
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Result r = sketch(args);
    EXPECT_EQ(r.status, c.status) << c.extra[1];
    if (c.status != 0) {
      EXPECT_EQ(r.out, "") << c.extra[1];
      EXPECT_EQ(r.err, c.err) << c.extra[1];
    } else if (c.out_starts.empty()) {
      EXPECT_EQ(r.out, plain.out) << c.extra[1];
    } else {
      EXPECT_EQ(r.out.substr(0, c.out_starts.size()), c.out_starts);
      // The store's calibration gives the energy axis; the text block is the
      // script's.
      EXPECT_NE(r.out.find("Energy (keV)"), std::string::npos);
      EXPECT_NE(r.out.find("2.282E+00"), std::string::npos);
      EXPECT_EQ(r.out.find("<script"), std::string::npos);
    }
  }
}

}  // namespace
