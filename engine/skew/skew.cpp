// Placeholder until this family lands: every routine does nothing.
#include "engine/skew/skew.h"

namespace tavrick {

void gskew(const StartArgs&, FitWork&, std::FILE*) {}
void fskew(double, const double*, double& y, double*, int, int, int) { y = 0.0; }
void xskew(const ResultArgs&, FitResults&, std::FILE*) {}

void gskewf(const StartArgs&, FitWork&, std::FILE*) {}
void fskewf(double, const double*, double& y, double*, int, int, int) { y = 0.0; }
void xskewf(const ResultArgs&, FitResults&, std::FILE*) {}

void gsfwvc(const StartArgs&, FitWork&, std::FILE*) {}
void fgsfwvc(double, const double*, double& y, double*, int, int, int) { y = 0.0; }
void xsfwvc(const ResultArgs&, FitResults&, std::FILE*) {}

void gsfwfc(const StartArgs&, FitWork&, std::FILE*) {}
void fgsfwfc(double, const double*, double& y, double*, int, int, int) { y = 0.0; }
void xsfwfc(const ResultArgs&, FitResults&, std::FILE*) {}

}  // namespace tavrick
