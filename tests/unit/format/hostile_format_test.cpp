// The format interpreter against formats written to make it work without end:
// repeat counts are capped one by one, but nested groups multiply them.
#include <gtest/gtest.h>

#include <string>

#include "format/fortran.h"

namespace {

// Disabled until the interpreter bounds the work of one statement: nested
// groups of empty passes ran 10^12 times (a hang found by the format fuzz
// target).
TEST(HostileFormat, DISABLED_NestedEmptyGroupsEndPromptly) {
  EXPECT_EQ(fortran::format("(10000(10000(10000())))"), "\n");
  EXPECT_EQ(fortran::format("(//44454(4444()){"), "\n\n\n");
}

// Disabled until the interpreter bounds the text of one statement: a literal
// in nested groups was written 10^12 times.
TEST(HostileFormat, DISABLED_NestedRepeatedLiteralStopsAtAMegabyte) {
  const std::string text = fortran::format("(10000(10000(10000('x'))))");
  EXPECT_LE(text.size(), std::size_t{1} << 21);
  EXPECT_GE(text.size(), std::size_t{1} << 20);
  EXPECT_EQ(text.find_first_not_of('x'), text.size() - 1);
}

}  // namespace
