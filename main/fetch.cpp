// Second phase of the command: fetch the window, run the engine, list the result.
#include "main/fetch.h"

#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "engine/pksrch.h"
#include "main/args.h"
#include "main/results_out.h"

namespace tavrick {

namespace {

// Diagnostic dump of the settings and the arrays on standard error; off in
// every build, switched on by hand when a run has to be taken apart.
constexpr bool kDiagnosticDump = false;

std::string spectrum_name(const Settings& s) {
  return std::string(s.name.data(), static_cast<std::size_t>(s.namelen));
}

void dump_int(const char* label, int v) { std::fprintf(stderr, " %s %11d\n", label, v); }

void dump_real(const char* label, double v) { std::fprintf(stderr, " %s %.17g\n", label, v); }

void dump_settings(const Settings& s) {
  dump_int("ipksch=", s.ipksch);
  dump_int("ifixwd=", s.ifixwd);
  dump_int("idiffwd=", s.idiffwd);
  dump_int("ifixcn=", s.ifixcn);
  dump_real("fwhmin(1)=", s.fwhmin[0]);
  dump_real("fwloin(1)=", s.fwloin[0]);
  dump_real("width=", s.width);
  dump_real("widlo=", s.widlo);
}

void dump_arrays(const Settings& s, const Run& run) {
  const auto ch = [](int i) { return static_cast<std::size_t>(i); };
  std::fputs(" spectrum=", stderr);
  for (int i = s.ilo; i <= s.ihi; ++i) std::fprintf(stderr, " %11d", run.idata[ch(i)]);
  std::fputc('\n', stderr);
  const std::array<std::pair<const char*, const double*>, 3> curves{
      {{"bkgrd=", run.bkgrd.data()}, {"peaks=", run.peaks.data()}, {"fit=", run.fit.data()}}};
  for (const auto& [label, v] : curves) {
    std::fprintf(stderr, " %s", label);
    for (int i = s.ilo; i <= s.ihi; ++i) std::fprintf(stderr, " %.17g", v[ch(i)]);
    std::fputc('\n', stderr);
  }
}

// Run starts as all zeros. A value-initialised Run is written byte by byte
// (5 MB, every page faulted in: more than a small window's whole fit takes);
// a fresh anonymous mapping is zero pages, and only the pages of the window's
// channels are ever touched. Run is an aggregate of arrays and scalars whose
// initial values are all zero bits, so the zeroed storage holds it as
// value-initialisation would.
//
// A long window touches most of the block, one 4 KB page fault after another
// (some 700 at 65536 channels); there the block is aligned to 2 MB and asks
// for huge pages, so it is faulted in a few large pieces. A short window
// stays on small pages: clearing a whole 2 MB page would cost more than the
// few pages it touches. Without huge pages (switched off in the kernel) the
// block simply stays on small ones.
constexpr int kHugePageWindow = 8192;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

struct RunMapping {
  void* base = nullptr;
  std::size_t length = 0;
};

struct FreeRun {
  RunMapping m;
  void operator()(Run* /*r*/) const { ::munmap(m.base, m.length); }
};
static_assert(std::is_aggregate_v<Run> && std::is_trivially_destructible_v<Run>);

std::unique_ptr<Run, FreeRun> new_run(long long nchan) {
  const bool huge = nchan >= kHugePageWindow;
  const std::size_t align = huge ? kHugePage : 1;
  const std::size_t span = (sizeof(Run) + align - 1) / align * align;
  const std::size_t length = span + align - 1;
  void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) throw std::bad_alloc();
  auto at = reinterpret_cast<std::uintptr_t>(base);
  at = (at + align - 1) / align * align;
  void* run = reinterpret_cast<void*>(at);
  if (huge) ::madvise(run, span, MADV_HUGEPAGE);
  return std::unique_ptr<Run, FreeRun>(static_cast<Run*>(run), FreeRun{{base, length}});
}

}  // namespace

