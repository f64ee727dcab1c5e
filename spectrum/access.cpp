// Buffered channel access to the store's spectra.
#include "spectrum/access.h"

#include <algorithm>

namespace spectrum {

namespace {

Ident ident(int id1, int id2) {
  return Ident{static_cast<std::int16_t>(id1), static_cast<std::int16_t>(id2)};
}

// Channel (and row) inside the geometry; compared as differences from the
// base in 64 bits so extreme channel numbers cannot overflow.
bool in_channels(int channel, int base, int size) {
  const std::int64_t d = std::int64_t{channel} - base;
  return d >= 0 && d < size;
}

// Channels of a block starting at channel: up to 256, never past the end.
int block_count(int channel, int base, int size) {
  const std::int64_t left = std::int64_t{base} + size - channel;
  return static_cast<int>(std::min<std::int64_t>(kBlock, left));
}

}  // namespace

void HostLibrary::sinq(
    const Ident& id, int& base, int& size, int& rowbase, int& rows, int& kind, int& status) {
  host_.sinq(id, base, size, rowbase, rows, kind, status);
}
void HostLibrary::sread(const Ident& id,
                        int first,
                        int count,
                        int firstrow,
                        int rowcount,
                        std::int32_t* dest,
                        int elemsize,
                        int& status) {
  host_.sread(id, first, count, firstrow, rowcount, dest, elemsize, status);
}
void HostLibrary::swrite(const Ident& id,
                         int first,
                         int count,
                         int firstrow,
                         int rowcount,
                         const std::int32_t* src,
                         int elemsize,
                         int& status) {
  host_.swrite(id, first, count, firstrow, rowcount, src, elemsize, status);
}
void HostLibrary::sdef(Ident& id,
                       int base,
                       int size,
                       int rowbase,
                       int rows,
                       int kind,
                       const char* label,
                       int labellen,
                       int& status) {
  host_.sdef(id, base, size, rowbase, rows, kind, label, labellen, status);
}
void HostLibrary::srmax(const Ident& id, int& smallest, int& largest, int& status) {
  host_.srmax(id, smallest, largest, status);
}
void HostLibrary::swmax(const Ident& id, int smallest, int largest, int& status) {
  host_.swmax(id, smallest, largest, status);
}
void HostLibrary::exstop(int status) { spectrum::exstop(host_, status); }

void Access::check(int status) {
  if (status != 0) lib_.exstop(status);
}

Access::Stream& Access::open_stream(int stream) {
  if (stream < 1 || stream > kStreams) lib_.exstop(badstr);
  Stream& s = streams_[static_cast<std::size_t>(stream - 1)];
  if (s.state == 0) lib_.exstop(notopn);
  return s;
}

Access::Stream& Access::closed_stream(int stream) {
  if (stream < 1 || stream > kStreams) lib_.exstop(badstr);
  Stream& s = streams_[static_cast<std::size_t>(stream - 1)];
  if (s.state != 0) lib_.exstop(isopn);
  return s;
}

void Access::start_block(Stream& s, int channel, int firstrow, int rowcount) {
  s.first = channel;
  s.count = block_count(channel, s.base, s.size);
  s.firstrow = firstrow;
  s.rowcount = rowcount;
  s.buf.fill(0);
}

void Access::load(Stream& s, int channel, int firstrow, int rowcount) {
  s.first = channel;
  s.count = block_count(channel, s.base, s.size);
  int status = 0;
  lib_.sread(s.id, s.first, s.count, firstrow, rowcount, s.buf.data(), 4, status);
  check(status);
  s.state = 2;
}

void Access::flush(Stream& s, int firstrow, int rowcount) {
  int status = 0;
  lib_.swrite(s.id, s.first, s.count, firstrow, rowcount, s.buf.data(), 4, status);
  check(status);
  s.state = 1;
}

void Access::store(Stream& s, int channel, std::int32_t value) {
  s.buf[static_cast<std::size_t>(channel - s.first)] = value;
  s.smallest = std::min(s.smallest, value);
  s.largest = std::max(s.largest, value);
  s.state = 2;
}

int Access::opnspr(int stream, int id1, int id2) {
  Stream& s = closed_stream(stream);
  s.id = ident(id1, id2);
  int status = 0;
  lib_.sinq(s.id, s.base, s.size, s.rowbase, s.rows, s.kind, status);
  check(status);
  lib_.srmax(s.id, s.smallest, s.largest, status);
  check(status);
  s.state = 1;
  return 0;
}

int Access::clsspr(int stream) {
  if (stream < 1 || stream > kStreams) return 0;
  streams_[static_cast<std::size_t>(stream - 1)].state = 0;
  return 0;
}

int Access::igtchn(int stream, int channel, std::int32_t& value) {
  Stream& s = open_stream(stream);
  if (!in_channels(channel, s.base, s.size)) return notopn;
  if (!(s.state == 2 && channel >= s.first && channel - s.first < s.count)) load(s, channel, 0, 0);
  value = s.buf[static_cast<std::size_t>(channel - s.first)];
  return 0;
}

int Access::infsp(
    int stream, int& base, int& size, int& smallest, int& largest, int& rowbase, int& rows) {
  const Stream& s = open_stream(stream);
  base = s.base;
  size = s.size;
  smallest = s.smallest;
  largest = s.largest;
  rowbase = s.rows > 0 ? s.rowbase : 0;
  rows = s.rows > 0 ? s.rows : 0;
  return 0;
}

int Access::presp(int stream, float& kind) {
  kind = static_cast<float>(open_stream(stream).kind);
  return 0;
}

int Access::newsp(
    int& id1, int& id2, int base, int size, int kind, const char* label, int labellen) {
  return newsp2(id1, id2, base, size, 0, 0, kind, label, labellen);
}

int Access::newsp2(int& id1,
                   int& id2,
                   int base,
                   int size,
                   int rowbase,
                   int rows,
                   int kind,
                   const char* label,
                   int labellen) {
  Ident id = ident(id1, id2);
  int status = 0;
  lib_.sdef(id, base, size, rowbase, rows, kind, label, labellen, status);
  check(status);
  id1 = id.id1;
  id2 = id.id2;
  return 0;
}

int Access::opnspw(int stream, int id1, int id2) {
  Stream& s = closed_stream(stream);
  s.id = ident(id1, id2);
  int status = 0;
  lib_.sinq(s.id, s.base, s.size, s.rowbase, s.rows, s.kind, status);
  check(status);
  s.smallest = 0;
  s.largest = 0;
  start_block(s, s.base, s.rowbase, s.rows != 0 ? 1 : 0);
  s.state = 1;
  return 0;
}

int Access::iptchn(int stream, int channel, std::int32_t value) {
  Stream& s = open_stream(stream);
  if (!in_channels(channel, s.base, s.size)) return notopn;
  if (s.state == 2 && !(channel >= s.first && channel - s.first < s.count)) flush(s, 0, 0);
  if (s.state == 1) start_block(s, channel, s.firstrow, s.rowcount);
  store(s, channel, value);
  return 0;
}

int Access::clsspw(int stream) {
  if (stream < 1 || stream > kStreams) return 0;
  Stream& s = streams_[static_cast<std::size_t>(stream - 1)];
  if (s.state == 0) return 0;
  if (s.state == 2) flush(s, s.firstrow, s.rowcount);
  // The extremes are a summary the store can rebuild: a failure here is not fatal.
  int status = 0;
  lib_.swmax(s.id, s.smallest, s.largest, status);
  s.state = 0;
  return 0;
}

int Access::igtpnt(int stream, int channel, int row, std::int32_t& value) {
  Stream& s = open_stream(stream);
  if (!in_channels(channel, s.base, s.size) || !in_channels(row, s.rowbase, s.rows)) return notopn;
  const bool inside =
      s.state == 2 && channel >= s.first && channel - s.first < s.count && row == s.firstrow;
  if (!inside) {
    s.firstrow = row;
    s.rowcount = 1;
    load(s, channel, row, 1);
  }
  value = s.buf[static_cast<std::size_t>(channel - s.first)];
  return 0;
}

int Access::iptpnt(int stream, int channel, int row, std::int32_t value) {
  Stream& s = open_stream(stream);
  if (!in_channels(channel, s.base, s.size) || !in_channels(row, s.rowbase, s.rows)) return notopn;
  const bool inside = channel >= s.first && channel - s.first < s.count && row == s.firstrow;
  if (s.state == 2 && !inside) flush(s, s.firstrow, 1);
  if (s.state == 1) start_block(s, channel, row, 1);
  store(s, channel, value);
  return 0;
}

int xaif1() { return 0; }
int xaif11() { return 0; }

}  // namespace spectrum
