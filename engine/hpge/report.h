// The report lines of a germanium-shape fit, in the style of the other
// shapes: the shape banner and what is held, the results table and the shape
// parameters under it.
#pragma once

#include <cstdio>

#include "engine/hpge/results.h"

namespace tavrick::hpge {

// What the fit holds of the shape, and whether it has a high-side tail.
struct Held {
  bool r, beta, step, rh, betah;
  bool high;
};

// The banner line and one line per held shape parameter, for the
// configuration block of the report.
void printShape(std::FILE* out, const Held& held);

// The table head and the row of peak k.
void printTableHead(std::FILE* out);
void printRow(std::FILE* out, int k, const PeakResult& p);

// The shape parameters with their errors (0 when held), under the rows.
void printShapeResult(std::FILE* out, const ShapeResult& s, bool high);

}  // namespace tavrick::hpge
