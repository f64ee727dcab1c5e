// Name, title, label and calibration of a spectrum addressed by its
// identifier halves (id1 the first 16-bit half, id2 the second).
//
// Each entry makes one or two host library calls and returns the status of
// the last one, 0 for success. Nothing here stops the program: every failure
// is left to the caller.
#pragma once

#include <string>

#include "spectrum/host.h"

namespace spectrum {

// Looks the spectrum up by the first namelen characters of name; only on
// success do id1 and id2 receive its identifier.
int getid(Host& host, int& id1, int& id2, const char* name, int namelen);
// Gives the spectrum this name.
int putid(Host& host, int id1, int id2, const char* name, int namelen);
// Title into title (room for titlelen characters, blank-padded); titlelen
// receives the title's length.
int gettit(Host& host, int id1, int id2, char* title, int& titlelen);
int puttit(Host& host, int id1, int id2, const char* title, int titlelen);
// The 80-character label; blank beyond what the store holds.
int gethdr(Host& host, int id1, int id2, char* label);
// Defines a header-only spectrum carrying the 80-character label; id1 and id2
// receive what the definition left in the new identifier, whatever the status.
int puthdr(Host& host, int& id1, int& id2, const char* label);
// Calibration (plain, or number n) as offset, gain, unit and kind; the text
// form belongs to sdcal and secal. A failed read leaves the values alone, a
// failed encoding stores nothing.
int getcal(Host& host,
           int id1,
           int id2,
           double& offset,
           double& gain,
           std::string& unit,
           std::string& kind);
int putcal(Host& host,
           int id1,
           int id2,
           double offset,
           double gain,
           const std::string& unit,
           const std::string& kind);
int getcaln(Host& host,
            int id1,
            int id2,
            int n,
            double& offset,
            double& gain,
            std::string& unit,
            std::string& kind);
int putcaln(Host& host,
            int id1,
            int id2,
            int n,
            double offset,
            double gain,
            const std::string& unit,
            const std::string& kind);

// Placeholder entries of the interface: no call, status 0.
int xaif2();
int xaif22();

}  // namespace spectrum
