// The batch library: lines file, calibration, grouping, shards and merge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>

#include "batch/fit.h"
#include "batch/lines.h"
#include "batch/output.h"
#include "batch/plan.h"
#include "batch/plots.h"
#include "support/process.h"

namespace {

// Two Gaussians on a flat background in 400 channels, calibrated at
// 0.5 keV per channel from 10 keV.
struct Batch : ::testing::Test {
  static batch::Spectrum spectrum(const std::string& name) {
    batch::Spectrum s;
    s.name = name;
    s.size = 400;
    s.poly = {10.0, 0.5};
    for (int ch = 0; ch < s.size; ++ch) {
      double v = 20.0;
      for (const double c : {100.0, 250.0})
        v += 900.0 * std::exp(-0.5 * ((ch - c) / 2.5) * ((ch - c) / 2.5));
      s.counts.push_back(static_cast<std::int32_t>(v));
    }
    return s;
  }
  static std::vector<batch::Line> lines(const std::string& text) {
    std::vector<batch::Line> l;
    std::string error;
    EXPECT_TRUE(batch::parse_lines(text, l, error)) << error;
    return l;
  }
  std::vector<batch::Spectrum> spectra{spectrum("b"), spectrum("a")};
};

TEST_F(Batch, LinesFileAcceptsAndRefuses) {
  const struct {
    const char* text;
    const char* error;  // nullptr: accepted
  } cases[] = {
      {"# Ba\nenergy,fwhm\n81.0,1.0 # x-ray region\n\n356,1.2\n", nullptr},
      {"fwhm,energy,group,order,shape,width_fwhm\n1,81,a,0,skew,2\n", nullptr},
      {"energy,fwhm\n81,1\n,1\n", "line 3: energy '' is not a number above 0"},
      {"fwhm\n1.0\n", "line 1: no 'energy' column in the header"},
      {"energy,colour\n81,red\n", "line 1: unknown column 'colour'"},
      {"energy,energy\n81,82\n", "line 1: column 'energy' given twice"},
      {"energy\nabc\n", "line 2: energy 'abc' is not a number above 0"},
      {"energy\n81keV\n", "line 2: energy '81keV' is not a number above 0"},
      {"energy\n-5\n", "line 2: energy '-5' is not a number above 0"},
      {"energy,fwhm\n81\n", "line 2: 1 cells, the header has 2"},
      {"energy,shape\n81,Gauss\n", "line 2: shape 'Gauss' is not gauss, skew, skewtail or lorentz"},
      {"energy,order\n81,6\n", "line 2: order '6' is not an integer 0 to 5"},
      {"energy,fwhm\n81,0\n", "line 2: fwhm '0' is not a number above 0"},
      {"# nothing\n", "no header line"},
      {"energy\n", "no lines below the header"},
  };
  for (const auto& c : cases) {
    std::vector<batch::Line> l;
    std::string error;
    const bool ok = batch::parse_lines(c.text, l, error);
    EXPECT_EQ(ok, c.error == nullptr) << c.text;
    if (c.error) {
      EXPECT_EQ(error, c.error) << c.text;
    }
  }
  const auto l = lines("fwhm,energy,group,order,shape,width_fwhm\n1,81.50,a,0,skew,2\n");
  EXPECT_EQ(l[0].energy_text, "81.50");
  EXPECT_EQ(l[0].shape, "skew");
  EXPECT_EQ(l[0].group, "a");
  EXPECT_EQ(l[0].order, 0);
  EXPECT_EQ(l[0].width_fwhm, 2.0);
  EXPECT_EQ(*l[0].fwhm, 1.0);
}

TEST_F(Batch, ShardTexts) {
  const struct {
    const char* text;
    bool ok;
  } cases[] = {{"1/1", true},   {"4/4", true}, {"0/4", false}, {"5/4", false}, {"1/0", false},
               {"-1/4", false}, {"1/", false}, {"1", false},   {"1/4x", false}};
  for (const auto& c : cases) {
    int k = 0, n = 0;
    std::string why;
    EXPECT_EQ(batch::parse_shard(c.text, k, n, why), c.ok) << c.text;
  }
}

TEST_F(Batch, CalibrationsAndChannels) {
  const struct {
    const char* text;
    double energy;
    double channel;  // < 0: no channel (or no calibration)
  } cases[] = {
      {"POLY keV 10 0.5", 60.0, 100.0},
      {"POLY MeV 0.01 0.0005", 60.0, 100.0},
      {"POLY keV 0.1401463 0.18742200000000001 -2.07732e-09", 356.0, 1898.7486},
      {"POLY keV 0 1 -0.001", 600.0, -1},  // the curve turns before 600 keV
      {"POLY keV 10", 60.0, -1},           // no gain
      {"POLY furlong 10 0.5", 60.0, -1},
      {"POLY keV 10 x", 60.0, -1},
  };
  for (const auto& c : cases) {
    std::vector<double> poly;
    std::string why;
    double ch = 0.0;
    const bool ok =
        batch::parse_calibration(c.text, poly, why) && batch::channel_of(poly, c.energy, ch);
    EXPECT_EQ(ok, c.channel >= 0) << c.text;
    if (ok) {
      EXPECT_NEAR(ch, c.channel, 1e-3) << c.text;
    }
  }
}

TEST_F(Batch, PlanGroupsOverlappingAndNamedLines) {
  // 60 and 62 keV overlap (channels 100 and 104, windows of +/- 7.5);
  // 135 keV stands alone unless named with 60; 500 keV is beyond channel 399.
  for (const bool named : {false, true}) {
    const auto l = lines(named ? "energy,fwhm,group\n135,2.5,g\n62,2.5,\n60,2.5,g\n900,2.5,\n"
                               : "energy,fwhm\n135,2.5\n62,2.5\n60,2.5\n900,2.5\n");
    const auto work = batch::plan(spectra, l);
    ASSERT_EQ(work.size(), named ? 4u : 6u);
    EXPECT_EQ(spectra[static_cast<std::size_t>(work[0].spectrum)].name, "a");
    if (named) {
      EXPECT_EQ(work[0].lines, (std::vector<int>{2, 1, 0}));
      EXPECT_EQ(batch::command_line(work[0].args),
                "tavrick -spectrum a -limit 85 265 -peaks 100.00 104.00 250.00 "
                "-widths 5.00 5.00 5.00 -order 1");
    } else {
      EXPECT_EQ(work[0].lines, (std::vector<int>{2, 1}));
      EXPECT_EQ(work[1].lines, (std::vector<int>{0}));
    }
    EXPECT_EQ(work[named ? 1 : 2].status, "outside");
  }
}

TEST_F(Batch, ShardsPartitionTheWorkAndMergeBack) {
  const auto l = lines("energy,fwhm\n60,2.5\n135,2.5\n900,2.5\n");
  auto all = batch::plan(spectra, l);
  auto rows = batch::run(spectra, l, all, 2);
  EXPECT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].status, "ok");
  ASSERT_TRUE(rows[0].record);
  EXPECT_NEAR(rows[0].record->peaks[0].energy, 60.0, 0.05);
  EXPECT_EQ(rows[2].status, "outside");
  testsupport::TempDir dir;
  for (const auto f : {batch::Format::Csv, batch::Format::Json}) {
    const std::string ext = f == batch::Format::Csv ? ".csv" : ".json";
    std::vector<std::string> files;
    std::size_t seen = 0;
    for (int k = 1; k <= 3; ++k) {
      auto part = batch::plan(spectra, l);
      std::erase_if(part, [&](const batch::Work& w) { return !batch::in_shard(w, k, 3); });
      seen += part.size();
      files.push_back(dir.path + "/part" + std::to_string(k) + ext);
      std::ofstream(files.back()) << batch::write_rows(batch::run(spectra, l, part, 1), f);
    }
    EXPECT_EQ(seen, all.size());
    std::string text, error;
    ASSERT_TRUE(batch::merge(files, f, text, error)) << error;
    EXPECT_EQ(text, batch::write_rows(rows, f));
    // A shard given twice repeats rows.
    files.push_back(files.front());
    EXPECT_FALSE(batch::merge(files, f, text, error));
    EXPECT_NE(error.find("is in more than one file"), std::string::npos) << error;
  }
}

