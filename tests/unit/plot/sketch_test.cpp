// The plot script writer: line sequence, count axis, markers, text block.
#include "plot/sketch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

using tavrick::FitResults;
using tavrick::sketch;
using tavrick::sketch_scale;
using tavrick::SketchArgs;

// Runs sketch into a temporary file and returns the script's lines.
std::vector<std::string> script(const SketchArgs& a) {
  std::FILE* f = std::tmpfile();
  sketch(a, f);
  std::rewind(f);
  std::vector<std::string> lines;
  std::string cur;
  for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(static_cast<char>(c));
    }
  }
  std::fclose(f);
  EXPECT_TRUE(cur.empty()) << "last line not ended";
  return lines;
}

// The command word of a line; data lines (leading blanks) are "#".
std::string word(const std::string& line) {
  if (line.empty() || line[0] == ' ') return "#";
  return line.substr(0, line.find(' '));
}

std::vector<std::string> words(const std::vector<std::string>& lines) {
  std::vector<std::string> w;
  for (const auto& l : lines) w.push_back(word(l));
  return w;
}

// A fit of five channels 10..14 with made-up results.
struct Fixture {
  std::vector<double> spec = std::vector<double>(20, 0.0);
  std::vector<double> bak = std::vector<double>(20, 0.0);
  std::vector<double> fit = std::vector<double>(20, 0.0);
  FitResults res{};
  std::vector<double> marks{11.0};
  SketchArgs a{};

  Fixture() {
    const double counts[] = {5, 40, 1234, 60, 7};
    for (int i = 10; i <= 14; ++i) {
      spec[i] = counts[i - 10];
      bak[i] = 2.0 + 0.5 * i;
      fit[i] = bak[i] + counts[i - 10] * 0.9;
    }
    res.cenfit = {105.16, 131.51};
    res.cenerr = {0.07, 0.09};
    res.arefit = {5114.0, 2642.7};
    res.areerr = {106.2, 76.3};
    res.hgtfit = {697.2, 451.4};
    res.hgterr = {16.0, 13.6};
    res.fwhfit = {5.44, 5.68};
    res.fwherr = {0.12, 0.18};
    res.fwlfit = {2.44, 2.40};
    res.fwlerr = {0.10, 0.14};
    res.bakarea = 2422.8;
    res.bakaerr = 10.5;
    res.bakfit = {31.93, -0.03085, -1.935e-4};
    res.bakerr = {1.868, 0.1148, 1.381e-3};
    a.spec = spec.data();
    a.title1 = "skew";
    a.title2 = "Channels 10 to 14";
    a.ilo = 10;
    a.ihi = 14;
    a.npeaks = 2;
    a.nbak = 3;
    a.dotted = bak.data();
    a.dotdash = fit.data();
    a.res = &res;
    a.chisq = 0.7917;
    a.markers = marks;
    a.iskew = 1;
    a.fitflag = 1;
  }
};

std::vector<std::string> repeat(std::vector<std::string> v, const std::string& w, int n) {
  v.insert(v.end(), static_cast<std::size_t>(n), w);
  return v;
}

