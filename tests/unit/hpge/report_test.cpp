// Report lines of germanium-shape fits, character for character.
#include "engine/hpge/report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

using tavrick::hpge::Held;

std::string text(const std::function<void(std::FILE*)>& print) {
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* f = open_memstream(&buf, &len);
  print(f);
  std::fclose(f);
  std::string s(buf, len);
  std::free(buf);
  return s;
}

TEST(HpgeReport, Lines) {
  const tavrick::hpge::PeakResult p{194.7264, 0.0013, 1355289.4, 1799.2, 2.551, 0.004, 0.0, 0.0};
  const tavrick::hpge::ShapeResult s{5.6, 0.12, 0.995, 0.02, 0.721, 0.0, 2.0, 0.5, 0.8, 0.1};
  const struct {
    const char* what;
    std::function<void(std::FILE*)> print;
    std::string out;
  } cases[] = {
      {"banner, all free", [](std::FILE* f) { tavrick::hpge::printShape(f, Held{}); },
       " Germanium peak shape: Gaussian, tail and step\n"},
      {"banner, held and high tail",
       [](std::FILE* f) {
         tavrick::hpge::printShape(f, Held{true, false, true, false, true, true});
       },
       " Germanium peak shape: Gaussian, tail and step\n"
       " Tail share R fixed in search\n"
       " Step height fixed in search\n"
       " High-side tail included\n"
       " High-side tail length BETAH fixed in search\n"},
      {"held high-side values without the tail are not reported",
       [](std::FILE* f) {
         tavrick::hpge::printShape(f, Held{false, false, false, true, true, false});
       },
       " Germanium peak shape: Gaussian, tail and step\n"},
      {"head", [](std::FILE* f) { tavrick::hpge::printTableHead(f); },
       "             Centroid               Area                  Fwhm \n"},
      {"row", [&](std::FILE* f) { tavrick::hpge::printRow(f, 1, p); },
       "  1     194.73 +/-    0.00 1355289.40 +/- 1799.20       2.55 +/-    0.00\n"},
      {"shape", [&](std::FILE* f) { tavrick::hpge::printShapeResult(f, s, false); },
       "   Tail R (%)               5.600 +/-   0.120\n"
       "   Tail BETA                0.995 +/-   0.020\n"
       "   Step (%)                 0.721 +/-   0.000\n"},
      {"shape with high tail", [&](std::FILE* f) { tavrick::hpge::printShapeResult(f, s, true); },
       "   Tail R (%)               5.600 +/-   0.120\n"
       "   Tail BETA                0.995 +/-   0.020\n"
       "   Step (%)                 0.721 +/-   0.000\n"
       "   High tail RH (%)         2.000 +/-   0.500\n"
       "   High tail BETAH          0.800 +/-   0.100\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(text(c.print), c.out) << c.what;
}

}  // namespace
