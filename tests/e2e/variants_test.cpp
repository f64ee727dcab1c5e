// Every combination of shape, width option and peak option through the whole
// command: which fit ran is read back from the output alone (configuration
// lines, the results table's layout and the number of free parameters implied
// by the two chi-square lines), or which refusal was printed.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

// The results table's kind, told by its header and first row.
enum class Table {
  None,
  GaussI4,    // one-line header, I4 rows with " +/-"
  GaussI3,    // one-line header, I3 rows with " +/-"
  GaussHeld,  // one-line header, rows with "+/-" and wider errors
  Skew,       // three-line header ending "Fwhm"
  SkewHeld,   // three-line header ending "Fwhm "
  LorentzI4,  // "Height/Area" header, I4 rows
  LorentzI3,  // "Height/Area" header, I3 rows
};

struct Expect {
  const char* shape;
  const char* widthopt;
  const char* peakopt;
  const char* variant;  // for messages
  Table table;
  int nfree;            // with 2 peaks and 3 background coefficients
  const char* refusal;  // message of a refused combination, else nullptr
};

constexpr const char* kSkewtailBoth =
    "SHAPE=skewtail requires WIDTHOPT=same|given or PEAKOPT=given";
constexpr const char* kSkewtailGiven = "SHAPE=skewtail requires WIDTHOPT=given";
constexpr const char* kGaussGiven = "SHAPE=gauss with PEAKOPT=given requires WIDTHOPT=same|given";

const Expect kCases[] = {
    {"gauss", "different", "different", "sym", Table::GaussI4, 9, nullptr},
    {"gauss", "different", "given", "-", Table::None, 0, kGaussGiven},
    {"gauss", "same", "different", "symf", Table::GaussI3, 8, nullptr},
    {"gauss", "same", "given", "symfc", Table::GaussHeld, 6, nullptr},
    {"gauss", "given", "different", "fwvc", Table::GaussHeld, 7, nullptr},
    {"gauss", "given", "given", "fwfc", Table::GaussHeld, 5, nullptr},
    {"skew", "different", "different", "skew", Table::Skew, 11, nullptr},
    {"skew", "different", "given", "skew", Table::Skew, 11, nullptr},
    {"skew", "same", "different", "skewf", Table::Skew, 9, nullptr},
    {"skew", "same", "given", "skewf", Table::Skew, 9, nullptr},
    {"skew", "given", "different", "sfwvc", Table::SkewHeld, 7, nullptr},
    {"skew", "given", "given", "sfwfc", Table::SkewHeld, 5, nullptr},
    {"skewtail", "different", "different", "-", Table::None, 0, kSkewtailBoth},
    {"skewtail", "different", "given", "-", Table::None, 0, kSkewtailGiven},
    {"skewtail", "same", "different", "-", Table::None, 0, kSkewtailGiven},
    {"skewtail", "same", "given", "-", Table::None, 0, kSkewtailGiven},
    {"skewtail", "given", "different", "sfwvc", Table::SkewHeld, 7, nullptr},
    {"skewtail", "given", "given", "sfwfc", Table::SkewHeld, 5, nullptr},
    {"lorentz", "different", "different", "lor", Table::LorentzI4, 9, nullptr},
    {"lorentz", "different", "given", "lor", Table::LorentzI4, 9, nullptr},
    {"lorentz", "same", "different", "lorf", Table::LorentzI3, 8, nullptr},
    {"lorentz", "same", "given", "lorf", Table::LorentzI3, 8, nullptr},
    {"lorentz", "given", "different", "lor", Table::LorentzI4, 9, nullptr},
    {"lorentz", "given", "given", "lor", Table::LorentzI4, 9, nullptr},
};

constexpr int kIlo = 100;
constexpr int kIhi = 140;
constexpr int kNchan = kIhi - kIlo + 1;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

bool has(const std::vector<std::string>& l, const std::string& s) {
  for (const auto& x : l)
    if (x == s) return true;
  return false;
}

// The value after the last '=' of the line that begins with prefix.
double valueOf(const std::vector<std::string>& l, const std::string& prefix) {
  for (const auto& x : l)
    if (x.rfind(prefix, 0) == 0) return std::stod(x.substr(x.rfind('=') + 1));
  ADD_FAILURE() << "no line " << prefix;
  return 0.0;
}

Table tableOf(const std::vector<std::string>& l) {
  for (std::size_t i = 0; i + 1 < l.size(); ++i) {
    const std::string& h = l[i];
    if (h.rfind("             Centroid", 0) != 0) continue;
    const std::string& row = l[i + 1];
    if (h.find("Height/Area") != std::string::npos)
      return row.rfind("   1 ", 0) == 0 ? Table::LorentzI4 : Table::LorentzI3;
    if (row.find("Fwhmhi") != std::string::npos)
      return h.back() == ' ' ? Table::SkewHeld : Table::Skew;
    if (row.rfind("   1 ", 0) == 0) return Table::GaussI4;
    return row.find(" +/-") != std::string::npos ? Table::GaussI3 : Table::GaussHeld;
  }
  return Table::None;
}

