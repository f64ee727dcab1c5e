// Buffered stream access against an in-memory library that counts its calls.
#include "spectrum/access.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using spectrum::Access;
using spectrum::badstr;
using spectrum::Ident;
using spectrum::isopn;
using spectrum::notopn;

struct Stopped {
  int status;
};

struct Call {
  int first, count, firstrow, rowcount;
  std::vector<std::int32_t> values;
};

// One spectrum of given geometry, counts = 1000 * row + channel; exstop throws.
class FakeLibrary : public spectrum::ChannelLibrary {
 public:
  int base = 100, size = 600, rowbase = 0, rows = 0, kind = 7;
  int smallest = -3, largest = 9999;
  int fail_sread = 0;
  std::vector<Call> reads, writes;
  int maxes_written = 0, max_small = 0, max_large = 0;
  Ident defined{0x12, 0x34};
  int def_base = 0, def_size = 0, def_rowbase = 0, def_rows = 0, def_kind = 0;

  void sinq(const Ident&, int& b, int& s, int& rb, int& r, int& k, int& status) override {
    b = base, s = size, rb = rowbase, r = rows, k = kind, status = 0;
  }
  void sread(const Ident&,
             int first,
             int count,
             int firstrow,
             int rowcount,
             std::int32_t* dest,
             int,
             int& status) override {
    status = fail_sread;
    if (status != 0) return;
    reads.push_back({first, count, firstrow, rowcount, {}});
    for (int i = 0; i < count; ++i) dest[i] = 1000 * firstrow + first + i;
  }
  void swrite(const Ident&,
              int first,
              int count,
              int firstrow,
              int rowcount,
              const std::int32_t* src,
              int,
              int& status) override {
    writes.push_back(
        {first, count, firstrow, rowcount, std::vector<std::int32_t>(src, src + count)});
    status = 0;
  }
  void sdef(Ident& id, int b, int s, int rb, int r, int k, const char*, int, int& status) override {
    id = defined;
    def_base = b, def_size = s, def_rowbase = rb, def_rows = r, def_kind = k;
    status = 0;
  }
  void srmax(const Ident&, int& s, int& l, int& status) override {
    s = smallest, l = largest, status = 0;
  }
  void swmax(const Ident&, int s, int l, int& status) override {
    ++maxes_written, max_small = s, max_large = l;
    status = 5;  // not tested by the layer
  }
  [[noreturn]] void exstop(int status) override { throw Stopped{status}; }
};

int stopped_with(auto&& f) {
  try {
    f();
  } catch (const Stopped& s) {
    return s.status;
  }
  return 0;
}

TEST(Igtchn, BlockOf256ChannelsIsOneRead) {
  FakeLibrary lib;
  Access acc(lib);
  ASSERT_EQ(acc.opnspr(1, 0, 5), 0);
  std::int32_t v = 0;
  for (int ch = 150; ch < 150 + 256; ++ch) {
    ASSERT_EQ(acc.igtchn(1, ch, v), 0);
    EXPECT_EQ(v, ch);
  }
  ASSERT_EQ(lib.reads.size(), 1u);
  EXPECT_EQ(lib.reads[0].first, 150);
  EXPECT_EQ(lib.reads[0].count, 256);
  EXPECT_EQ(lib.reads[0].rowcount, 0);
  ASSERT_EQ(acc.igtchn(1, 150 + 256, v), 0);
  EXPECT_EQ(v, 406);
  EXPECT_EQ(lib.reads.size(), 2u);
  // Back into the first block: a new read starting there.
  ASSERT_EQ(acc.igtchn(1, 200, v), 0);
  EXPECT_EQ(lib.reads.size(), 3u);
  EXPECT_EQ(lib.reads[2].first, 200);
}

TEST(Igtchn, EndOfSpectrum) {
  FakeLibrary lib;
  Access acc(lib);
  acc.opnspr(2, 0, 5);
  std::int32_t v = -1;
  ASSERT_EQ(acc.igtchn(2, 699, v), 0);  // base + size - 1
  EXPECT_EQ(v, 699);
  EXPECT_EQ(lib.reads.back().count, 1);
  v = -1;
  EXPECT_EQ(acc.igtchn(2, 700, v), notopn);
  EXPECT_EQ(acc.igtchn(2, 99, v), notopn);
  EXPECT_EQ(acc.igtchn(2, -2147483647 - 1, v), notopn);
  EXPECT_EQ(v, -1);
  EXPECT_EQ(lib.reads.size(), 1u);
}

