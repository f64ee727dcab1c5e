// The SVG writer's pieces: escaping, ticks, label rows, calibration texts,
// the text block, and the picture of a small fit.
#include "plot/svg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "plot/peaks.h"

namespace {

using namespace tavrick;

// A fit of one Gaussian peak at channel 20 on a flat background of 10,
// channels 0 .. 40, the result lists as the engine fills them.
struct SmallFit : ::testing::Test {
  std::vector<double> spec = std::vector<double>(64, 0.0);
  std::vector<double> bkg = std::vector<double>(64, 10.0);
  std::vector<double> fit = std::vector<double>(64, 10.0);
  FitResults res{};
  SvgPlot plot;

  void SetUp() override {
    res.cenfit[0] = 20.0;
    res.hgtfit[0] = 100.0;
    res.widfit[0] = 3.0;
    res.fwhfit[0] = 3.0 * 1.665109223;
    res.arefit[0] = 531.7;
    res.chisq = 1.25;
    plot.peaks = peak_terms(res, 1, 0, 40, 0, 0);
    for (int i = 0; i <= 40; ++i) {
      fit[static_cast<std::size_t>(i)] = 10.0 + plot.peaks[0][static_cast<std::size_t>(i)];
      spec[static_cast<std::size_t>(i)] = std::round(fit[static_cast<std::size_t>(i)]);
    }
    SketchArgs& a = plot.sketch;
    a.spec = spec.data();
    a.dotted = bkg.data();
    a.dotdash = fit.data();
    a.res = &res;
    a.title1 = "line <A&B>";
    a.title2 = "Channels 0 to 40";
    a.ilo = 0;
    a.ihi = 40;
    a.npeaks = 1;
    a.nbak = 1;
    a.chisq = res.chisq;
    a.fitflag = 1;
  }

  std::string picture() const {
    char* buf = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&buf, &size);
    svg(plot, f);
    std::fclose(f);
    std::string s(buf, size);
    std::free(buf);
    return s;
  }
};

TEST_F(SmallFit, EscapingTicksRowsAndCalibrations) {
  struct Esc {
    std::string in, out;
  };
  const std::vector<Esc> esc = {
      {"plain 1.5", "plain 1.5"},
      {"<a href=\"x\">&'", "&lt;a href=&quot;x&quot;&gt;&amp;&apos;"},
      {std::string("tab\tnul\0bell\x7f", 13), "tab?nul?bell?"},
      {"caf\xC3\xA9 \xE2\x88\x9A", "caf\xC3\xA9 \xE2\x88\x9A"},  // UTF-8 kept
      {"bad \xC3( \xFF \xC0\xAF \xED\xA0\x80", "bad ?( ? ?? ???"},
  };
  for (const Esc& e : esc) EXPECT_EQ(xml_text(e.in), e.out) << e.in;

  struct Ticks {
    double lo, hi;
    int max;
    std::vector<double> want;
  };
  const std::vector<Ticks> ticks = {
      {239.5, 330.5, 8, {240, 260, 280, 300, 320}},
      {0.0, 1.0, 5, {0, 0.2, 0.4, 0.6, 0.8, 1.0}},
      {-3.0, 3.0, 3, {-2, 0, 2}},
      {337.0, 352.0, 14, {338, 340, 342, 344, 346, 348, 350, 352}},
      {5.0, 5.0, 4, {}},  // empty range
      {0.0, NAN, 4, {}},
  };
  for (const Ticks& t : ticks) {
    const auto got = nice_ticks(t.lo, t.hi, t.max);
    ASSERT_EQ(got.size(), t.want.size()) << t.lo << " " << t.hi;
    EXPECT_LE(static_cast<int>(got.size()), t.max + 1);
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], t.want[i], 1e-9);
  }

  // Crowded labels: no two in one row closer than width + gap, and a label
  // takes the lowest free row.
  const std::vector<double> x = {100, 105, 110, 300, 103, 200, 202, 204, 206};
  const auto rows = label_rows(x, 10.0, 2.0);
  const std::vector<int> want_rows = {0, 2, 3, 0, 1, 0, 1, 2, 3};
  EXPECT_EQ(rows, want_rows);
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t j = i + 1; j < x.size(); ++j) {
      if (rows[i] == rows[j]) {
        EXPECT_GE(std::abs(x[i] - x[j]), 12.0) << i << " " << j;
      }
    }
  }

  struct Poly {
    std::string text;
    bool ok;
    std::vector<double> c;
    std::string unit;
  };
  const std::vector<Poly> polys = {
      {"POLY keV 0.33973 0.18297 5.5683e-09", true, {0.33973, 0.18297, 5.5683e-09}, "keV"},
      {"POLY - 1 2    ", true, {1, 2}, ""},
      {"POLY keV 0 0 0", false, {}, ""},  // no scale: no energy axis
      {"POLY keV 5", false, {}, ""},
      {"LIN keV 0 1", false, {}, ""},
      {"POLY keV 0 1x", false, {}, ""},
      {"POLY keV 0 inf", false, {}, ""},
  };
  for (const Poly& p : polys) {
    std::vector<double> c;
    std::string unit = "kept";
    EXPECT_EQ(parse_poly(p.text, c, unit), p.ok) << p.text;
    if (p.ok) {
      EXPECT_EQ(c, p.c) << p.text;
      EXPECT_EQ(unit, p.unit) << p.text;
    } else {
      EXPECT_EQ(unit, "kept") << p.text;
    }
  }
}

TEST_F(SmallFit, PictureHoldsTheDrawingEscapedAndNoScript) {
  // The text block is the script's, line for line.
  const auto block = text_block(plot.sketch);
  ASSERT_GE(block.size(), 5u);
  EXPECT_NE(block[0].find("KORVEL with Gaussians:  Chisq= 1.250E+00 per point"), std::string::npos);
  EXPECT_NE(block.back().find("20.00+/-"), std::string::npos);

  struct Want {
    std::string what;
    bool present;
  };
  plot.energy = {1.0, 0.5};
  plot.unit = "keV";
  const std::string lin = picture();
  const std::vector<Want> wants = {
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", true},
      {"viewBox=\"0 0 960.00 ", true},
      {"line &lt;A&amp;B&gt;", true},
      {"line <A&B>", false},
      {"<script", false},
      {"id=\"counts\"", true},
      {"id=\"fit\"", true},
      {"id=\"background\"", true},
      {"class=\"peak\"", true},
      {"id=\"residuals\"", true},
      {"Energy (keV)", true},
      {" linear\"", true},
      {"</svg>\n", true},
  };
  for (const Want& w : wants) EXPECT_EQ(lin.find(w.what) != std::string::npos, w.present) << w.what;
  EXPECT_EQ(lin.substr(lin.size() - 7), "</svg>\n");

  // Spectrum only: no curves, residuals or text block; a falling energy
  // scale and a log axis still draw.
  plot.sketch.fitflag = 0;
  plot.sketch.logflag = 1;
  plot.energy = {100.0, -0.5};
  const std::string bare = picture();
  for (const char* absent : {"id=\"fit\"", "id=\"residuals\"", "KORVEL", "class=\"peak\""})
    EXPECT_EQ(bare.find(absent), std::string::npos) << absent;
  EXPECT_NE(bare.find(" log\""), std::string::npos);
  EXPECT_NE(bare.find("Energy (keV)"), std::string::npos);

  // A calibration that turns back within the window gives no energy axis.
  plot.energy = {0.0, 1.0, -0.05};  // peak of E at channel 10
  EXPECT_EQ(picture().find("Energy"), std::string::npos);
}

}  // namespace
