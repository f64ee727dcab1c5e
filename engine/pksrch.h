// Peak search and the extremes of a list.
#pragma once

namespace tavrick {

// Moves each of the npeaks guesses pos[0..npeaks-1] onto the highest channel
// within ipksch channels of it. spec is indexed by channel number and must
// hold channels 1 .. maxch.
void pksrch(const double* spec, double* pos, int maxch, int npeaks, int ipksch);

// Smallest and largest of v[0..n-1]; v[0] when n <= 1.
double vecmin(const double* v, int n);
double vecmax(const double* v, int n);

}  // namespace tavrick