TEST(Access, StreamStatusesStopTheProgram) {
  FakeLibrary lib;
  Access acc(lib);
  std::int32_t v = 0;
  int a = 0, b = 0, c = 0, d = 0, e = 0, f = 0;
  float k = 0;
  EXPECT_EQ(stopped_with([&] { acc.opnspr(0, 0, 1); }), badstr);
  EXPECT_EQ(stopped_with([&] { acc.opnspw(4, 0, 1); }), badstr);
  EXPECT_EQ(stopped_with([&] { acc.igtchn(4, 100, v); }), badstr);
  EXPECT_EQ(stopped_with([&] { acc.igtchn(1, 100, v); }), notopn);
  EXPECT_EQ(stopped_with([&] { acc.iptchn(1, 100, 3); }), notopn);
  EXPECT_EQ(stopped_with([&] { acc.infsp(1, a, b, c, d, e, f); }), notopn);
  EXPECT_EQ(stopped_with([&] { acc.presp(3, k); }), notopn);
  EXPECT_EQ(stopped_with([&] { acc.igtpnt(1, 100, 0, v); }), notopn);
  acc.opnspr(1, 0, 1);
  EXPECT_EQ(stopped_with([&] { acc.opnspr(1, 0, 1); }), isopn);
  EXPECT_EQ(stopped_with([&] { acc.opnspw(1, 0, 1); }), isopn);
  lib.fail_sread = 77;
  EXPECT_EQ(stopped_with([&] { acc.igtchn(1, 100, v); }), 77);
  // Close entries never stop.
  EXPECT_EQ(acc.clsspr(9), 0);
  EXPECT_EQ(acc.clsspw(-1), 0);
  EXPECT_EQ(acc.clsspw(2), 0);
  EXPECT_EQ(acc.clsspr(1), 0);
  EXPECT_EQ(stopped_with([&] { acc.igtchn(1, 100, v); }), notopn);
  EXPECT_EQ(acc.opnspr(1, 0, 1), 0);
  EXPECT_EQ(spectrum::xaif1(), 0);
  EXPECT_EQ(spectrum::xaif11(), 0);
}

TEST(Iptchn, TwoChannelsOneBlockZerosElsewhere) {
  FakeLibrary lib;
  lib.base = 0;
  lib.size = 100;
  Access acc(lib);
  ASSERT_EQ(acc.opnspw(3, 0, 9), 0);
  ASSERT_EQ(acc.iptchn(3, 10, 42), 0);
  ASSERT_EQ(acc.iptchn(3, 20, -5), 0);
  EXPECT_EQ(acc.iptchn(3, 100, 1), notopn);
  EXPECT_TRUE(lib.writes.empty());
  ASSERT_EQ(acc.clsspw(3), 0);
  ASSERT_EQ(lib.writes.size(), 1u);
  const Call& w = lib.writes[0];
  EXPECT_EQ(w.first, 10);
  EXPECT_EQ(w.count, 90);
  std::vector<std::int32_t> want(90, 0);
  want[0] = 42;
  want[10] = -5;
  EXPECT_EQ(w.values, want);
  EXPECT_EQ(lib.maxes_written, 1);
  EXPECT_EQ(lib.max_small, -5);
  EXPECT_EQ(lib.max_large, 42);
  // Closed: a second close does nothing.
  EXPECT_EQ(acc.clsspw(3), 0);
  EXPECT_EQ(lib.writes.size(), 1u);
}

TEST(Iptchn, LeavingTheBlockWritesItAndStartsAFreshOne) {
  FakeLibrary lib;
  Access acc(lib);
  acc.opnspw(1, 0, 9);
  acc.iptchn(1, 100, 1);
  acc.iptchn(1, 355, 2);  // last channel of the block
  EXPECT_TRUE(lib.writes.empty());
  acc.iptchn(1, 356, 3);
  ASSERT_EQ(lib.writes.size(), 1u);
  EXPECT_EQ(lib.writes[0].first, 100);
  EXPECT_EQ(lib.writes[0].count, 256);
  EXPECT_EQ(lib.writes[0].values[255], 2);
  acc.clsspw(1);
  ASSERT_EQ(lib.writes.size(), 2u);
  EXPECT_EQ(lib.writes[1].first, 356);
  EXPECT_EQ(lib.writes[1].count, 256);
  EXPECT_EQ(lib.writes[1].values[0], 3);
  EXPECT_EQ(lib.writes[1].values[1], 0);
  EXPECT_EQ(lib.max_small, 0);  // the extremes start at 0
  EXPECT_EQ(lib.max_large, 3);
}

