// The line shape of a germanium detector: per peak a Gaussian, a low-side
// tail, an optional high-side tail and a smoothed step in the background
// under the peak.
//
// With b = (x - c) / w (w the Gaussian's 1/e half-width, FWHM = 1.665109 w),
// r = R / 100, q = RH / 100 and s = STEP / 100, a peak of height h is
//
//   h * ( (1 - r - q) G + r T + q U + s S ),   G = exp(-b^2),   S = erfc(b) / 2,
//   T = exp((x - c) / BETA) erfc(b + y) / erfc(y),   y = w / (2 BETA),
//
// T being an exponential of decay length BETA (channels) on the low side,
// convolved with the Gaussian and scaled to 1 at the centroid, and U its
// mirror image on the high side with decay length BETAH. R and RH are the
// tails' shares of the height at the centroid in percent, STEP the step's
// full height in percent of the peak height; RH = 0 leaves the high-side
// tail out. c is the centroid of the Gaussian part. The conventions (R, BETA,
// STEP) are those of the germanium fitting codes in common use, so shape
// parameters carry over between them.
//
// T is evaluated without overflow or cancellation through the scaled
// complementary error function erfcx(z) = exp(z^2) erfc(z):
//   z = b + y >= 0:  T = exp(-b^2) erfcx(z) / erfcx(y)
//   z < 0:           T = exp(2 b y + y^2) erfc(z) / erfcx(y)
// (2 b y is (x - c) / BETA). Each term is an exact 0 beyond a cut-off, so a
// peak's reach is bounded: G, the step's slope and T on the high side vanish
// for |b| >= kCut; on the low side T vanishes where 2 b y + y^2 < -kTailExp
// and the step is exactly 1 from b <= -kCut down (U likewise, mirrored).
#pragma once

namespace tavrick::hpge {

// |b| at and beyond which the Gaussian and the step's slope are exact zeros:
// exp(-100) is below 4e-44.
inline constexpr double kCut = 10.0;
// Exponent below which the tail is an exact zero: exp(-50) < 2e-22.
inline constexpr double kTailExp = 50.0;

// The shape parameters all peaks of a window share.
struct Tail {
  double r;            // R: low-side tail's share of the height at the centroid, percent
  double beta;         // BETA: decay length of the low-side tail in channels, above 0
  double step;         // STEP: full height of the step, percent of the peak height
  double rh = 0.0;     // RH: high-side tail's share, percent (0: no high-side tail)
  double betah = 0.0;  // BETAH: its decay length in channels (0: no high-side tail)
};

// One peak at one abscissa: its value and its derivatives by the centroid,
// height, width, and the three shape parameters.
struct Terms {
  double f;
  double dc, dh, dw, dr, dbeta, dstep, drh, dbetah;
};

// The scaled complementary error function exp(z^2) erfc(z), finite and
// accurate to a few units in the last place for z >= -26.
double erfcx(double z);

// Value and derivatives of a peak with centroid c, height h and width w at x;
// the width counts as |w|. The area and centroid functions below take w > 0.
void peak(double x, double c, double h, double w, const Tail& t, Terms& d);

// The peak's area (Gaussian and tails; the step belongs to the background):
//   h ( (1 - r - q) w sqrt(pi) + r 2 BETA / erfcx(y) + q 2 BETAH / erfcx(yh) ).
double area(double h, double w, const Tail& t);

// The area's derivatives by h, w, R, BETA, RH and BETAH, for its error.
struct AreaGradient {
  double dh, dw, dr, dbeta, drh, dbetah;
};
AreaGradient areaGradient(double h, double w, const Tail& t);

// How far the peak's centroid (its mean position, Gaussian and tails) lies
// below c: the low-side tail's mean lies BETA below c and the high-side
// tail's BETAH above, so the shift is BETA times the low-side tail's share of
// the area less BETAH times the high-side tail's. Independent of the height.
double centroidShift(double w, const Tail& t);

// The shift's derivatives by w, R, BETA, RH and BETAH, for the centroid's error.
struct ShiftGradient {
  double dw, dr, dbeta, drh, dbetah;
};
ShiftGradient shiftGradient(double w, const Tail& t);

}  // namespace tavrick::hpge