TEST(Sketch, TwoSkewPeaksThreeCoefficientsLineSequence) {
  Fixture f;
  const auto lines = script(f.a);
  std::vector<std::string> want = {"A4P", "PICTURE", "SCALE", "SCALE", "LINE", "LINE", "DATA"};
  want = repeat(want, "#", 10);
  want.insert(want.end(), {"SYMBOL", "LINE", "DATA"});
  want = repeat(want, "#", 5);
  want.insert(want.end(), {"DATA", "#", "#", "LINE", "DATA"});
  want = repeat(want, "#", 5);
  want.insert(want.end(), {"LINE", "XTEXT", "YTEXT", "XTEXT", "XTEXT", "XTEXT", "XTEXT", "XTEXT",
                           "XTEXT", "XTEXT", "XTEXT", "XTEXT", "XTEXT", "XTEXT", "XTEXT"});
  EXPECT_EQ(words(lines), want);

  ASSERT_EQ(lines.size(), want.size());
  EXPECT_EQ(lines[2], "SCALE Y        0.0        2000.        1000.");
  EXPECT_EQ(lines[3], "SCALE X   10   14");
  EXPECT_EQ(lines[7], "        9.50        5.00");
  EXPECT_EQ(lines[8], "       10.50        5.00");
  EXPECT_EQ(lines[10], "       11.50       40.00");
  EXPECT_EQ(lines[20], "       10.00        7.00");
  EXPECT_EQ(lines[26], "       11.00        0.00");
  EXPECT_EQ(lines[27], "       11.00     2000.00");
  const std::size_t t = lines.size() - 15;
  const std::vector<std::string> text(lines.begin() + static_cast<long>(t), lines.end());
  const std::vector<std::string> want_text = {
      "LINE OFF",
      "XTEXT 9.5  14.5 \\T20 Channel Number",
      "YTEXT 3 19 \\T20 Counts per Channel",
      "XTEXT 2.5 13.0 \\T20                                     skew",
      "XTEXT 2.5 12.0 \\T20                        Channels 10 to 14",
      "XTEXT 3.0 11.0 \\C8  KORVEL with Gaussians:  Chisq= 7.917E-01 per point",
      "XTEXT 3.0 10.7 \\C8  Background Area=      2422.8 +/-         10.5",
      "XTEXT 3.0 10.4 \\C8  N  Bakfit(N)   Bakerr(N)  N  Bakfit(N)   Bakerr(N)",
      "XTEXT 3.0 10.10 \\C8  1  3.193E+01+/-1.868E+00  2 -3.085E-02+/-1.148E-01",
      "XTEXT 3.0  9.80 \\C8  3 -1.935E-04+/-1.381E-03",
      "XTEXT 3.0 9.2 \\C8   N     Centroid              Area              FwhmHi/Lo",
      "XTEXT 3.0  8.9 \\C8  1   105.16+/-   0.07     5114.0+/-    106.2   5.44+/-  0.12",
      "XTEXT 3.0  8.6 \\C8                                                2.44+/-  0.10",
      "XTEXT 3.0  8.3 \\C8  2   131.51+/-   0.09     2642.7+/-     76.3   5.68+/-  0.18",
      "XTEXT 3.0  8.0 \\C8                                                2.40+/-  0.14",
  };
  EXPECT_EQ(text, want_text);
}

TEST(Sketch, FitFlagZeroEndsAfterTitlesAndScalesTheSpectrumAlone) {
  Fixture f;
  f.a.fitflag = 0;
  f.fit[12] = 1.0e6;  // would raise the axis if the curves took part
  const auto lines = script(f.a);
  ASSERT_EQ(lines.size(), 7u + 10u + 5u);
  EXPECT_EQ(lines[2], "SCALE Y        0.0        2000.        1000.");
  EXPECT_EQ(lines[17], "LINE OFF");
  EXPECT_EQ(lines.back(), "XTEXT 2.5 12.0 \\T20                        Channels 10 to 14");
}

TEST(Sketch, CurvesTakePartInTheRangeAndNaNIsSkipped) {
  Fixture f;
  f.fit[12] = 7000.0;
  f.spec[11] = std::numeric_limits<double>::quiet_NaN();
  f.bak[13] = std::numeric_limits<double>::quiet_NaN();
  const auto lines = script(f.a);
  EXPECT_EQ(lines[2], "SCALE Y        0.0        9000.        2000.");
  // The dotted curve has no point for channel 13.
  EXPECT_EQ(lines[18], "LINE DOTTED");
  EXPECT_EQ(lines[23], "       14.00        9.00");
  EXPECT_EQ(lines[24], "DATA");
}

TEST(Sketch, NoMarkersNoMarkerData) {
  Fixture f;
  f.a.markers = {};
  const auto w = words(script(f.a));
  int data = 0;
  for (const auto& x : w) data += x == "DATA";
  EXPECT_EQ(data, 3);
}

TEST(Sketch, LogAxisClampsTheDottedCurveOnly) {
  Fixture f;
  f.a.logflag = 1;
  f.bak[10] = 0.05;
  f.fit[11] = -3.0;
  const auto lines = script(f.a);
  EXPECT_EQ(lines[2], "LOGY");
  EXPECT_EQ(lines[3], "SCALE Y        0.1        2000.        1000.");
  EXPECT_EQ(lines[21], "       10.00        0.10");
  EXPECT_EQ(lines[27], "       11.00        0.10");  // marker at the lower end
  EXPECT_EQ(lines[32], "       11.00       -3.00");  // dot-dash curve as it is
}