TEST(Clsspr, DropsAnUnwrittenBlock) {
  FakeLibrary lib;
  Access acc(lib);
  acc.opnspw(1, 0, 9);
  acc.iptchn(1, 120, 8);
  EXPECT_EQ(acc.clsspr(1), 0);
  EXPECT_TRUE(lib.writes.empty());
  EXPECT_EQ(lib.maxes_written, 0);
}

TEST(Infsp, GeometryAndExtremes) {
  FakeLibrary lib;
  lib.rowbase = 5;  // ignored while rows is 0
  Access acc(lib);
  acc.opnspr(1, 0, 1);
  int base = 0, size = 0, small = 0, large = 0, rowbase = -1, rows = -1;
  ASSERT_EQ(acc.infsp(1, base, size, small, large, rowbase, rows), 0);
  EXPECT_EQ(base, 100);
  EXPECT_EQ(size, 600);
  EXPECT_EQ(small, -3);
  EXPECT_EQ(large, 9999);
  EXPECT_EQ(rowbase, 0);
  EXPECT_EQ(rows, 0);
  float kind = 0;
  ASSERT_EQ(acc.presp(1, kind), 0);
  EXPECT_EQ(kind, 7.0f);

  lib.rows = 4;
  acc.opnspr(2, 0, 2);
  acc.infsp(2, base, size, small, large, rowbase, rows);
  EXPECT_EQ(rowbase, 5);
  EXPECT_EQ(rows, 4);
}

TEST(Points, ReadAndWriteOneRowPerBlock) {
  FakeLibrary lib;
  lib.rowbase = 2;
  lib.rows = 3;  // rows 2, 3, 4
  Access acc(lib);
  acc.opnspr(1, 0, 1);
  std::int32_t v = 0;
  ASSERT_EQ(acc.igtpnt(1, 150, 3, v), 0);
  EXPECT_EQ(v, 3150);
  ASSERT_EQ(acc.igtpnt(1, 151, 3, v), 0);
  EXPECT_EQ(v, 3151);
  ASSERT_EQ(lib.reads.size(), 1u);
  EXPECT_EQ(lib.reads[0].firstrow, 3);
  EXPECT_EQ(lib.reads[0].rowcount, 1);
  ASSERT_EQ(acc.igtpnt(1, 151, 4, v), 0);  // same channels, other row
  EXPECT_EQ(v, 4151);
  EXPECT_EQ(lib.reads.size(), 2u);
  EXPECT_EQ(acc.igtpnt(1, 150, 5, v), notopn);
  EXPECT_EQ(acc.igtpnt(1, 150, 1, v), notopn);

  acc.opnspw(2, 0, 1);
  ASSERT_EQ(acc.iptpnt(2, 100, 2, 11), 0);
  ASSERT_EQ(acc.iptpnt(2, 101, 2, 12), 0);
  EXPECT_TRUE(lib.writes.empty());
  ASSERT_EQ(acc.iptpnt(2, 101, 4, 13), 0);
  ASSERT_EQ(lib.writes.size(), 1u);
  EXPECT_EQ(lib.writes[0].firstrow, 2);
  EXPECT_EQ(lib.writes[0].rowcount, 1);
  EXPECT_EQ(lib.writes[0].values[1], 12);
  EXPECT_EQ(acc.iptpnt(2, 101, 6, 13), notopn);
  acc.clsspw(2);
  ASSERT_EQ(lib.writes.size(), 2u);
  EXPECT_EQ(lib.writes[1].first, 101);
  EXPECT_EQ(lib.writes[1].firstrow, 4);
  EXPECT_EQ(lib.writes[1].rowcount, 1);
  EXPECT_EQ(lib.writes[1].values[0], 13);
}

TEST(Newsp, DefinesAndReturnsTheIdentifier) {
  FakeLibrary lib;
  Access acc(lib);
  int id1 = 0, id2 = 0;
  ASSERT_EQ(acc.newsp(id1, id2, 10, 4096, 2, "lbl", 3), 0);
  EXPECT_EQ(id1, 0x12);
  EXPECT_EQ(id2, 0x34);
  EXPECT_EQ(lib.def_base, 10);
  EXPECT_EQ(lib.def_size, 4096);
  EXPECT_EQ(lib.def_rows, 0);
  EXPECT_EQ(lib.def_kind, 2);
  ASSERT_EQ(acc.newsp2(id1, id2, 0, 64, 1, 64, 0, "", 0), 0);
  EXPECT_EQ(lib.def_rowbase, 1);
  EXPECT_EQ(lib.def_rows, 64);
}

}  // namespace
