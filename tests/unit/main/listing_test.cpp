// The result listing's value conversion and line layout.
#include "main/listing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "engine/fitdefs.h"

namespace {

using tavrick::list_value;

TEST(ListValue, TruncatesTowardZero) {
  EXPECT_EQ(list_value(12.7), 12);
  EXPECT_EQ(list_value(-0.4), 0);
  EXPECT_EQ(list_value(-1.6), -1);
  EXPECT_EQ(list_value(2147483647.9), 2147483647);
  EXPECT_EQ(list_value(-2147483648.9), -2147483647 - 1);
}

TEST(ListValue, UnrepresentableGivesMostNegative) {
  const std::int32_t most_negative = std::numeric_limits<std::int32_t>::min();
  EXPECT_EQ(list_value(std::nan("")), most_negative);
  EXPECT_EQ(list_value(2147483648.0), most_negative);
  EXPECT_EQ(list_value(-2147483649.0), most_negative);
  EXPECT_EQ(list_value(HUGE_VAL), most_negative);
  EXPECT_EQ(list_value(-HUGE_VAL), most_negative);
}

// A list line as the front end reads it, built with printf's %12d: the
// chunked writer must give these bytes for any window length.
std::string expected_line(int ilo, int nchan, const std::vector<double>& v) {
  char f[16];
  std::string s = " {{";
  for (int n : {ilo, nchan}) {
    std::snprintf(f, sizeof f, "%12d", n);
    s += f;
  }
  s += " } {";
  for (int i = ilo; i < ilo + nchan; ++i) {
    std::snprintf(f, sizeof f, "%12d", list_value(v[static_cast<std::size_t>(i)]));
    s += f;
  }
  return s + " }} \n";
}

class WriteList : public ::testing::Test {
 protected:
  // What write_list puts on a stream, and whether it reported success.
  std::string written(int ilo, int nchan, const std::vector<double>& v, bool& ok) {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* f = open_memstream(&data, &size);
    ok = tavrick::write_list(f, ilo, nchan, v.data());
    std::fclose(f);
    std::string s(data, size);
    std::free(data);
    return s;
  }
};

TEST_F(WriteList, LaysOutStartCountAndValues) {
  std::vector<double> v(10, 0.0);
  v[5] = 12.7;
  v[6] = -0.4;
  v[7] = -1.6;
  bool ok = false;
  EXPECT_EQ(written(5, 3, v, ok),
            " {{           5           3 } {          12           0          -1 }} \n");
  EXPECT_TRUE(ok);
}

TEST_F(WriteList, EveryLengthAroundTheChunksGivesTheSameBytes) {
  // Values of every width, NaN and out-of-range ones included.
  std::vector<double> v(tavrick::kChanArray);
  for (std::size_t i = 0; i < v.size(); ++i) {
    const double x = static_cast<double>(i);
    v[i] = i % 7 == 0 ? std::nan("") : (i % 2 == 0 ? 1.0 : -1.0) * x * x * x * 0.37;
  }
  const int c = tavrick::kListChunk;
  const struct {
    int ilo, nchan;
  } windows[] = {
      {0, 1},         {3, c - 1},           {3, c},     {3, c + 1},          {100, 2 * c},
      {7, 2 * c + 5}, {0, tavrick::kMaxCh}, {65535, 1}, {1, tavrick::kMaxCh}};
  for (const auto& w : windows) {
    bool ok = false;
    const std::string got = written(w.ilo, w.nchan, v, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(got.size(), 3 + 24 + 4 + 12 * static_cast<std::size_t>(w.nchan) + 5);
    EXPECT_TRUE(got == expected_line(w.ilo, w.nchan, v)) << "ilo " << w.ilo << " nchan " << w.nchan;
  }
}

TEST_F(WriteList, FailedStreamIsReported) {
  std::vector<double> v(tavrick::kChanArray, 1.0);
  std::FILE* f = std::fopen("/dev/null", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(tavrick::write_list(f, 0, 3 * tavrick::kListChunk, v.data()));
  std::fclose(f);
}

}  // namespace