TEST(Sketch, EmptyChannelRangeWritesNoData) {
  Fixture f;
  f.a.ilo = 14;
  f.a.ihi = 10;
  f.a.markers = {};
  const auto lines = script(f.a);
  EXPECT_EQ(lines[2], "SCALE Y        0.0           1.           1.");
  const auto w = words(lines);
  EXPECT_EQ(std::count(w.begin(), w.end(), "#"), 0);
}

TEST(Sketch, EvenAndSingleCoefficientLines) {
  Fixture f;
  f.a.nbak = 1;
  auto lines = script(f.a);
  EXPECT_EQ(lines[lines.size() - 6], "XTEXT 3.0 10.10 \\C8  1  3.193E+01+/-1.868E+00");
  f.a.nbak = 2;
  lines = script(f.a);
  EXPECT_EQ(lines[lines.size() - 6],
            "XTEXT 3.0 10.10 \\C8  1  3.193E+01+/-1.868E+00  2 -3.085E-02+/-1.148E-01");
  EXPECT_EQ(word(lines[lines.size() - 5]), "XTEXT");
  EXPECT_EQ(lines[lines.size() - 5].substr(0, 13), "XTEXT 3.0 9.2");
}

TEST(Sketch, LorentzianSecondRowStandsOneLineLower) {
  Fixture f;
  f.a.iskew = 0;
  f.a.ilor = 1;
  const auto lines = script(f.a);
  const std::vector<std::string> tail(lines.end() - 5, lines.end());
  const std::vector<std::string> want = {
      "XTEXT 3.0 9.2 \\C8   N     Centroid              Height            Fwhm",
      "XTEXT 3.0  8.9 \\C8  1   105.16+/-   0.07     5114.0+/-    106.2   5.44+/-  0.12",
      "XTEXT 3.0  8.6 \\C8  1   105.16+/-   0.07      697.2+/-     16.0   5.44+/-  0.12",
      "XTEXT 3.0  8.3 \\C8  2   131.51+/-   0.09     2642.7+/-     76.3   5.68+/-  0.18",
      "XTEXT 3.0  8.0 \\C8  2   131.51+/-   0.09      451.4+/-     13.6   5.68+/-  0.18",
  };
  EXPECT_EQ(tail, want);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "XTEXT 3.0 11.0 \\C8  KORVEL with Lorentzians:  Chisq= 7.917E-01 per point"),
            lines.end());
}

// The germanium shape names itself and lists its shape parameters under the
// peak rows: three, or five with the high-side tail.
TEST(Sketch, GermaniumShapeParametersStandUnderThePeakRows) {
  for (const bool high : {false, true}) {
    Fixture f;
    f.a.iskew = 0;
    f.a.germanium = true;
    f.a.high = high;
    f.res.shapefit = {11.343, 0.762, 1.116, 2.595, 0.922};
    f.res.shapeerr = {1.303, 0.033, 0.031, 0.567, 0.091};
    const auto lines = script(f.a);
    std::vector<std::string> want = {
        "XTEXT 3.0  8.6 \\C8  2   131.51+/-   0.09     2642.7+/-     76.3   5.68+/-  0.18",
        "XTEXT 3.0  8.3 \\C8  Tail R (%)     11.343+/-   1.303",
        "XTEXT 3.0  8.0 \\C8  Tail BETA       0.762+/-   0.033",
        "XTEXT 3.0  7.7 \\C8  Step (%)        1.116+/-   0.031",
        "XTEXT 3.0  7.4 \\C8  High RH (%)     2.595+/-   0.567",
        "XTEXT 3.0  7.1 \\C8  High BETAH      0.922+/-   0.091",
    };
    if (!high) want.resize(4);
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<std::ptrdiff_t>(want.size()),
                                       lines.end()),
              want);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "XTEXT 3.0 11.0 \\C8  KORVEL with germanium peaks:  Chisq= 7.917E-01 per "
                        "point"),
              lines.end());
  }
}

