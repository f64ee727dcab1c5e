// The format interpreter against formats written to make it work without end:
// repeat counts are capped one by one, but nested groups multiply them.
#include <gtest/gtest.h>

#include <string>

#include "format/fortran.h"

namespace {

// Nested groups of empty passes ran 10^12 times (a hang found by the format
// fuzz target); the work of one statement is now bounded.
TEST(HostileFormat, NestedEmptyGroupsEndPromptly) {
  EXPECT_EQ(fortran::format(fortran::Format::runtime("(10000(10000(10000())))")), "\n");
  EXPECT_EQ(fortran::format(fortran::Format::runtime("(//44454(4444()){")), "\n\n\n");
}

// A literal in nested groups was written 10^12 times; the text of one
// statement now stops at a megabyte.
TEST(HostileFormat, NestedRepeatedLiteralStopsAtAMegabyte) {
  const std::string text = fortran::format(fortran::Format::runtime("(10000(10000(10000('x'))))"));
  EXPECT_LE(text.size(), std::size_t{1} << 21);
  EXPECT_GE(text.size(), std::size_t{1} << 20);
  EXPECT_EQ(text.find_first_not_of('x'), text.size() - 1);
}

// Blanks of nested nX groups pile up until something follows them: they too
// stop at the bound of one statement.
TEST(HostileFormat, NestedSkipsBeforeALiteralStayBounded) {
  const std::string text = fortran::format(fortran::Format::runtime("(10000(10000(1000X)),'y')"));
  EXPECT_LE(text.size(), std::size_t{1} << 21);
}

}  // namespace
