// Placeholder until this family lands: every routine does nothing.
#include "engine/lorentz/lorentz.h"

namespace tavrick {

void glor(const StartArgs&, FitWork&, std::FILE*) {}
void flor(double, const double*, double& y, double*, int, int, int) { y = 0.0; }
void xlor(const ResultArgs&, FitResults&, std::FILE*) {}

void glorf(const StartArgs&, FitWork&, std::FILE*) {}
void florf(double, const double*, double& y, double*, int, int, int) { y = 0.0; }
void xlorf(const ResultArgs&, FitResults&, std::FILE*) {}

}  // namespace tavrick
