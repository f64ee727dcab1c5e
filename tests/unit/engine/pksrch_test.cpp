// Peak search: the range around each guess, the choice among equal maxima,
// collisions between guesses, and the extremes of a list.
#include "engine/pksrch.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using tavrick::pksrch;

// Counts by channel number, 0 .. 200, all zero but channels 0 and 200, which
// must never win.
struct Spectrum {
  std::vector<double> s = std::vector<double>(201, 0.0);
  Spectrum() {
    s[0] = 1e9;
    s[200] = 1e9;
  }
};

double searchOne(Spectrum& sp, double guess, int maxch = 199) {
  double pos[1] = {guess};
  pksrch(sp.s.data(), pos, maxch, 1, 10);
  return pos[0];
}

TEST(Pksrch, RangeEndsTruncatedTowardZero) {
  // 100.7 searches 90 .. 110.
  Spectrum sp;
  sp.s[89] = 50.0;
  sp.s[111] = 50.0;
  sp.s[90] = 7.0;
  EXPECT_EQ(searchOne(sp, 100.7), 90.0);
  sp.s[110] = 7.0;
  EXPECT_EQ(searchOne(sp, 100.7), 110.0);
}

TEST(Pksrch, RangeClampedToFirstAndLastChannel) {
  // 5.0 searches 1 .. 15: channel 0 is never looked at.
  Spectrum sp;
  sp.s[16] = 50.0;
  sp.s[1] = 3.0;
  EXPECT_EQ(searchOne(sp, 5.0), 1.0);
  // Near the top the range stops at maxch.
  Spectrum top;
  top.s[150] = 2.0;
  top.s[151] = 9.0;
  EXPECT_EQ(searchOne(top, 145.0, 150), 150.0);
}

TEST(Pksrch, EqualMaximaGoToLastChannel) {
  Spectrum sp;
  EXPECT_EQ(searchOne(sp, 50.3), 60.0);  // all zero: the range's last channel
  sp.s[45] = 8.0;
  sp.s[52] = 8.0;
  EXPECT_EQ(searchOne(sp, 50.3), 52.0);
}

TEST(Pksrch, NegativeCountsKeepGuess) {
  Spectrum sp;
  for (int ch = 30; ch <= 50; ++ch) sp.s[ch] = -1.0;
  EXPECT_EQ(searchOne(sp, 40.25), 40.25);
}

// Guesses 40 and 45 both find channel 50 and go back; the third, 48, is
// compared with peak 1's restored guess, differs, and keeps channel 50.
TEST(Pksrch, CollidingGuessesGoBackThirdKeepsChannel) {
  Spectrum sp;
  sp.s[50] = 100.0;
  std::array<double, 3> pos = {40.0, 45.0, 48.0};
  pksrch(sp.s.data(), pos.data(), 199, 3, 10);
  EXPECT_EQ(pos[0], 40.0);
  EXPECT_EQ(pos[1], 45.0);
  EXPECT_EQ(pos[2], 50.0);
}

// After a collision peak i is compared by its guess: a guess that is itself
// the found channel collides again with the next peak.
TEST(Pksrch, RestoredGuessKeepsComparing) {
  Spectrum sp;
  sp.s[50] = 100.0;
  std::array<double, 3> pos = {50.0, 45.0, 48.0};
  pksrch(sp.s.data(), pos.data(), 199, 3, 10);
  EXPECT_EQ(pos[0], 50.0);
  EXPECT_EQ(pos[1], 45.0);
  EXPECT_EQ(pos[2], 48.0);
}

// The comparison for a peak stops at the first peak whose channel differs.
TEST(Pksrch, ComparisonStopsAtFirstDifference) {
  Spectrum sp;
  sp.s[50] = 100.0;
  sp.s[70] = 100.0;
  std::array<double, 3> pos = {45.0, 68.0, 52.0};
  pksrch(sp.s.data(), pos.data(), 199, 3, 10);
  EXPECT_EQ(pos[0], 50.0);
  EXPECT_EQ(pos[1], 70.0);
  EXPECT_EQ(pos[2], 50.0);
}

// Guesses far outside the channels give an empty range and stay, rather than
// overflowing the conversion to a channel number.
TEST(Pksrch, FarGuessesStay) {
  Spectrum sp;
  EXPECT_EQ(searchOne(sp, 1e300), 1e300);
  EXPECT_EQ(searchOne(sp, -1e300), -1e300);
  EXPECT_EQ(searchOne(sp, -10.5), -10.5);
  EXPECT_EQ(searchOne(sp, 215.5), 215.5);
}

TEST(Vecminmax, ExtremesOfList) {
  const double v[] = {150.0, 90.0, 120.0};
  EXPECT_EQ(tavrick::vecmin(v, 3), 90.0);
  EXPECT_EQ(tavrick::vecmax(v, 3), 150.0);
  EXPECT_EQ(tavrick::vecmin(v, 1), 150.0);
  EXPECT_EQ(tavrick::vecmax(v, 0), 150.0);
}

}  // namespace