TEST_F(Batch, LineWidthFromTheFwhmCalibration) {
  // 60 keV is channel 100 at 0.5 keV per channel.
  const struct {
    const char* calibration;  // stored text of calibration 2
    const char* fwhm;         // the line's own fwhm cell
    const char* width;        // FWHM in channels given to the fit, or nullptr
    const char* reason;       // of the no_fwhm row
  } cases[] = {
      {"", "", nullptr, "no fwhm given for the line and no FWHM calibration"},
      {"FWHM ch CH 0 0", "", nullptr, "no fwhm given for the line and no FWHM calibration"},
      {"FWHM ch CH 4 0.01", "", "5.00", nullptr},
      {"FWHM ch CH 4 0.01  ", "", "5.00", nullptr},
      {"FWHM keV CH 2.5", "", "5.00", nullptr},
      {"FWHM eV CH 1500 10", "", "5.00", nullptr},
      {"FWHM MeV CH 0.0025", "", "5.00", nullptr},
      {"FWHM keV SQRTE 0 0.32274861", "", "5.00", nullptr},  // 2.5 keV at sqrt(60)
      {"FWHM ch CH 9", "1.5", "3.00", nullptr},              // the line's own wins
      {"FWHM furlong CH 3", "", nullptr, "FWHM calibration in unit 'furlong'"},
      {"FWHM ch CH -1", "", nullptr, "FWHM calibration gives no width above 0 at channel 100.00"},
      {"FWHM ch SQRTE 1 -1", "", nullptr,
       "FWHM calibration gives no width above 0 at channel 100.00"},
      {"POLY keV 10 0.5", "", nullptr, "FWHM calibration is not 'FWHM <unit> CH|SQRTE c0 c1 ...'"},
      {"FWHM ch LOG 1", "", nullptr, "FWHM calibration is not 'FWHM <unit> CH|SQRTE c0 c1 ...'"},
  };
  for (const auto& c : cases) {
    std::vector<batch::Spectrum> one{spectrum("a")};
    one[0].fwhm_text = c.calibration;
    one[0].energy_cal = {"keV", {10.0, 0.5}};
    const auto work = batch::plan(one, lines(std::string("energy,fwhm\n60,") + c.fwhm + "\n"));
    ASSERT_EQ(work.size(), 1u) << c.calibration;
    if (c.width) {
      EXPECT_EQ(work[0].status, "ok") << c.calibration << ": " << work[0].reason;
      const auto& a = work[0].args;
      const auto at = std::find(a.begin(), a.end(), "-widths");
      ASSERT_NE(at, a.end()) << c.calibration;
      EXPECT_EQ(at[1], c.width) << c.calibration;
    } else {
      EXPECT_EQ(work[0].status, "no_fwhm") << c.calibration;
      EXPECT_EQ(work[0].reason, c.reason) << c.calibration;
    }
  }
}

