// Fuzz target: the fit of the command (engine, result table and curve lists)
// on any counts with any settings the option phase can hand it.
//
// Input: 16 bytes of settings (shape, width and peak options, background
// order, window, number of peaks), then per peak a position, a width and a
// low-side width as 32-bit floats, then the window's counts as 32-bit
// integers (missing ones are 0). Settings are mapped into what the option
// and fetch phases guarantee: widths above 0, peaks inside the window, the
// window within the channel arrays. The fit must end; a crash, a hang or a
// sanitizer report is a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "main/fetch.h"
#include "main/settings.h"

namespace {

// The workspace of one command run, allocated once.
tavrick::Run* run = nullptr;
std::FILE* sink = nullptr;

struct Reader {
  const std::uint8_t* p;
  std::size_t n;
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(byte()) << (8 * k);
    return v;
  }
  std::uint8_t byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  float f32() {
    const std::uint32_t u = u32();
    float f = 0.0f;
    std::memcpy(&f, &u, sizeof f);
    return f;
  }
};

// A width as the option phase leaves it: a single-precision value above 0.
double width(float f) {
  if (!std::isfinite(f) || !(f > 0.0f))
    f = std::fabs(f) > 0.0f && std::isfinite(f) ? std::fabs(f) : 1.0f;
  return static_cast<double>(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  run = static_cast<tavrick::Run*>(std::calloc(1, sizeof(tavrick::Run)));
  sink = std::fopen("/dev/null", "w");
  return run != nullptr && sink != nullptr ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  tavrick::Settings s;
  const int shape = in.byte() % 4;  // gauss, skew, skewtail, lorentz
  s.iskew = shape == 1 ? 1 : shape == 2 ? 2 : 0;
  s.ilor = shape == 3 ? 1 : 0;
  const int widthopt = in.byte() % 3;  // different, same, given
  s.ifixwd = widthopt == 2 ? 1 : 0;
  s.idiffwd = widthopt == 1 ? 0 : 1;
  s.ifixcn = in.byte() % 2;
  s.nbak = in.byte() % 6 + 1;
  const int nchan = static_cast<int>(in.u32() % 2048) + 1;
  s.ilo = static_cast<int>(in.u32() % static_cast<std::uint32_t>(tavrick::kMaxCh - nchan));
  s.ihi = s.ilo + nchan - 1;
  s.lim1 = s.ilo;
  s.lim2 = s.ihi;
  s.npeaks = in.byte() % 30 + 1;
  in.u32();  // room for later settings
  in.byte();
  in.byte();
  for (int k = 0; k < s.npeaks; ++k) {
    const auto i = static_cast<std::size_t>(k);
    // Positions inside the window, in single precision as the options give them.
    const float pos = in.f32();
    const double frac =
        std::isfinite(pos) ? std::fabs(std::fmod(static_cast<double>(pos), 1.0)) : 0.5;
    s.pos[i] = static_cast<double>(static_cast<float>(s.ilo + frac * (nchan - 1)));
    s.fwhmin[i] = width(in.f32());
    s.fwloin[i] = width(in.f32());
  }
  for (int k = s.npeaks; k < tavrick::kMaxPeaks; ++k) {
    const auto i = static_cast<std::size_t>(k);
    s.fwhmin[i] = s.fwhmin[static_cast<std::size_t>(s.npeaks - 1)];
    s.fwloin[i] = s.fwloin[static_cast<std::size_t>(s.npeaks - 1)];
  }
  s.width = s.fwhmin[0];
  s.widlo = s.fwloin[0];

  run->nchan = nchan;
  for (int c = s.ilo; c <= s.ihi; ++c) {
    const auto i = static_cast<std::size_t>(c);
    run->idata[i] = static_cast<std::int32_t>(in.u32());
    run->spec[i] = static_cast<double>(static_cast<float>(run->idata[i]));
  }
  tavrick::fit(s, *run, sink);
  tavrick::list(*run, sink);
  return 0;
}
