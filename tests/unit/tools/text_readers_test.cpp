// Text, CSV and matrix readers, the calibration text, and read_file's checks.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/process.h"
#include "tools/reader.h"

namespace {

using tavrick::tools::Bytes;
using tavrick::tools::Format;
using tavrick::tools::ReadError;

Bytes bytes(const std::string& s) {
  return Bytes(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

// The message of the ReadError a call throws, or "" when it throws none.
template <class F>
std::string failure(F f) {
  try {
    f();
  } catch (const ReadError& e) {
    return e.what();
  }
  return "";
}

TEST(ReadText, PairsTakeTheFirstChannelAsBase) {
  const std::string s = "# Eu-152 test\r\n\n5 10\r\n6 -2 # trailing note\n7 1.2e3\n  8\t0\n";
  const auto v = tavrick::tools::read_text(bytes(s), "dir/eu.txt");
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].name, "eu");
  EXPECT_EQ(v[0].title, "Eu-152 test");
  EXPECT_EQ(v[0].base, 5);
  EXPECT_EQ(v[0].size, 4);
  EXPECT_EQ(v[0].rows, 0);
  EXPECT_EQ(v[0].counts, (std::vector<std::int32_t>{10, -2, 1200, 0}));
}

TEST(ReadText, OneCountPerLineStartsAtChannelZero) {
  const auto v = tavrick::tools::read_text(bytes("3\n4\n+5\n2147483647"), "c.txt");
  EXPECT_EQ(v[0].base, 0);
  EXPECT_EQ(v[0].counts, (std::vector<std::int32_t>{3, 4, 5, 2147483647}));
}

TEST(ReadText, RefusalsNameTheFileAndLine) {
  auto read = [](const std::string& s) {
    return failure([&] { tavrick::tools::read_text(bytes(s), "f.txt"); });
  };
  EXPECT_EQ(read("0 1\n1 2\n3 4\n"),
            "f.txt: line 3: channel 3 follows channel 1 (channels must rise by one, without gaps)");
  EXPECT_EQ(read("0 1\n0 2\n"),
            "f.txt: line 2: channel 0 follows channel 0 (channels must rise by one, without gaps)");
  EXPECT_EQ(read("0 1\n1 2.5\n"),
            "f.txt: line 2: count '2.5' is not a whole number within 32 bits");
  EXPECT_EQ(read("0 1\n1 2147483648\n"),
            "f.txt: line 2: count '2147483648' is not a whole number within 32 bits");
  EXPECT_EQ(read("0 1\n1 abc\n"), "f.txt: line 2: count 'abc' is not a number");
  EXPECT_EQ(read("0 1\n7\n"),
            "f.txt: line 2: one value where the file so far had channel and count pairs");
  EXPECT_EQ(read("7\n0 1\n"),
            "f.txt: line 2: a channel and a count where the file so far had one count per line");
  EXPECT_EQ(read("1 2 3\n"),
            "f.txt: line 1: 3 values on a line: expected a count or a channel and a count");
  EXPECT_EQ(read("# only a comment\n\n"), "f.txt: no counts in the file (2 lines)");
  EXPECT_EQ(read(""), "f.txt: no counts in the file (0 lines)");
  EXPECT_EQ(read(std::string("0 1\n1 \0\x01\n", 10)),
            "f.txt: line 2: binary data (NUL byte) in a text file");
  EXPECT_EQ(read("0 1\n1 \xff\xfe\n"),
            "f.txt: line 2: count '?"
            "?' is not a number");
}

TEST(ReadCsv, HeaderAndChannelColumn) {
  const auto v = tavrick::tools::read_csv(bytes("channel,counts\n10, 4\n11,5\n12 ,6\n"), "a.csv");
  EXPECT_EQ(v[0].base, 10);
  EXPECT_EQ(v[0].counts, (std::vector<std::int32_t>{4, 5, 6}));
}

TEST(ReadCsv, EnergyColumnIsNotAChannel) {
  const auto v = tavrick::tools::read_csv(bytes("Energy, Data\n0.37,1\n0.55,2\n0.73,3\n"), "e.csv");
  EXPECT_EQ(v[0].base, 0);
  EXPECT_EQ(v[0].counts, (std::vector<std::int32_t>{1, 2, 3}));
}

TEST(ReadCsv, OneColumnAndRefusals) {
  EXPECT_EQ(tavrick::tools::read_csv(bytes("7\n8\n"), "o.csv")[0].counts,
            (std::vector<std::int32_t>{7, 8}));
  auto read = [](const std::string& s) {
    return failure([&] { tavrick::tools::read_csv(bytes(s), "b.csv"); });
  };
  EXPECT_EQ(read("0,1\n1,2\n2,3,4\n"),
            "b.csv: line 3: 3 columns: expected a count or a channel and a count");
  EXPECT_EQ(read("0,1\n1\n"), "b.csv: line 2: 1 columns where the file has 2");
  EXPECT_EQ(read("0,1\n2,2\n"),
            "b.csv: line 2: channel 2 follows channel 0 (channels must rise by one, without gaps)");
  EXPECT_EQ(read("a,b\nc,d\n"), "b.csv: line 2: 'c' is not a number");
  EXPECT_EQ(read("channel,count\n"), "b.csv: no counts in the file (1 lines)");
}

TEST(ReadMatrix, RowsOfEqualLength) {
  const auto v = tavrick::tools::read_matrix(bytes("# m\n1 2 3\n4 5 6\n\n7,8,9\n"), "m.txt");
  EXPECT_EQ(v[0].size, 3);
  EXPECT_EQ(v[0].rows, 3);
  EXPECT_EQ(v[0].counts, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(failure([] { tavrick::tools::read_matrix(bytes("1 2 3\n4 5\n"), "m.txt"); }),
            "m.txt: line 2: row of 2 counts where the rows before have 3");
}

TEST(CalibrationText, PolynomialWithUnit) {
  EXPECT_EQ(tavrick::tools::calibration_text({0.33973, 0.18297, 5.5683e-9}, "keV"),
            "POLY keV 0.33972999999999998 0.18296999999999999 5.5683000000000003e-09");
  EXPECT_EQ(tavrick::tools::calibration_text({1, 2}, ""), "POLY - 1 2");
  EXPECT_EQ(tavrick::tools::calibration_text({1, 2}, "k eV"), "POLY k_eV 1 2");
}

TEST(ReadFile, ReadsThroughTheGivenFormat) {
  testsupport::TempDir dir;
  const std::string path = dir.path + "/s.dat";
  std::ofstream(path) << "0 5\n1 6\n";
  const auto v = tavrick::tools::read_file(path, Format::Text, {});
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].name, "s");
  EXPECT_EQ(v[0].counts, (std::vector<std::int32_t>{5, 6}));
  const std::string missing = dir.path + "/none.txt";
  EXPECT_EQ(failure([&] { tavrick::tools::read_file(missing, Format::Text, {}); }),
            missing + ": cannot open: No such file or directory");
  EXPECT_EQ(failure([&] { tavrick::tools::read_file(dir.path, Format::Text, {}); }),
            dir.path + ": not a regular file");
}

}  // namespace
