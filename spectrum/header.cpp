// Header and calibration accessors over the host library.
#include "spectrum/header.h"

#include <algorithm>
#include <array>

namespace spectrum {

namespace {

Ident ident(int id1, int id2) {
  return Ident{static_cast<std::int16_t>(id1), static_cast<std::int16_t>(id2)};
}

using CalText = std::array<char, kCalLen>;

}  // namespace

int getid(Host& host, int& id1, int& id2, const char* name, int namelen) {
  Ident id{};
  int status = 0;
  host.sname(id, name, namelen, status);
  if (status == 0) {
    id1 = id.id1;
    id2 = id.id2;
  }
  return status;
}

int putid(Host& host, int id1, int id2, const char* name, int namelen) {
  int status = 0;
  host.siden(ident(id1, id2), name, namelen, status);
  return status;
}

int gettit(Host& host, int id1, int id2, char* title, int& titlelen) {
  int status = 0;
  host.srtit(ident(id1, id2), title, titlelen, status);
  return status;
}

int puttit(Host& host, int id1, int id2, const char* title, int titlelen) {
  int status = 0;
  host.swtit(ident(id1, id2), title, titlelen, status);
  return status;
}

int gethdr(Host& host, int id1, int id2, char* label) {
  std::fill(label, label + kLabelLen, ' ');
  int status = 0;
  host.srlab(ident(id1, id2), label, kLabelLen, status);
  return status;
}

int puthdr(Host& host, int& id1, int& id2, const char* label) {
  Ident id{};
  int status = 0;
  host.sdef(id, 0, 0, 0, 0, 0, label, kLabelLen, status);
  id1 = id.id1;
  id2 = id.id2;
  return status;
}

int getcal(Host& host,
           int id1,
           int id2,
           double& offset,
           double& gain,
           std::string& unit,
           std::string& kind) {
  CalText text{};
  int len = kCalLen;
  int status = 0;
  host.srcal(ident(id1, id2), text.data(), len, status);
  if (status == 0) sdcal(text.data(), len, offset, gain, unit, kind, status);
  return status;
}

int putcal(Host& host,
           int id1,
           int id2,
           double offset,
           double gain,
           const std::string& unit,
           const std::string& kind) {
  CalText text{};
  int len = kCalLen;
  int status = 0;
  secal(text.data(), len, offset, gain, unit, kind, status);
  if (status == 0) host.swcal(ident(id1, id2), text.data(), len, status);
  return status;
}

int getcaln(Host& host,
            int id1,
            int id2,
            int n,
            double& offset,
            double& gain,
            std::string& unit,
            std::string& kind) {
  CalText text{};
  int len = kCalLen;
  int status = 0;
  host.srcaln(ident(id1, id2), n, text.data(), len, status);
  if (status == 0) sdcal(text.data(), len, offset, gain, unit, kind, status);
  return status;
}

int putcaln(Host& host,
            int id1,
            int id2,
            int n,
            double offset,
            double gain,
            const std::string& unit,
            const std::string& kind) {
  CalText text{};
  int len = kCalLen;
  int status = 0;
  secal(text.data(), len, offset, gain, unit, kind, status);
  if (status == 0) host.swcaln(ident(id1, id2), n, text.data(), len, status);
  return status;
}

int xaif2() { return 0; }
int xaif22() { return 0; }

}  // namespace spectrum
