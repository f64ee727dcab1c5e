// The option phase of the command.
#include "main/options.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrick {

namespace {

using Word = std::array<char, kWordLen>;

// An option word equals an allowed word only at the same significant length,
// character by character: no abbreviations, no other case.
bool is(const Word& w, int len, std::string_view word) {
  return len == static_cast<int>(word.size()) && std::equal(word.begin(), word.end(), w.begin());
}

// Reads an option word, or takes dflt when the option is absent.
void word_or(Args& args, std::string_view name, std::string_view dflt, Word& w, int& len) {
  if (args.txtin(name, w, len) != 0) {
    w.fill(' ');
    std::copy(dflt.begin(), dflt.end(), w.begin());
    len = static_cast<int>(dflt.size());
  }
}

// "bad ... argument (...)" followed directly by the word as typed.
[[noreturn]] void bad_word(std::string_view prefix, const Word& w, int len, std::FILE* msg) {
  std::string m(prefix);
  m.append(w.data(), static_cast<std::size_t>(std::clamp(len, 0, kWordLen)));
  crash(m, msg);
}

// Reads the values of a list option into vals, each through single precision,
// until one request fails; stops with toomany at a value beyond the 30th.
// Returns the number of values read.
int read_list(Args& args,
              std::string_view name,
              std::array<double, kMaxPeaks>& vals,
              std::string_view toomany,
              std::FILE* msg) {
  int n = 0;
  float v = 0.0f;
  while (args.rlin(name, v) == 0) {
    if (n == kMaxPeaks) crash(toomany, msg);
    vals[static_cast<std::size_t>(n)] = static_cast<double>(v);
    ++n;
  }
  return n;
}

// Widths that are zero or negative give no peak to fit; they are refused
// before the list is padded, so only the values typed are checked.
void require_positive(const std::array<double, kMaxPeaks>& vals,
                      int n,
                      std::string_view text,
                      std::FILE* msg) {
  for (int k = 0; k < n; ++k) {
    if (!(vals[static_cast<std::size_t>(k)] > 0.0)) crash(text, msg);
  }
}

// Entries n+1 .. 30 take the last value given.
void pad(std::array<double, kMaxPeaks>& vals, int n) {
  std::fill(vals.begin() + n, vals.end(), vals[static_cast<std::size_t>(n - 1)]);
}

}  // namespace

void options(Args& args, Settings& s, std::FILE* msg) {
  // Spectrum name, kept with its significant length for the look-up and the
  // messages that name it.
  if (args.txtin("spectrum", s.name, s.namelen) != 0) {
    crash("bad SPECTRUM argument:" + std::string(80, ' '), msg);
  }

  Word w;
  int len = 0;

  word_or(args, "shape", "gauss", w, len);
  if (is(w, len, "gauss")) {
    s.iskew = 0;
    s.ilor = 0;
  } else if (is(w, len, "skew")) {
    s.iskew = 1;
    s.ilor = 0;
  } else if (is(w, len, "skewtail")) {
    s.iskew = 2;
    s.ilor = 0;
  } else if (is(w, len, "lorentz")) {
    s.iskew = 0;
    s.ilor = 1;
  } else if (is(w, len, "hpge")) {
    s.iskew = 0;
    s.ilor = 0;
    s.ihpge = 1;
  } else {
    bad_word("bad SHAPE argument (gauss|skew|skewtail|lorentz)", w, len, msg);
  }

  word_or(args, "widthopt", "different", w, len);
  if (is(w, len, "different")) {
    s.ifixwd = 0;
    s.idiffwd = 1;
  } else if (is(w, len, "same")) {
    s.ifixwd = 0;
    s.idiffwd = 0;
  } else if (is(w, len, "given")) {
    s.ifixwd = 1;
    s.idiffwd = 1;
  } else {
    bad_word("bad WIDTHOPT argument (different|same|given)", w, len, msg);
  }

  word_or(args, "peakopt", "different", w, len);
  if (is(w, len, "different")) {
    s.ifixcn = 0;
  } else if (is(w, len, "given")) {
    s.ifixcn = 1;
  } else {
    bad_word("bad PEAKOPT argument (different|given)", w, len, msg);
  }

  // An absent order, or one that is no integer, is 2 without a word.
  std::int32_t order = 2;
  if (args.intin("order", order) != 0) order = 2;
  if (order < 0 || order > 5) crash("invalid background polynomial order (0..5)", msg);
  s.nbak = order + 1;

  // Two integers in either order; the window runs from the smaller to the
  // larger.
  std::int32_t lim = 0;
  if (args.intin("limit", lim) != 0) crash("bad LIMIT argument", msg);
  s.lim1 = lim;
  if (args.intin("limit", lim) != 0) crash("bad LIMIT argument", msg);
  s.lim2 = lim;
  s.ilo = std::min(s.lim1, s.lim2);
  s.ihi = std::max(s.lim1, s.lim2);

  s.npeaks = read_list(args, "peaks", s.pos, "too many PEAKS (max of 30)", msg);
  if (s.npeaks == 0) crash("no PEAKS argument(s) at all", msg);

  // The number of widths is not tied to the number of peaks: missing ones
  // repeat the last width given.
  const int nwid = read_list(args, "widths", s.fwhmin, "too many WIDTHS (max of 30)", msg);
  if (nwid == 0) crash("no WIDTHS argument(s) at all", msg);
  require_positive(s.fwhmin, nwid, "WIDTHS must be positive", msg);
  s.width = s.fwhmin[0];
  pad(s.fwhmin, nwid);

  const int nskew = read_list(args, "skews", s.fwloin, "too many SKEWS (max of 30)", msg);
  if (nskew == 0) {
    if (s.iskew == 1) crash("no SKEWS argument(s) at all", msg);
    // Without skews the low side takes the high side's widths, so every
    // variant that holds a low-side width has a defined one.
    s.fwloin = s.fwhmin;
    s.widlo = s.width;
  } else {
    require_positive(s.fwloin, nskew, "SKEWS must be positive", msg);
    s.widlo = s.fwloin[0];
    pad(s.fwloin, nskew);
  }

  // Combinations for which no peak shape of the engine exists.
  const bool wdifferent = s.ifixwd == 0 && s.idiffwd == 1;
  const bool wsame = s.ifixwd == 0 && s.idiffwd == 0;
  if (s.iskew == 2 && wdifferent && s.ifixcn == 0) {
    crash("SHAPE=skewtail requires WIDTHOPT=same|given or PEAKOPT=given", msg);
  }
  if (s.iskew == 2 && (wsame || (wdifferent && s.ifixcn == 1))) {
    crash("SHAPE=skewtail requires WIDTHOPT=given", msg);
  }
  if (s.iskew == 0 && s.ilor == 0 && s.ihpge == 0 && wdifferent && s.ifixcn == 1) {
    crash("SHAPE=gauss with PEAKOPT=given requires WIDTHOPT=same|given", msg);
  }

  // Options added after the ones above are checked after them, so a command
  // line that fails an older check keeps its message.
  // Half-width of the peak search; absent, it is the search of every run.
  std::int32_t search = kPeakSearch;
  const int st = args.intin("search", search);
  if (st == 0 && search >= 0 && search <= kMaxPeakSearch) {
    s.ipksch = search;
  } else if (st != -1) {
    crash("bad SEARCH argument (an integer 0..65536)", msg);
  }

  // What the fit minimises: weights from the counts (as always), from the
  // model, or the Poisson likelihood.
  if (args.txtin("weights", w, len) == 0) {
    if (is(w, len, "data")) {
      s.weights = Weighting::data;
    } else if (is(w, len, "fit")) {
      s.weights = Weighting::fit;
    } else if (is(w, len, "poisson")) {
      s.weights = Weighting::poisson;
    } else {
      bad_word("bad WEIGHTS argument (data|fit|poisson)", w, len, msg);
    }
  }

  // The germanium shape's own options are read only for it: with the other
  // shapes they stay the unknown words they have always been.
  if (s.ihpge != 0) hpge_options(args, s, msg);
}

