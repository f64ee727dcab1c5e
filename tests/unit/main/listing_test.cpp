// The result listing's value conversion and line layout.
#include "main/listing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using tavrick::list_line;
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

TEST(ListLine, LaysOutStartCountAndValues) {
  std::vector<char> buf(tavrick::kListLineBytes);
  std::vector<double> v(10, 0.0);
  v[5] = 12.7;
  v[6] = -0.4;
  v[7] = -1.6;
  const std::size_t n = list_line(buf.data(), 5, 3, v.data());
  EXPECT_EQ(std::string(buf.data(), n),
            " {{           5           3 } {          12           0          -1 }} \n");
}

TEST(ListLine, FullWindowFillsTheBufferExactly) {
  // 65536 channels from channel 0, each at the widest value.
  std::vector<char> buf(tavrick::kListLineBytes);
  std::vector<double> v(tavrick::kChanArray, std::nan(""));
  const std::size_t n = list_line(buf.data(), 0, tavrick::kMaxCh, v.data());
  EXPECT_EQ(n, 3 + 24 + 4 + 12 * static_cast<std::size_t>(tavrick::kMaxCh) + 5);
  EXPECT_LE(n, buf.size());
  EXPECT_EQ(std::string(buf.data() + n - 17, 17), " -2147483648 }} \n");
}

}  // namespace