void fetch(Settings& s, spectrum::Host& host, Run& run, std::FILE* msg) {
  int status = 0;
  host.sexpt(status);
  if (status != 0) crash("can't connect to experiment", msg);
  // One read transaction from the look-up to the counts: the spectrum is seen
  // in one version, or not at all ("spectrum not found").
  host.snapshot(status);
  if (status != 0) crash("can't connect to experiment", msg);

  spectrum::Ident ispec{};
  host.sname(ispec, s.name.data(), s.namelen, status);
  if (status != 0) crash("spectrum not found: " + spectrum_name(s), msg);

  // The title is read only as the library's check that the spectrum is
  // readable; it is not used.
  std::array<char, 256> title;
  title.fill(' ');
  int titlelen = 132;
  host.srtit(ispec, title.data(), titlelen, status);
  if (status != 0) sabend(host, 8, msg);

  int base = 0, size = 0, rowbase = 0, rows = 0, kind = 0;
  host.sinq(ispec, base, size, rowbase, rows, kind, status);
  if (status != 0) sabend(host, 8, msg);
  if (rows != 0) crash("spectrum not 1d: " + spectrum_name(s), msg);

  // Offsets in 64 bits: a base far from the window must not overflow.
  const long long lo = static_cast<long long>(s.ilo) - base;
  const long long hi = static_cast<long long>(s.ihi) - base;
  if (lo < 0 || lo >= size) crash("first peak lies ouside spectrum: " + spectrum_name(s), msg);
  if (hi < 0 || hi >= size) crash("last peak lies outside spectrum: " + spectrum_name(s), msg);

  if (s.ihi > kMaxCh - 1 || s.ilo < 0) crash("fitting over too many channels (65536 maximum)", msg);

  if (vecmin(s.pos.data(), s.npeaks) < static_cast<double>(s.ilo) ||
      vecmax(s.pos.data(), s.npeaks) > static_cast<double>(s.ihi)) {
    crash("some peaks lie outside fitting limits", msg);
  }

  run.nchan = s.ihi - s.ilo + 1;
  const auto first = static_cast<std::size_t>(s.ilo);
  host.sread(ispec, s.ilo, run.nchan, 0, 0, run.idata.data() + first, 4, status);
  if (status != 0) sabend(host, 8, msg);
  host.release();

  // Counts reach the engine through single precision: above 2^24 they lose
  // their lowest bits, as they always have.
  for (int i = s.ilo; i <= s.ihi; ++i) {
    const auto c = static_cast<std::size_t>(i);
    run.spec[c] = sp(static_cast<float>(run.idata[c]));
  }
}

hpge::Config hpge_config(const Settings& s) {
  hpge::Config c;
  c.start = {s.tailr, s.tailbeta, s.tailstep, s.tailrh, s.tailbetah};
  c.holdr = s.holdr;
  c.holdbeta = s.holdbeta;
  c.holdstep = s.holdstep;
  c.high = s.tailrh > 0.0 && s.tailbetah > 0.0;
  c.holdrh = s.holdrh;
  c.holdbetah = s.holdbetah;
  c.widths = s.ifixwd != 0    ? hpge::Widths::given
             : s.idiffwd == 0 ? hpge::Widths::common
                              : hpge::Widths::free;
  c.centroidsHeld = s.ifixcn != 0;
  return c;
}

void fit(Settings& s, Run& run, std::FILE* out) {
  KorvelArgs& k = run.k;
  bindArgs(k, s, run.spec.data(), run.fit.data(), run.peaks.data(), run.bkgrd.data());
  if (s.ihpge != 0) {
    hpge::Config& c = run.hpge;
    c = hpge_config(s);
    k.hpge = &c;
  }

  std::fputs("{\n", out);
  korvel(k, run.res, run.work, out);
  std::fputs("} \n", out);

  s.ihi = k.ihi;
  s.iskew = k.iskew;
  s.ifixwd = k.ifixwd;
  s.ifixcn = k.ifixcn;
}

void list(Run& run, std::FILE* out) {
  write_list(out, run.k.ilo, run.nchan, run.bkgrd.data());
  write_list(out, run.k.ilo, run.nchan, run.fit.data());
}

int fetch_and_fit(Settings& s, spectrum::Host& host, std::FILE* out, ResultsOut* results) {
  // The window is not checked yet: its width in 64 bits, so any limits give a
  // size rather than an overflow (the fetch then refuses a bad window).
  const auto run = new_run(static_cast<long long>(s.ihi) - s.ilo + 1);
  fetch(s, host, *run, out);
  if constexpr (kDiagnosticDump) dump_settings(s);
  if (results != nullptr) results->before_fit(s);
  fit(s, *run, out);
  list(*run, out);
  if constexpr (kDiagnosticDump) dump_arrays(s, *run);

  // A listing cut short (a full disk, a closed pipe) must not pass for a
  // complete one: the front end would read a truncated list as the result.
  if (std::fflush(out) != 0 || std::ferror(out) != 0) {
    std::fputs("tavrick: error writing standard output\n", stderr);
    return 8;
  }
  if (results != nullptr) results->after_fit(host, *run, out);
  return 0;
}

}  // namespace tavrick
