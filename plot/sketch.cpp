// The plot script writer.
#include "plot/sketch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/fitdefs.h"
#include "format/fortran.h"

namespace tavrick {

namespace {

// Abscissae of channels are written as single-precision numbers.
double chan(float x) { return static_cast<double>(x); }

// Counts axis clamp of a logarithmic plot: nothing is drawn below 0.1.
constexpr double kLogFloor = sp(0.1f);

}  // namespace

SketchScale sketch_scale(double low, double high, int logflag) {
  SketchScale sc;
  if (logflag != 0) {
    // Lower end: the power of ten at or below the smallest value, never below 0.1.
    int e = static_cast<int>(std::log10(std::fmax(low, 0.1)));
    if (e < 0) e = -1;
    sc.lower = static_cast<double>(ipowf(10.0f, e));
  }

  const double t = 1.25 * high;
  // p is the integer part of log10(t). A t of 0.1 or less (an empty range, or
  // no counts above 0.08) would give a unit of 0 and a division by zero: the
  // unit is 1 instead. A t past the largest single-precision number stops at
  // 10^38 so the exponent stays an int.
  int p = 0;
  if (t > 0.0) {
    const double lg = std::log10(t);
    if (lg >= 1.0) p = lg < 38.0 ? static_cast<int>(lg) : 38;
  }
  // 10^p and unit * m are whole numbers, exact in double far beyond the 32-bit
  // range where counts of a stored spectrum end up (about 2.1e9 * 1.25).
  const double unit = ipow(10.0, p);
  const double q = t / static_cast<double>(static_cast<float>(unit));
  // m is at least 1: a negative t (an empty range) gets the scale 0 to unit.
  double m = 1.0;
  if (q > 0.0) m = std::trunc(q) + 1.0;
  sc.upper = static_cast<double>(static_cast<float>(unit * m));
  sc.step = m > 5.0 ? 2.0 * unit : unit;
  return sc;
}

void sketch(const SketchArgs& s, std::FILE* out) {
  fortran::write(out, R"f(('A4P'))f");
  fortran::write(out, R"f(('PICTURE 6 16 18 26'))f");

  // Range of the values drawn; values that are not numbers are left out.
  double low = sp(1.0E10f);
  double high = sp(-1.0E6f);
  auto take = [&](double v) {
    if (std::isnan(v)) return;
    if (v > high) high = v;
    if (v < low) low = v;
  };
  for (int i = s.ilo; i <= s.ihi; ++i) {
    take(s.spec[i]);
    if (s.fitflag != 0) {
      take(s.dotted[i]);
      take(s.dotdash[i]);
    }
  }

  if (s.logflag != 0) fortran::write(out, R"f(('LOGY'))f");
  const SketchScale sc = sketch_scale(low, high, s.logflag);
  fortran::write(out, R"f(('SCALE Y ',F10.1,1X,F12.0,1X,F12.0))f", sc.lower, sc.upper, sc.step);
  fortran::write(out, R"f(('SCALE X ',I4,1X,I4 ))f", s.ilo, s.ihi);

  // The spectrum as a histogram: each channel a step from i - 0.5 to i + 0.5.
  fortran::write(out, R"f(('LINE ON'))f");
  fortran::write(out, R"f(('LINE SOLID'))f");
  fortran::write(out, R"f(('DATA'))f");
  for (int i = s.ilo; i <= s.ihi; ++i) {
    const float x = static_cast<float>(i);
    fortran::write(out, R"f((2F12.2))f", chan(x - 0.5f), s.spec[i]);
    fortran::write(out, R"f((2F12.2))f", chan(x + 0.5f), s.spec[i]);
  }

  if (s.fitflag != 0) {
    fortran::write(out, R"f(('SYMBOL OFF'))f");
    fortran::write(out, R"f(('LINE DOTTED'))f");
    fortran::write(out, R"f(('DATA'))f");
    for (int i = s.ilo; i <= s.ihi; ++i) {
      double v = s.dotted[i];
      // A value that is not a number has no place on either axis: no point.
      if (std::isnan(v)) continue;
      if (s.logflag != 0 && v <= kLogFloor) v = kLogFloor;
      fortran::write(out, R"f((2F12.2))f", chan(static_cast<float>(i)), v);
    }
    // Each marker a vertical line across the whole count axis.
    for (const double pos : s.markers) {
      const double x = chan(static_cast<float>(pos));
      fortran::write(out, R"f(('DATA'))f");
      fortran::write(out, R"f((2F12.2))f", x, sc.lower);
      fortran::write(out, R"f((2F12.2))f", x, sc.upper);
    }
    fortran::write(out, R"f(('LINE DOTDASH'))f");
    fortran::write(out, R"f(('DATA'))f");
    for (int i = s.ilo; i <= s.ihi; ++i) {
      fortran::write(out, R"f((2F12.2))f", chan(static_cast<float>(i)), s.dotdash[i]);
    }
  }

  fortran::write(out, R"f(('LINE OFF'))f");
  fortran::write(out, R"f(('XTEXT 9.5  14.5 \T20 Channel Number'))f");
  fortran::write(out, R"f(('YTEXT 3 19 \T20 Counts per Channel'))f");
  fortran::write(out, R"f(('XTEXT 2.5 13.0 \T20 ',A40))f", s.title1);
  fortran::write(out, R"f(('XTEXT 2.5 12.0 \T20 ',A40))f", s.title2);
  if (s.fitflag == 0) return;

  const FitResults& r = *s.res;
  if (s.germanium) {
    fortran::write(
        out,
        R"f(('XTEXT 3.0 11.0 \C8  KORVEL with germanium peaks:  Chisq=',1PE10.3,' per point'))f",
        s.chisq);
  } else if (s.ilor == 0 && (s.iskew == 0 || s.iskew == 1)) {
    fortran::write(
        out,
        R"f(('XTEXT 3.0 11.0 \C8  KORVEL with Gaussians:  Chisq=',     1PE10.3,' per point'))f",
        s.chisq);
  } else if (s.ilor == 1) {
    fortran::write(
        out,
        R"f(('XTEXT 3.0 11.0 \C8  KORVEL with Lorentzians:  Chisq=',   1PE10.3,' per point'))f",
        s.chisq);
  }
  fortran::write(out, R"f(('XTEXT 3.0 10.7 \C8  Background Area=',F12.1,' +/- ',     F12.1))f",
                 r.bakarea, r.bakaerr);
  fortran::write(
      out,
      R"f(('XTEXT 3.0 10.4 \C8  N  Bakfit(N)   Bakerr(N)',            '  N  Bakfit(N)   Bakerr(N)'))f");

  // Background coefficients two to a line; an odd last one stands alone (the
  // output ends where its values do).
  constexpr std::string_view kBakLine =
      R"f(('XTEXT 3.0 ',F5.2,' \C8',I3,1X,1PE10.3,'+/-',  E9.3,      I3,1X,E10.3, '+/-' ,E9.3))f";
  // Rows never run past the result lists, whatever the counts say.
  const int nbak = std::min(s.nbak, kMaxBak);
  const Vec1<const double> bakfit{r.bakfit.data()};
  const Vec1<const double> bakerr{r.bakerr.data()};
  double y = sp(10.1f);
  for (int j = 1; j <= nbak; j += 2) {
    if (j + 1 <= nbak) {
      fortran::write(out, kBakLine, y, j, bakfit(j), bakerr(j), j + 1, bakfit(j + 1),
                     bakerr(j + 1));
    } else {
      fortran::write(out, kBakLine, y, j, bakfit(j), bakerr(j));
    }
    y = y - sp(0.3f);
  }

  if (s.iskew == 0 && s.ilor == 0) {
    fortran::write(out, R"f(('XTEXT 3.0 9.2 \C8  ',1X,'N',5X,'Centroid',14X,'Area',14X, 'Fwhm'))f");
  } else if (s.iskew == 0 && s.ilor == 1) {
    fortran::write(out,
                   R"f(('XTEXT 3.0 9.2 \C8  ',1X,'N',5X,'Centroid',14X,'Height',  12X,'Fwhm'))f");
  } else if (s.iskew == 1 && s.ilor == 0) {
    fortran::write(out,
                   R"f(('XTEXT 3.0 9.2 \C8  ',1X,'N',5X,'Centroid',14X,'Area',14X, 'FwhmHi/Lo'))f");
  } else if (s.iskew == 1 && s.ilor == 1) {
    fortran::write(
        out, R"f(('XTEXT 3.0 9.2 \C8  ',1X,'N',5X,'Centroid',14X,'Height',  12X,'FwhmHi/Lo'))f");
  }

  // Peak rows. A Lorentzian peak's second row (its height) stands one line
  // below the first, so no two rows overlap.
  constexpr std::string_view kPeakRow =
      R"f(('XTEXT 3.0 ',F4.1,' \C8',  I3,2X,F7.2, '+/-' ,F7.2,1X,    F10.1, '+/-' ,F9.1 ,   F7.2, '+/-' ,F6.2))f";
  y = sp(8.9f);
  const int npeaks = std::min(s.npeaks, kMaxPeaks);
  for (int k = 1; k <= npeaks; ++k) {
    const auto n = static_cast<std::size_t>(k - 1);
    fortran::write(out, kPeakRow, y, k, r.cenfit[n], r.cenerr[n], r.arefit[n], r.areerr[n],
                   r.fwhfit[n], r.fwherr[n]);
    if (s.ilor != 0) {
      y = y - sp(0.3f);
      fortran::write(out, kPeakRow, y, k, r.cenfit[n], r.cenerr[n], r.hgtfit[n], r.hgterr[n],
                     r.fwhfit[n], r.fwherr[n]);
    }
    y = y - sp(0.3f);
    if (s.iskew != 0) {
      fortran::write(out, R"f(('XTEXT 3.0 ',F4.1,' \C8',45X,F7.2,'+/-',F6.2))f", y, r.fwlfit[n],
                     r.fwlerr[n]);
      y = y - sp(0.3f);
    }
  }
  if (s.germanium) {
    // The shape parameters common to the window's peaks, under the rows.
    constexpr fortran::Format kShapeRow = R"f(('XTEXT 3.0 ',F4.1,' \C8  ',A,F9.3,'+/-',F8.3))f";
    const char* const names[] = {"Tail R (%)  ", "Tail BETA   ", "Step (%)    ", "High RH (%) ",
                                 "High BETAH  "};
    const int count = s.high ? 5 : 3;
    for (int j = 0; j < count; ++j) {
      const auto n = static_cast<std::size_t>(j);
      fortran::write(out, kShapeRow, y, names[n], r.shapefit[n], r.shapeerr[n]);
      y = y - sp(0.3f);
    }
  }
}

}  // namespace tavrick
