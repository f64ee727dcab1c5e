// Readers within bounds: memory that follows the counts produced (checked
// under an address-space limit in a child), the cap on the channels of one
// import, and N42 files of many spectra (calibrations found by reference and
// beside the spectra, names numbered) read in one pass.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tools/reader.h"

namespace {

using tavrick::tools::Bytes;
using tavrick::tools::ReadError;
using tavrick::tools::ReadOptions;

Bytes bytes(const std::string& s) {
  return Bytes(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

// Current size of this process's address space in bytes.
std::size_t address_space() {
  std::ifstream f("/proc/self/statm");
  std::size_t pages = 0;
  f >> pages;
  return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Runs read in a child whose address space may grow by at most `room`
// bytes; the child's exit status: 0 when read returned or threw a ReadError,
// 3 when memory ran out.
int within(std::size_t room, const std::function<void()>& read) {
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit lim{address_space() + room, address_space() + room};
    if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(4);
    try {
      read();
    } catch (const ReadError&) {
    } catch (const std::bad_alloc&) {
      _exit(3);
    }
    _exit(0);
  }
  int ws = 0;
  waitpid(pid, &ws, 0);
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

std::string n42(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<N42InstrumentData><Measurement>\n" + body +
         "</Measurement></N42InstrumentData>\n";
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += s;
  return out;
}

TEST(Bounds, MemoryFollowsTheCountsProduced) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limits";
#endif
  const std::string blank(25000000, '\n');
  std::string ones;
  for (int k = 0; k < 1000000; ++k) ones += "1\n";
  const std::string zeroes =
      n42(repeat("<Spectrum Detector=\"D\"><ChannelData Compression=\"CountedZeroes\">0 4194303 "
                 "1</ChannelData></Spectrum>\n",
                 400));
  // Room in MB beyond what the process holds at the start.
  const struct {
    const char* what;
    std::size_t mb;
    std::function<void()> read;
  } cases[] = {
      {"25 MB of blank lines", 100, [&] { tavrick::tools::read_text(bytes(blank), "nl.txt"); }},
      {"25 MB of blank lines as CSV", 100,
       [&] { tavrick::tools::read_csv(bytes(blank), "nl.csv"); }},
      {"25 MB of blank lines as a matrix", 100,
       [&] { tavrick::tools::read_matrix(bytes(blank), "nl.mat"); }},
      {"a million counts", 100, [&] { tavrick::tools::read_text(bytes(ones), "ones.txt"); }},
      // Refused at the cap: 2^26 counts of 4 bytes, in 16 spectra, before
      // the 17th (the 400 would need 6.7 GB).
      {"400 spectra of 4 million counted zeroes", 400,
       [&] { tavrick::tools::read_n42(bytes(zeroes), "z.n42", ReadOptions{}); }},
  };
  for (const auto& c : cases) EXPECT_EQ(within(c.mb << 20, c.read), 0) << c.what;
}

TEST(Bounds, ChannelsOfOneImportAreCapped) {
  const std::string one =
      "<Spectrum Detector=\"D\"><ChannelData Compression=\"CountedZeroes\">0 4194303 "
      "1</ChannelData></Spectrum>\n";
  // 16 spectra of 4194304 channels are exactly the cap; a 17th passes it.
  EXPECT_EQ(tavrick::tools::read_n42(bytes(n42(repeat(one, 16))), "z.n42", ReadOptions{}).size(),
            16u);
  try {
    tavrick::tools::read_n42(bytes(n42(repeat(one, 17))), "z.n42", ReadOptions{});
    ADD_FAILURE() << "17 spectra accepted";
  } catch (const ReadError& e) {
    EXPECT_EQ(std::string(e.what()).find("z.n42: byte "), 0u) << e.what();
    EXPECT_NE(
        std::string(e.what()).find("the import would hold more than 67108864 channels in all"),
        std::string::npos)
        << e.what();
  }
  // What earlier files of the import took is not available again.
  ReadOptions rest;
  rest.max_channels = 10;
  EXPECT_THROW(tavrick::tools::read_n42(bytes(n42("<Spectrum><ChannelData Compression="
                                                  "\"CountedZeroes\">0 11</ChannelData>"
                                                  "</Spectrum>")),
                                        "z.n42", rest),
               ReadError);
}

TEST(Bounds, ManyN42SpectraInOnePass) {
  // 16,000 measurements of detector A (calibration beside them), and of
  // detectors named like their numbered names.
  std::string body =
      "<Calibration Type=\"Energy\" ID=\"e1\"><Equation><Coefficients>1 2</Coefficients>"
      "</Equation></Calibration>\n"
      "<Calibration Type=\"Energy\" ID=\"e2\"><Equation><Coefficients>3 4</Coefficients>"
      "</Equation></Calibration>\n";
  body += "<Spectrum Detector=\"A_3\"><ChannelData>1</ChannelData></Spectrum>\n";
  body += repeat("<Spectrum Detector=\"A\"><ChannelData>1 2</ChannelData></Spectrum>\n", 16000);
  body +=
      "<Spectrum Detector=\"B\" CalibrationIDs=\"x e2\"><ChannelData>5</ChannelData>"
      "</Spectrum>\n";
  const auto got = tavrick::tools::read_n42(bytes(n42(body)), "many.n42", ReadOptions{});
  ASSERT_EQ(got.size(), 16002u);
  EXPECT_EQ(got[0].name, "many_A_3");
  EXPECT_EQ(got[1].name, "many_A");
  EXPECT_EQ(got[2].name, "many_A_2");
  EXPECT_EQ(got[3].name, "many_A_4");  // _3 is the detector's own name
  EXPECT_EQ(got[16000].name, "many_A_16001");
  EXPECT_EQ(got[1].calibration, "POLY keV 1 2");  // the first beside the spectra
  EXPECT_EQ(got[16001].name, "many_B");
  EXPECT_EQ(got[16001].calibration, "POLY keV 3 4");  // by reference
}

}  // namespace