void hpge_options(Args& args, Settings& s, std::FILE* msg) {
  bool given = false;

  // Tails: two numbers each, a share in percent and a length.
  const auto tail = [&](std::string_view name, std::string_view bad, double& r, double& beta) {
    float share = 0.0f;
    const int st = args.rlin(name, share);
    if (st == -1) return;
    given = true;
    float len = 0.0f;
    if (st != 0 || !(share >= 0.0f && share <= 100.0f) || args.rlin(name, len) != 0 ||
        !(len > 0.0f)) {
      crash(bad, msg);
    }
    r = static_cast<double>(share);
    beta = static_cast<double>(len);
  };
  tail("tail", "bad TAIL argument (R 0..100, BETA above 0)", s.tailr, s.tailbeta);

  float v = 0.0f;
  int st = 0;
  st = args.rlin("step", v);
  if (st != -1) {
    given = true;
    if (st != 0) crash("bad STEP argument", msg);
    s.tailstep = static_cast<double>(v);
  }

  tail("hightail", "bad HIGHTAIL argument (RH 0..100, BETAH above 0)", s.tailrh, s.tailbetah);

  // Held shape parameters: a list of words that ends at the first argument
  // that is none of them, as a list of numbers ends at the first non-number.
  Word w;
  int len = 0;
  int nhold = 0;
  while (args.txtin("hold", w, len) == 0) {
    bool* flag = nullptr;
    if (is(w, len, "r")) {
      flag = &s.holdr;
    } else if (is(w, len, "beta")) {
      flag = &s.holdbeta;
    } else if (is(w, len, "step")) {
      flag = &s.holdstep;
    } else if (is(w, len, "rh")) {
      flag = &s.holdrh;
    } else if (is(w, len, "betah")) {
      flag = &s.holdbetah;
    }
    if (flag == nullptr) {
      if (nhold == 0) bad_word("bad HOLD argument (r|beta|step|rh|betah)", w, len, msg);
      break;
    }
    *flag = true;
    ++nhold;
    given = true;
  }
  if (given && s.ihpge == 0) crash("TAIL, STEP, HIGHTAIL and HOLD need SHAPE=hpge", msg);
  // Without -tail the tail starts half as long as the first width.
  if (s.tailbeta == 0.0) s.tailbeta = 0.5 * s.width;
}

}  // namespace tavrick