class Variants : public testing::Test {
 protected:
  // A store with one spectrum: two skewed peaks at 112 and 128 on a sloping
  // background, with every other channel raised by a fifth so that no shape
  // fits closely and the chi-square lines carry enough digits to count the
  // free parameters.
  static void SetUpTestSuite() {
    dir_ = new testsupport::TempDir();
    env_ = {"TAVRICK_EXPERIMENT=" + dir_->path + "/experiment.db"};
    const std::string file = dir_->path + "/mixed.txt";
    std::ofstream out(file);
    for (int ch = 0; ch < 200; ++ch) {
      double y = 40.0 - 0.05 * ch;
      for (auto [c, h] : {std::pair{112.0, 900.0}, std::pair{128.0, 500.0}}) {
        const double d = ch - c;
        const double b = d < 0 ? d / 1.6 : d / 3.0;
        y += h * std::exp(-b * b);
      }
      if (ch % 2 == 1) y *= 1.2;
      out << ch << ' ' << std::lround(y) << '\n';
    }
    out.close();
    ASSERT_EQ(testsupport::run({testsupport::bin("tavrick-store"), "init"}, env_).status, 0);
    const auto imp = testsupport::run(
        {testsupport::bin("tavrick-store"), "import", file, "--name", "mixed"}, env_);
    ASSERT_EQ(imp.status, 0) << imp.err;
  }
  static void TearDownTestSuite() { delete dir_; }

  static testsupport::Result run(const Expect& e) {
    return testsupport::run(
        {testsupport::bin("tavrick"), "-spectrum", "mixed", "-limit", std::to_string(kIlo),
         std::to_string(kIhi), "-peaks", "112", "128", "-widths", "5.5", "-skews", "2.5", "-shape",
         e.shape, "-widthopt", e.widthopt, "-peakopt", e.peakopt},
        env_);
  }

  static testsupport::TempDir* dir_;
  static std::vector<std::string> env_;
};

testsupport::TempDir* Variants::dir_ = nullptr;
std::vector<std::string> Variants::env_;

TEST_F(Variants, EveryOptionCombinationRunsItsVariantOrIsRefused) {
  for (const Expect& e : kCases) {
    SCOPED_TRACE(std::string(e.shape) + " " + e.widthopt + " " + e.peakopt + " -> " + e.variant);
    const auto r = run(e);
    if (e.refusal != nullptr) {
      EXPECT_EQ(r.status, 8);
      EXPECT_EQ(r.out, std::string(e.refusal) + "\n");
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.out;
    const auto l = lines(r.out);
    EXPECT_FALSE(has(l, " Fit failed: singular curvature matrix")) << r.out;

    // Configuration as the engine reports it: a Lorentzian holds nothing.
    const bool lor = std::string(e.shape) == "lorentz";
    const bool skew = !lor && std::string(e.shape) != "gauss";
    EXPECT_TRUE(has(l, lor    ? " Lorentzian peak shape"
                       : skew ? " Asymmetric (skew) Gaussian shape "
                              : " Symmetric Gaussian shape "));
    const bool same = std::string(e.widthopt) == "same";
    const bool given = std::string(e.widthopt) == "given";
    EXPECT_EQ(has(l, " Single width, Fwhm=  5.5"), same);
    EXPECT_EQ(has(l, " Different widths for peaks"), !same);
    EXPECT_EQ(has(l, " Width of peaks fixed in search"), given && !lor);
    EXPECT_EQ(has(l, " Centroids of peaks fixed in search"),
              std::string(e.peakopt) == "given" && !lor);

    EXPECT_EQ(tableOf(l), e.table) << r.out;

    // nchan chisq / (nchan - nfree) is printed per degree of freedom.
    const double perPoint = valueOf(l, "   Chisq per data point");
    const double perDof = valueOf(l, "   Chisq per degree of freedom");
    ASSERT_GT(perPoint, 1.0) << r.out;
    const double nfree = kNchan - kNchan * perPoint / perDof;
    EXPECT_NEAR(nfree, e.nfree, 0.2) << r.out;

    // Held widths print the given FWHMs.
    if (e.table == Table::SkewHeld) {
      EXPECT_NE(r.out.find("      5.50+/-     0.00\n"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("      2.50+/-     0.00\n"), std::string::npos) << r.out;
    }
  }
}

}  // namespace
