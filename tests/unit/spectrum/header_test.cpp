// Header and calibration accessors against a real store in a temporary directory.
#include "spectrum/header.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "spectrum/access.h"
#include "support/process.h"

namespace {

using spectrum::Host;
using spectrum::Ident;

// A fresh store holding spectrum "peaks" (channels 0..9) with a label.
class Header : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = dir.path + "/e.db";
    int status = -1;
    host = std::make_unique<Host>(path);
    host->create(status);
    ASSERT_EQ(status, 0) << host->error();
    spectrum::NewSpectrum s;
    s.name = "peaks";
    s.title = "two peaks";
    s.label = "det 3";
    s.size = 10;
    s.counts.assign(10, 4);
    std::vector<spectrum::NewSpectrum> v{s};
    std::vector<Ident> ids;
    host->store(v, false, ids, status);
    ASSERT_EQ(status, 0) << host->error();
    host = std::make_unique<Host>(path);
    host->sexpt(status);
    ASSERT_EQ(status, 0) << host->error();
    ASSERT_EQ(spectrum::getid(*host, id1, id2, "peaks", 5), 0);
  }
  testsupport::TempDir dir;
  std::unique_ptr<Host> host;
  int id1 = -7, id2 = -7;
};

TEST_F(Header, GetidOfAnUnknownNameLeavesTheIdentifier) {
  int a = 1234, b = -99;
  EXPECT_EQ(spectrum::getid(*host, a, b, "nosuch", 6), spectrum::kNoSuchName);
  EXPECT_EQ(a, 1234);
  EXPECT_EQ(b, -99);
  EXPECT_NE(id1 * 65536 + id2, 0);
}

TEST_F(Header, NameAndTitleRoundTrip) {
  ASSERT_EQ(spectrum::putid(*host, id1, id2, "renamed", 7), 0);
  int a = 0, b = 0;
  ASSERT_EQ(spectrum::getid(*host, a, b, "renamed   ", 10), 0);
  EXPECT_EQ(a, id1);
  EXPECT_EQ(b, id2);
  ASSERT_EQ(spectrum::puttit(*host, id1, id2, "new title", 9), 0);
  char title[40];
  int len = 40;
  ASSERT_EQ(spectrum::gettit(*host, id1, id2, title, len), 0);
  EXPECT_EQ(std::string(title, 40), "new title" + std::string(31, ' '));
  EXPECT_EQ(spectrum::puttit(*host, 0, 0, "x", 1), spectrum::kNoSuchId);
}

TEST_F(Header, GethdrIsBlankBeyondTheLabel) {
  char label[spectrum::kLabelLen];
  std::fill(label, label + spectrum::kLabelLen, '#');
  ASSERT_EQ(spectrum::gethdr(*host, id1, id2, label), 0);
  EXPECT_EQ(std::string(label, 80), "det 3" + std::string(75, ' '));
  std::fill(label, label + spectrum::kLabelLen, '#');
  EXPECT_EQ(spectrum::gethdr(*host, 0, 0, label), spectrum::kNoSuchId);
  EXPECT_EQ(std::string(label, 80), std::string(80, ' '));
}

TEST_F(Header, PuthdrDefinesAHeaderOnlySpectrum) {
  std::string text = "calibration source";
  text.resize(80, ' ');
  int a = 0, b = 0;
  ASSERT_EQ(spectrum::puthdr(*host, a, b, text.data()), 0);
  EXPECT_FALSE(a == id1 && b == id2);
  char label[80];
  ASSERT_EQ(spectrum::gethdr(*host, a, b, label), 0);
  EXPECT_EQ(std::string(label, 80), text);
}

TEST_F(Header, CalibrationsRoundTrip) {
  ASSERT_EQ(spectrum::putcal(*host, id1, id2, 1.5, 0.25, "keV", "POLY"), 0);
  double offset = 0, gain = 0;
  std::string unit, kind;
  ASSERT_EQ(spectrum::getcal(*host, id1, id2, offset, gain, unit, kind), 0);
  EXPECT_EQ(offset, 1.5);
  EXPECT_EQ(gain, 0.25);
  EXPECT_EQ(unit, "keV");
  EXPECT_EQ(kind, "POLY");

  ASSERT_EQ(spectrum::putcaln(*host, id1, id2, 3, -0.1, 1.0 / 3.0, "", ""), 0);
  ASSERT_EQ(spectrum::getcaln(*host, id1, id2, 3, offset, gain, unit, kind), 0);
  EXPECT_EQ(offset, -0.1);
  EXPECT_EQ(gain, 1.0 / 3.0);
  EXPECT_EQ(unit, "");
  // The plain calibration is number 1.
  ASSERT_EQ(spectrum::getcaln(*host, id1, id2, 1, offset, gain, unit, kind), 0);
  EXPECT_EQ(offset, 1.5);
}

TEST_F(Header, FailedCalibrationCallsLeaveValuesAndStoreAlone) {
  double offset = 9, gain = 9;
  std::string unit = "u", kind = "k";
  EXPECT_EQ(spectrum::getcaln(*host, id1, id2, 2, offset, gain, unit, kind),
            spectrum::kNoCalibration);
  EXPECT_EQ(offset, 9);
  EXPECT_EQ(unit, "u");
  // A unit with a blank cannot be encoded: nothing is stored.
  EXPECT_EQ(spectrum::putcaln(*host, id1, id2, 2, 1.0, 2.0, "k eV", ""), spectrum::kBadCalibration);
  EXPECT_EQ(spectrum::getcaln(*host, id1, id2, 2, offset, gain, unit, kind),
            spectrum::kNoCalibration);
  EXPECT_EQ(spectrum::xaif2(), 0);
  EXPECT_EQ(spectrum::xaif22(), 0);
}

// The access streams over the real library: what a write stream leaves is
// what a read stream finds.
TEST_F(Header, AccessStreamsRoundTripThroughTheStore) {
  spectrum::HostLibrary lib(*host);
  spectrum::Access acc(lib);
  int a = 0, b = 0;
  ASSERT_EQ(acc.newsp(a, b, 1000, 300, 0, "", 0), 0);
  ASSERT_EQ(acc.opnspw(1, a, b), 0);
  for (int ch = 1000; ch < 1300; ch += 7) ASSERT_EQ(acc.iptchn(1, ch, ch - 1100), 0);
  EXPECT_EQ(acc.iptchn(1, 1300, 1), spectrum::notopn);
  ASSERT_EQ(acc.clsspw(1), 0);
  ASSERT_EQ(acc.opnspr(2, a, b), 0);
  int base = 0, size = 0, small = 0, large = 0, rowbase = 0, rows = 0;
  acc.infsp(2, base, size, small, large, rowbase, rows);
  EXPECT_EQ(base, 1000);
  EXPECT_EQ(size, 300);
  EXPECT_EQ(small, -100);
  EXPECT_EQ(large, 1000 + 7 * 42 - 1100);
  for (int ch = 1000; ch < 1300; ++ch) {
    std::int32_t v = -1;
    ASSERT_EQ(acc.igtchn(2, ch, v), 0);
    EXPECT_EQ(v, (ch - 1000) % 7 == 0 ? ch - 1100 : 0) << ch;
  }
}

}  // namespace