TEST(Sketch, SkewtailHasNoCaptionNoColumnTitlesButLowSideLines) {
  Fixture f;
  f.a.iskew = 2;
  const auto lines = script(f.a);
  for (const auto& l : lines) {
    EXPECT_EQ(l.find("KORVEL"), std::string::npos);
    EXPECT_EQ(l.find("Centroid"), std::string::npos);
  }
  EXPECT_EQ(lines.back(),
            "XTEXT 3.0  8.0 \\C8                                                2.40+/-  0.14");
  EXPECT_EQ(lines[lines.size() - 5].substr(0, 20), "XTEXT 3.0  9.80 \\C8 ");
}

TEST(SketchScale, UpperEndAndStep) {
  auto s = sketch_scale(0.0, 1234.0, 0);
  EXPECT_EQ(s.lower, 0.0);
  EXPECT_EQ(s.upper, 2000.0);
  EXPECT_EQ(s.step, 1000.0);
  s = sketch_scale(0.0, 7000.0, 0);
  EXPECT_EQ(s.upper, 9000.0);
  EXPECT_EQ(s.step, 2000.0);
  s = sketch_scale(0.0, 800.0, 0);  // t = 1000 exactly
  EXPECT_EQ(s.upper, 2000.0);
  s = sketch_scale(0.0, 0.5, 0);  // t = 0.625: unit 1
  EXPECT_EQ(s.upper, 1.0);
  EXPECT_EQ(s.step, 1.0);
}

TEST(SketchScale, LogLowerEnds) {
  EXPECT_EQ(sketch_scale(0.0, 10.0, 1).lower, static_cast<double>(0.1f));
  EXPECT_EQ(sketch_scale(-5.0, 10.0, 1).lower, static_cast<double>(0.1f));
  EXPECT_EQ(sketch_scale(0.1, 10.0, 1).lower, static_cast<double>(0.1f));
  EXPECT_EQ(sketch_scale(0.1000001, 10.0, 1).lower, 1.0);
  EXPECT_EQ(sketch_scale(9.99, 10.0, 1).lower, 1.0);
  EXPECT_EQ(sketch_scale(10.0, 10.0, 1).lower, 10.0);
  EXPECT_EQ(sketch_scale(99.0, 100.0, 1).lower, 10.0);
  EXPECT_EQ(sketch_scale(100.0, 1000.0, 1).lower, 100.0);
  EXPECT_EQ(sketch_scale(1.0e10, -1.0e6, 1).lower, 1.0e10);
}

// Ranges where a 32-bit power of ten would be 0 or the product would overflow.
TEST(SketchScale, TinyAndHugeRangesGiveASoundScale) {
  auto s = sketch_scale(0.0, 0.05, 0);  // t below 0.1: unit would be 0
  EXPECT_EQ(s.upper, 1.0);
  EXPECT_EQ(s.step, 1.0);
  s = sketch_scale(0.0, 0.0, 0);  // all zero
  EXPECT_EQ(s.upper, 1.0);
  s = sketch_scale(0.0, -40.0, 0);  // only negative counts
  EXPECT_EQ(s.upper, 1.0);
  EXPECT_EQ(s.step, 1.0);
  s = sketch_scale(0.0, 2.0e9, 0);  // 3e9 does not fit 32 bits
  EXPECT_EQ(s.upper, 3.0e9);
  EXPECT_EQ(s.step, 1.0e9);
  s = sketch_scale(0.0, 2147483647.0, 0);
  EXPECT_EQ(s.upper, 3.0e9);
  s = sketch_scale(0.0, 7.0e12, 0);
  EXPECT_EQ(s.upper, static_cast<double>(9.0e12f));
  EXPECT_EQ(s.step, 2.0e12);
  s = sketch_scale(0.0, std::numeric_limits<double>::infinity(), 0);
  EXPECT_TRUE(std::isinf(s.upper));
}

// Counts beyond the result lists' room write the rows the lists hold, no more.
TEST(Sketch, CountsBeyondTheResultListsAreCut) {
  Fixture f;
  f.a.iskew = 0;
  f.a.nbak = 9;
  f.a.npeaks = 31;
  const auto lines = script(f.a);
  int bak = 0, peaks = 0;
  for (const auto& l : lines) {
    bak += l.rfind("XTEXT 3.0 10.10", 0) == 0 || l.rfind("XTEXT 3.0  9.", 0) == 0;
    peaks += l.find("+/-") != std::string::npos && l.find("Background") == std::string::npos;
  }
  EXPECT_EQ(bak, 3);
  EXPECT_EQ(peaks, 3 + 30);
}

}  // namespace