TEST_F(Batch, PictureNamesAndTheIndexPage) {
  // Names: one per spectrum and line, safe in a folder and a link; a name
  // that had to change carries its hash, so two never meet.
  const struct {
    const char* spectrum;
    const char* prefix;
  } cases[] = {{"ge1", "ge1.line3.svg"},
               {"Ge-1_a.b", "Ge-1_a.b.line3.svg"},
               {"a/b", "a_b-"},
               {"a_b", "a_b.line3.svg"},
               {"..", "_..-"},
               {"<x> &\"'", "_x___"},
               {"", "_-"}};
  std::set<std::string> names;
  for (const auto& c : cases) {
    const std::string n = batch::plot_name(c.spectrum, 3);
    EXPECT_EQ(n.rfind(c.prefix, 0), 0u) << c.spectrum << ": " << n;
    EXPECT_EQ(
        n.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-."),
        std::string::npos)
        << n;
    EXPECT_TRUE(n.ends_with(".line3.svg")) << n;
    EXPECT_TRUE(names.insert(n).second) << n;
  }
  EXPECT_EQ(batch::plot_name(std::string(100, 'a'), 1).size(), 64u + 9u + 10u);

  // The page: a row per row, failures marked, texts escaped, links only
  // where a picture is.
  spectra[0].name = "<b>&";
  const auto l = lines("energy,fwhm\n60,2.5\n900,2.5\n");
  auto work = batch::plan(spectra, l);
  auto rows = batch::run(spectra, l, work, 1);
  rows[0].plot = batch::plot_name(rows[0].spectrum, 1);
  const std::string page = batch::index_html(rows);
  std::size_t trs = 0;
  for (auto at = page.find("<tr", page.find("<tbody>")); at != std::string::npos;
       at = page.find("<tr", at + 1))
    ++trs;
  EXPECT_EQ(trs, rows.size());
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("<td>&lt;b&gt;&amp;</td>"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"" + rows[0].plot + "\">"), std::string::npos);
  std::size_t links = 0, failures = 0;
  for (auto at = page.find("<a href"); at != std::string::npos; at = page.find("<a href", at + 1))
    ++links;
  for (auto at = page.find("class=\"failed\""); at != std::string::npos;
       at = page.find("class=\"failed\"", at + 1))
    ++failures;
  EXPECT_EQ(links, 1u);
  EXPECT_EQ(failures, 2u);  // 900 keV lies beyond both spectra
  EXPECT_EQ(page.find("http"), std::string::npos);
}

}  // namespace
