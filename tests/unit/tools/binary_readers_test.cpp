// Readers of the measured spectra in data/: channel count, total counts and
// the highest channel must match the figures recorded with the files, and
// damaged or mislabelled copies must be refused with the file and place named.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "spectrum/calibration.h"
#include "tools/reader.h"

namespace {

using tavrick::tools::Bytes;
using tavrick::tools::Format;
using tavrick::tools::Imported;
using tavrick::tools::ReadError;
using tavrick::tools::ReadOptions;
using Buffer = std::vector<unsigned char>;

std::string path_of(const std::string& name) {
  return std::string(TAVRICK_SOURCE_DIR "/data/") + name;
}

Buffer load(const std::string& name) {
  std::ifstream in(path_of(name), std::ios::binary);
  EXPECT_TRUE(in.good()) << path_of(name);
  return Buffer(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Buffer from_text(const std::string& s) { return Buffer(s.begin(), s.end()); }

using Reader = std::function<std::vector<Imported>(Bytes, const std::string&)>;

const Reader kIaea = tavrick::tools::read_iaea_spe;
const Reader kChn = tavrick::tools::read_chn;
const Reader kRadware = tavrick::tools::read_radware_spe;
const Reader kCnf = tavrick::tools::read_cnf;
const Reader kN42 = [](Bytes b, const std::string& f) {
  return tavrick::tools::read_n42(b, f, ReadOptions{});
};

struct Summary {
  int channels;
  long long total;
  int argmax;
  int max_count;
};

Summary summarise(const Imported& s) {
  const auto top = std::max_element(s.counts.begin(), s.counts.end());  // first of ties
  return {s.size, std::accumulate(s.counts.begin(), s.counts.end(), 0LL),
          static_cast<int>(top - s.counts.begin()), *top};
}

// Largest count's index inside [lo, hi].
int peak_in(const Imported& s, int lo, int hi) {
  const auto first = s.counts.begin() + lo;
  return lo + static_cast<int>(std::max_element(first, s.counts.begin() + hi + 1) - first);
}

// The reader must throw ReadError whose message holds every one of `parts`.
void expect_refused(const Reader& read,
                    const Buffer& bytes,
                    const std::string& file,
                    const std::vector<std::string>& parts) {
  try {
    read(Bytes(bytes), file);
    ADD_FAILURE() << file << ": accepted";
  } catch (const ReadError& e) {
    const std::string msg = e.what();
    for (const std::string& p : parts) {
      EXPECT_NE(msg.find(p), std::string::npos) << "message '" << msg << "' lacks '" << p << "'";
    }
  }
}

void put_u32(Buffer& b, std::size_t at, std::uint32_t v, bool big = false) {
  for (std::size_t k = 0; k < 4; ++k) {
    b[big ? at + 3 - k : at + k] = static_cast<unsigned char>(v >> (8 * k));
  }
}

// A RadWare file of float counts in either byte order.
Buffer radware_file(const std::vector<float>& counts, bool big) {
  const std::size_t n = counts.size();
  Buffer b(40 + 4 * n, 0);
  put_u32(b, 0, 24, big);
  std::memcpy(&b[4], "test    ", 8);
  put_u32(b, 12, static_cast<std::uint32_t>(n), big);
  for (std::size_t k = 16; k < 28; k += 4) put_u32(b, k, 1, big);
  put_u32(b, 28, 24, big);
  put_u32(b, 32, static_cast<std::uint32_t>(4 * n), big);
  for (std::size_t k = 0; k < n; ++k) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &counts[k], 4);
    put_u32(b, 36 + 4 * k, bits, big);
  }
  put_u32(b, 36 + 4 * n, static_cast<std::uint32_t>(4 * n), big);
  return b;
}

TEST(Readers, RealFilesGiveRecordedChannelsTotalAndPeak) {
  struct Case {
    const char* file;
    Reader read;
    Summary want;
  };
  const std::vector<Case> cases = {
      {"radware_eu152_be.spe", kRadware, {4096, 7979595, 195, 482745}},
      {"radware_demo_le.spe", kRadware, {4096, 13069569, 724, 41580}},
      {"ortec_eu152_hpge.Chn", kChn, {16384, 4433622, 217, 80433}},
      {"iaea_co60_lowres.spe", kIaea, {2048, 97236, 97, 411}},
      {"iaea_cs137_lowres.spe", kIaea, {2048, 29134, 283, 443}},
      {"canberra_hpge_beach_bkg.cnf", kCnf, {4096, 683658, 332, 3357}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto got = c.read(Bytes(load(c.file)), path_of(c.file));
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].counts.size(), static_cast<std::size_t>(got[0].size));
    EXPECT_EQ(got[0].rows, 0);
    const Summary s = summarise(got[0]);
    EXPECT_EQ(s.channels, c.want.channels);
    EXPECT_EQ(s.total, c.want.total);
    EXPECT_EQ(s.argmax, c.want.argmax);
    EXPECT_EQ(s.max_count, c.want.max_count);
  }
}

// Times and FWHM calibrations as the files state them (data/PROVENANCE.md).
TEST(Readers, RealFilesGiveTimesAndFwhmCalibrations) {
  using Var = spectrum::FwhmCalibration::Variable;
  struct Case {
    const char* file;
    Reader read;
    std::size_t index;  // spectrum of the file
    double live, real;
    const char* unit;  // FWHM unit, nullptr when the file has no FWHM calibration
    Var variable;
    std::vector<double> fwhm;
  };
  const std::vector<Case> cases = {
      {"ortec_eu152_hpge.Chn",
       kChn,
       0,
       2289,
       2454,
       "ch",
       Var::Channel,
       {0.084794549771, -2.00983348166, 4.51401388377}},
      {"iaea_cs137_lowres.spe", kIaea, 0, 28, 29, nullptr, Var::Channel, {}},
      {"iaea_co60_lowres.spe", kIaea, 0, 96, 97, nullptr, Var::Channel, {}},
      {"n42_2006_ba133_hpge_8det.n42",
       kN42,
       0,
       629.17,
       639.92,
       "ch",
       Var::Channel,
       {6.220468, 0.0005996688, -1.25688e-10}},
      {"n42_2006_ba133_hpge_8det.n42",
       kN42,
       7,
       631.80,
       639.91,
       "ch",
       Var::Channel,
       {6.909397, 0.0006717023, -1.74151e-08}},
      {"canberra_hpge_beach_bkg.cnf",
       kCnf,
       0,
       841.42,
       849.51,
       "keV",
       Var::SqrtEnergy,
       {0.36755, 0.048444}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " #" + std::to_string(c.index));
    const auto got = c.read(Bytes(load(c.file)), path_of(c.file));
    ASSERT_GT(got.size(), c.index);
    const Imported& s = got[c.index];
    EXPECT_NEAR(s.live_time, c.live, 5e-3);
    EXPECT_NEAR(s.real_time, c.real, 5e-3);
    if (c.unit == nullptr) {
      EXPECT_EQ(s.fwhm_calibration, "");
      continue;
    }
    spectrum::FwhmCalibration f;
    ASSERT_EQ(spectrum::parse_fwhm_calibration(s.fwhm_calibration, f), 0) << s.fwhm_calibration;
    EXPECT_EQ(f.unit, c.unit);
    EXPECT_EQ(f.variable, c.variable);
    ASSERT_EQ(f.coefficients.size(), c.fwhm.size());
    for (std::size_t k = 0; k < c.fwhm.size(); ++k)
      EXPECT_NEAR(f.coefficients[k], c.fwhm[k], 2e-5 * std::abs(c.fwhm[k])) << k;
  }
}

TEST(Readers, RealFilesNamedPeaks) {
  const auto eu = kRadware(Bytes(load("radware_eu152_be.spe")), "radware_eu152_be.spe")[0];
  EXPECT_EQ(peak_in(eu, 540, 560), 551);
  EXPECT_EQ(peak_in(eu, 2240, 2265), 2253);
  const auto chn = kChn(Bytes(load("ortec_eu152_hpge.Chn")), "ortec_eu152_hpge.Chn")[0];
  EXPECT_EQ(peak_in(chn, 650, 680), 664);
  EXPECT_EQ(peak_in(chn, 7680, 7710), 7698);
  const auto co = kIaea(Bytes(load("iaea_co60_lowres.spe")), "iaea_co60_lowres.spe")[0];
  EXPECT_EQ(peak_in(co, 460, 520), 488);
  EXPECT_EQ(peak_in(co, 521, 600), 553);
  const auto cnf = kCnf(Bytes(load("canberra_hpge_beach_bkg.cnf")), "x.cnf")[0];
  EXPECT_EQ(peak_in(cnf, 2020, 2045), 2032);
  EXPECT_EQ(peak_in(cnf, 3625, 3650), 3638);
}

TEST(Readers, N42EveryDetectorMatchesRecordedFigures) {
  const std::string file = path_of("n42_2006_ba133_hpge_8det.n42");
  const auto got = kN42(Bytes(load("n42_2006_ba133_hpge_8det.n42")), file);
  struct Want {
    const char* detector;
    double live, real;
    Summary s;
    int p81, p356;
  };
  const Want want[] = {
      {"A1", 629.17, 639.92, {16384, 305570, 430, 4481}, 430, 1896},
      {"A2", 624.46, 639.91, {16384, 423991, 431, 7538}, 431, 1894},
      {"A3", 626.91, 639.91, {16384, 364850, 430, 6716}, 430, 1890},
      {"A4", 630.55, 639.91, {16384, 248081, 434, 3504}, 434, 1907},
      {"B1", 628.92, 639.91, {16384, 301376, 430, 5039}, 430, 1892},
      {"B2", 626.59, 639.91, {16384, 385061, 433, 7049}, 433, 1903},
      {"B3", 627.22, 639.90, {16384, 370038, 433, 6315}, 433, 1907},
      {"B4", 631.80, 639.91, {16384, 222175, 1896, 3106}, 430, 1896},
  };
  ASSERT_EQ(got.size(), 8u);
  for (std::size_t k = 0; k < 8; ++k) {
    SCOPED_TRACE(want[k].detector);
    const Imported& s = got[k];
    EXPECT_EQ(s.name, std::string("n42_2006_ba133_hpge_8det_") + want[k].detector);
    const Summary g = summarise(s);
    EXPECT_EQ(g.channels, want[k].s.channels);
    EXPECT_EQ(g.total, want[k].s.total);
    EXPECT_EQ(g.argmax, want[k].s.argmax);
    EXPECT_EQ(g.max_count, want[k].s.max_count);
    EXPECT_EQ(peak_in(s, 400, 460), want[k].p81);
    EXPECT_EQ(peak_in(s, 1860, 1920), want[k].p356);
    EXPECT_DOUBLE_EQ(s.live_time, want[k].live);
    EXPECT_DOUBLE_EQ(s.real_time, want[k].real);
  }
  EXPECT_EQ(got[0].calibration,
            tavrick::tools::calibration_text({0.1401463, 0.187422, -2.07732e-09}, "keV"));
  EXPECT_EQ(got[0].title, "A1 HPGe 50% 2010-04-17T17:33:19.409Z live 629.17 s real 639.92 s");
}

TEST(Readers, N42DetectorOptionPicksOneOrRefuses) {
  const Buffer bytes = load("n42_2006_ba133_hpge_8det.n42");
  ReadOptions opt;
  opt.detector = "B4";
  const auto one = tavrick::tools::read_n42(Bytes(bytes), "port.n42", opt);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].name, "port_B4");
  EXPECT_EQ(summarise(one[0]).total, 222175);
  opt.detector = "C9";
  try {
    tavrick::tools::read_n42(Bytes(bytes), "port.n42", opt);
    ADD_FAILURE() << "unknown detector accepted";
  } catch (const ReadError& e) {
    EXPECT_NE(std::string(e.what()).find("port.n42"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("B4"), std::string::npos) << "should list detectors";
  }
}

TEST(Readers, N42In2012LayoutWithReferencesAndCountedZeroes) {
  const std::string xml =
      "<?xml version=\"1.0\"?>\n"
      "<RadInstrumentData xmlns=\"http://physics.nist.gov/N42/2011/N42\">\n"
      " <EnergyCalibration id=\"ec1\"><CoefficientValues>1.5 0.25 0</CoefficientValues>"
      "</EnergyCalibration>\n"
      " <RadMeasurement id=\"m1\">\n"
      "  <StartDateTime>2020-01-02T03:04:05Z</StartDateTime>\n"
      "  <RealTimeDuration>PT1M0.5S</RealTimeDuration>\n"
      "  <Spectrum id=\"s1\" radDetectorInformationReference=\"Ge 1\""
      " energyCalibrationReference=\"ec1\">\n"
      "   <LiveTimeDuration>PT59.5S</LiveTimeDuration>\n"
      "   <ChannelData compressionCode=\"CountedZeroes\">5 0 3 7 0 1 2</ChannelData>\n"
      "  </Spectrum>\n"
      "  <Spectrum id=\"s2\" radDetectorInformationReference=\"Ge 2\">\n"
      "   <ChannelData>1 2 3</ChannelData>\n"
      "  </Spectrum>\n"
      " </RadMeasurement>\n"
      "</RadInstrumentData>\n";
  const auto got = kN42(Bytes(from_text(xml)), "dir/run.n42");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].name, "run_Ge_1");
  EXPECT_EQ(got[0].counts, (std::vector<std::int32_t>{5, 0, 0, 0, 7, 0, 2}));
  EXPECT_EQ(got[0].size, 7);
  EXPECT_DOUBLE_EQ(got[0].real_time, 60.5);
  EXPECT_DOUBLE_EQ(got[0].live_time, 59.5);
  EXPECT_EQ(got[0].calibration, "POLY keV 1.5 0.25 0");
  EXPECT_EQ(got[0].title, "Ge 1 2020-01-02T03:04:05Z live 59.5 s real 60.5 s");
  EXPECT_EQ(got[1].name, "run_Ge_2");
  EXPECT_EQ(got[1].counts, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(got[1].calibration, "");
}

TEST(Refusal, N42DeepNestingIsRefusedWithoutExhaustingTheStack) {
  std::string xml = "<N42InstrumentData>";
  for (int k = 0; k < 300000; ++k) xml += "<a>";
  for (int k = 0; k < 300000; ++k) xml += "</a>";
  xml += "</N42InstrumentData>";
  expect_refused(kN42, from_text(xml), "deep.n42", {"deep.n42: byte 0:", "no spectrum"});
}

TEST(Readers, HeaderFieldsOfRealFiles) {
  const auto chn = kChn(Bytes(load("ortec_eu152_hpge.Chn")), "ortec_eu152_hpge.Chn")[0];
  EXPECT_EQ(chn.name, "ortec_eu152_hpge");
  EXPECT_DOUBLE_EQ(chn.live_time, 2289.0);
  EXPECT_DOUBLE_EQ(chn.real_time, 2454.0);
  EXPECT_EQ(chn.base, 0);
  // The file stores single-precision coefficients; they enter unchanged.
  EXPECT_EQ(chn.calibration, tavrick::tools::calibration_text(
                                 {static_cast<double>(0.33973f), static_cast<double>(0.18297f),
                                  static_cast<double>(5.5683e-9f)},
                                 "keV"));
  EXPECT_EQ(chn.title, "detector HPGE live 2289 s real 2454 s");

  const auto spe = kIaea(Bytes(load("iaea_co60_lowres.spe")), "iaea_co60_lowres.spe")[0];
  EXPECT_EQ(spe.base, 0);
  EXPECT_EQ(spe.title, "No sample description was entered. live 96 s real 97 s");
  EXPECT_EQ(spe.calibration, "") << "all-zero coefficients mean no calibration";

  const auto be = kRadware(Bytes(load("radware_eu152_be.spe")), "radware_eu152_be.spe")[0];
  EXPECT_EQ(be.title, "eu");
  EXPECT_LT(be.live_time, 0.0);

  const auto cnf = kCnf(Bytes(load("canberra_hpge_beach_bkg.cnf")), "beach.cnf")[0];
  EXPECT_EQ(cnf.base, 1) << "the first stored word is channel 1";
  EXPECT_NEAR(cnf.real_time, 849.51, 0.005);
  EXPECT_NEAR(cnf.live_time, 841.42, 0.005);
  EXPECT_EQ(cnf.title, "Sample title. live 841.42 s real 849.51 s");
  double c0 = 0.0;
  double c1 = 0.0;
  ASSERT_EQ(std::sscanf(cnf.calibration.c_str(), "POLY keV %lf %lf", &c0, &c1), 2)
      << cnf.calibration;
  EXPECT_NEAR(c0, -0.209713, 1e-6);
  EXPECT_NEAR(c1, 0.718993, 1e-6);
}

TEST(Readers, IaeaSeveralCountsPerLineAndMcaCalibration) {
  const std::string text =
      "$SPEC_ID:\nline one\n  line two\n$DATA:\n5 9\n1 2\t3\n4 +5.4\n"
      "$MCA_CAL:\n2\n1.0 0.5 MeV\n$ENER_FIT:\n9 9\n";
  const auto s = kIaea(Bytes(from_text(text)), "a.spe")[0];
  EXPECT_EQ(s.base, 5);
  EXPECT_EQ(s.counts, (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(s.calibration, "POLY MeV 1 0.5");
  EXPECT_EQ(s.title, "line one line two");
}

TEST(Readers, IaeaInUtf16) {
  const std::string ascii = "$SPEC_ID:\r\nwide\r\n$DATA:\r\n0 2\r\n7\r\n8\r\n9\r\n";
  for (const bool big : {false, true}) {
    Buffer wide = big ? Buffer{0xFE, 0xFF} : Buffer{0xFF, 0xFE};
    for (char c : ascii) {
      wide.push_back(big ? 0 : static_cast<unsigned char>(c));
      wide.push_back(big ? static_cast<unsigned char>(c) : 0);
    }
    EXPECT_EQ(tavrick::tools::detect_format(Bytes(wide), "w.txt"), Format::IaeaSpe);
    const auto s = kIaea(Bytes(wide), "w.spe")[0];
    EXPECT_EQ(s.counts, (std::vector<std::int32_t>{7, 8, 9}));
    EXPECT_EQ(s.title, "wide");
  }
}

TEST(Readers, RadwareRoundsFloatCountsInBothByteOrders) {
  const std::vector<float> counts = {0.4f, 2.5f, -1.5f, 7.0f, 1e6f};
  for (const bool big : {false, true}) {
    const auto s = kRadware(Bytes(radware_file(counts, big)), "r.spe")[0];
    EXPECT_EQ(s.counts, (std::vector<std::int32_t>{0, 3, -2, 7, 1000000}));
  }
  auto huge = radware_file({1e10f}, false);
  expect_refused(kRadware, huge, "h.spe", {"h.spe", "byte 36"});
}

TEST(Detect, EveryRealFileByContent) {
  const std::pair<const char*, Format> cases[] = {
      {"radware_eu152_be.spe", Format::RadwareSpe}, {"radware_demo_le.spe", Format::RadwareSpe},
      {"ortec_eu152_hpge.Chn", Format::Chn},        {"iaea_co60_lowres.spe", Format::IaeaSpe},
      {"iaea_cs137_lowres.spe", Format::IaeaSpe},   {"n42_2006_ba133_hpge_8det.n42", Format::N42},
      {"canberra_hpge_beach_bkg.cnf", Format::Cnf}, {"csv_csi_d3s_ba133_cs137.csv", Format::Csv},
  };
  for (const auto& [file, format] : cases) {
    SCOPED_TRACE(file);
    const Buffer bytes = load(file);
    EXPECT_EQ(tavrick::tools::detect_format(Bytes(bytes), file), format);
    // Content wins over a misleading extension.
    EXPECT_EQ(tavrick::tools::detect_format(Bytes(bytes), "renamed.spe"), format);
  }
}

TEST(Detect, ExtensionWhenContentIsSilentAndRefusals) {
  using tavrick::tools::detect_format;
  const Buffer junk = {0x01, 0x02, 0x03};
  EXPECT_EQ(detect_format(Bytes(junk), "x.CHN"), Format::Chn);
  EXPECT_EQ(detect_format(Bytes(junk), "x.cnf"), Format::Cnf);
  EXPECT_EQ(detect_format(Bytes(from_text("12\n13\n")), "x"), Format::Text);
  EXPECT_EQ(detect_format(Bytes(from_text("1 2 3\n4 5 6\n")), "x"), Format::Matrix);
  try {
    detect_format(Bytes(junk), "x.bin");
    ADD_FAILURE() << "unknown content accepted";
  } catch (const ReadError& e) {
    EXPECT_NE(std::string(e.what()).find("x.bin"), std::string::npos);
  }
  // The peak-fit results table beside the Eu-152 spectrum is not a spectrum.
  try {
    detect_format(Bytes(load("radware_eu152_gf3.sto")), "radware_eu152_gf3.sto");
    ADD_FAILURE() << "results table accepted";
  } catch (const ReadError& e) {
    EXPECT_NE(std::string(e.what()).find("radware_eu152_gf3.sto: line 1:"), std::string::npos);
  }
  EXPECT_EQ(tavrick::tools::parse_format("radware"), Format::RadwareSpe);
  EXPECT_EQ(tavrick::tools::parse_format("SPE"), Format::IaeaSpe);
  EXPECT_FALSE(tavrick::tools::parse_format("gif").has_value());
}

TEST(Refusal, TruncatedFilesNameFileAndPlace) {
  struct Case {
    const char* file;
    Reader read;
    std::string where;
  };
  const std::vector<Case> cases = {
      {"radware_eu152_be.spe", kRadware, "byte 8212: header claims 4096 channels"},
      {"radware_demo_le.spe", kRadware, "byte 8212: header claims 4096 channels"},
      {"ortec_eu152_hpge.Chn", kChn, "byte 30: header claims 16384 channels"},
      {"canberra_hpge_beach_bkg.cnf", kCnf, "is past the end of the file"},
      {"iaea_co60_lowres.spe", kIaea, "claims 2048 channels but only"},
      {"n42_2006_ba133_hpge_8det.n42", kN42, "XML"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Buffer bytes = load(c.file);
    bytes.resize(bytes.size() / 2);
    expect_refused(c.read, bytes, c.file, {std::string(c.file) + ": ", c.where});
  }
  // Cut inside the header.
  Buffer chn = load("ortec_eu152_hpge.Chn");
  chn.resize(20);
  expect_refused(kChn, chn, "h.Chn", {"h.Chn: byte 20: file ends before the first channel"});
  Buffer cnf = load("canberra_hpge_beach_bkg.cnf");
  cnf.resize(0x900);
  expect_refused(kCnf, cnf, "c.cnf", {"c.cnf: byte", "past the end"});
  cnf.resize(0x80);
  expect_refused(kCnf, cnf, "c.cnf", {"c.cnf: byte 122: section offset 2048 is past the end"});
}

TEST(Refusal, WrongMagicIsRefused) {
  Buffer rw = load("radware_eu152_be.spe");
  rw[3] = 25;
  expect_refused(kRadware, rw, "rw.spe", {"rw.spe: byte 0:"});
  Buffer chn = load("ortec_eu152_hpge.Chn");
  chn[0] = 0;
  expect_refused(kChn, chn, "o.Chn", {"o.Chn: byte 0:", "format tag"});
  Buffer cnf = load("canberra_hpge_beach_bkg.cnf");
  cnf[0x72] = 0x07;
  expect_refused(kCnf, cnf, "c.cnf", {"c.cnf: byte 112:"});
  expect_refused(kIaea, from_text("hello\n$DATA:\n0 0\n1\n"), "t.spe", {"t.spe: line 1:"});
  expect_refused(kN42, from_text("<?xml version=\"1.0\"?><Other/>"), "x.n42",
                 {"x.n42: byte", "Other"});
  // Each reader refuses the others' files.
  expect_refused(kRadware, load("ortec_eu152_hpge.Chn"), "a.spe", {"a.spe: byte 0:"});
  expect_refused(kChn, load("radware_demo_le.spe"), "b.Chn", {"b.Chn: byte 0:"});
  expect_refused(kCnf, load("iaea_cs137_lowres.spe"), "c.cnf", {"c.cnf: byte 112:"});
  expect_refused(kIaea, load("radware_demo_le.spe"), "d.spe", {"d.spe: line 1:"});
  expect_refused(kRadware, load("radware_eu152_gf3.sto"), "g.sto", {"g.sto: byte 0:"});
  expect_refused(kN42, load("iaea_cs137_lowres.spe"), "e.n42", {"e.n42: byte"});
}

TEST(Refusal, CountThatIsNotANumber) {
  Buffer spe = load("iaea_co60_lowres.spe");
  // Line 20 is the eighth count; put a letter into its field.
  const std::string text(spe.begin(), spe.end());
  std::size_t at = 0;
  for (int line = 1; line < 20; ++line) at = text.find('\n', at) + 1;
  spe[at + 5] = 'x';
  expect_refused(kIaea, spe, "co.spe", {"co.spe: line 20: count", "is not a number"});

  expect_refused(kIaea, from_text("$MEAS_TIM:\n1 2\n$DATA:\nzero 3\n"), "r.spe",
                 {"r.spe: line 4:", "not two channel numbers"});
  expect_refused(kIaea, from_text("$MEAS_TIM:\nsoon 2\n$DATA:\n0 0\n5\n"), "m.spe",
                 {"m.spe: line 2:", "not a number"});

  Buffer n42 = load("n42_2006_ba133_hpge_8det.n42");
  n42[2459 + 46] = 'q';  // inside the first ChannelData's numbers
  expect_refused(kN42, n42, "n.n42", {"n.n42: byte 2505: count 'q2'", "not a number"});

  const std::string zeros =
      "<N42InstrumentData><Spectrum Detector=\"A\"><ChannelData Compression=\"CountedZeroes\">"
      "3 0</ChannelData></Spectrum></N42InstrumentData>";
  expect_refused(kN42, from_text(zeros), "z.n42", {"z.n42: byte", "run length"});
  const std::string runaway =
      "<N42InstrumentData><Spectrum Detector=\"A\"><ChannelData Compression=\"CountedZeroes\">"
      "0 1e15</ChannelData></Spectrum></N42InstrumentData>";
  expect_refused(kN42, from_text(runaway), "z.n42", {"z.n42: byte", "run length"});
}

TEST(Refusal, HeaderClaimingMoreChannelsThanPresent) {
  Buffer rw = load("radware_demo_le.spe");
  put_u32(rw, 12, 5000);
  put_u32(rw, 32, 20000);
  expect_refused(kRadware, rw, "rw.spe", {"rw.spe: byte 16424: header claims 5000 channels"});
  Buffer rw_big = load("radware_eu152_be.spe");
  put_u32(rw_big, 12, 0x7FFFFFFF, true);
  expect_refused(kRadware, rw_big, "big.spe", {"big.spe: byte 12:", "out of range"});

  Buffer chn = load("ortec_eu152_hpge.Chn");
  chn[31] = 0x80;  // 32768 channels
  expect_refused(kChn, chn, "o.Chn", {"o.Chn: byte 30: header claims 32768 channels"});
  chn[31] = 0x20;  // 8192 channels: the rest of the counts would be read as a trailer
  expect_refused(kChn, chn, "o.Chn", {"o.Chn: byte 32800: trailer tag"});

  Buffer cnf = load("canberra_hpge_beach_bkg.cnf");
  cnf[0x800 + 0x30 + 0x8A] = 32;  // 8192 channels
  expect_refused(kCnf, cnf, "c.cnf", {"c.cnf: byte 2234: parameters claim 8192 channels"});

  std::string spe = "$DATA:\n0 2047\n";
  for (int k = 0; k < 100; ++k) spe += "1\n";
  spe += "$ROI:\n0\n";
  expect_refused(kIaea, from_text(spe), "s.spe",
                 {"s.spe: line 103:", "claims 2048 channels but only 100"});
  expect_refused(kIaea, from_text("$DATA:\n0 1\n1 2 3\n"), "s.spe",
                 {"s.spe: line 3:", "more counts"});
}

TEST(Refusal, ChnShortTrailerIsAcceptedWholeTrailerIsNotRequired) {
  Buffer chn = load("ortec_eu152_hpge.Chn");
  chn.resize(32 + 4 * 16384 + 10);  // tag and part of the calibration only
  const auto s = kChn(Bytes(chn), "t.Chn")[0];
  EXPECT_EQ(summarise(s).total, 4433622);
  EXPECT_EQ(s.calibration, "");
  chn.resize(32 + 4 * 16384);  // no trailer at all
  EXPECT_EQ(summarise(kChn(Bytes(chn), "t.Chn")[0]).total, 4433622);
}

// Every prefix length at a stride, and seeded single-byte changes, of each real
// file: a reader either refuses with ReadError or returns a whole spectrum;
// nothing else may escape (run under the sanitizers to catch stray reads).
TEST(Refusal, CutsAndFlippedBytesNeverEscapeAsAnythingButReadError) {
  const std::pair<const char*, Reader> cases[] = {
      {"radware_eu152_be.spe", kRadware},     {"ortec_eu152_hpge.Chn", kChn},
      {"iaea_co60_lowres.spe", kIaea},        {"canberra_hpge_beach_bkg.cnf", kCnf},
      {"n42_2006_ba133_hpge_8det.n42", kN42},
  };
  auto check = [](const Reader& read, const Buffer& bytes) {
    try {
      for (const Imported& s : read(Bytes(bytes), "f")) {
        ASSERT_GT(s.size, 0);
        ASSERT_EQ(s.counts.size(), static_cast<std::size_t>(s.size));
      }
    } catch (const ReadError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("f: ", 0), 0u) << e.what();
    }
  };
  std::uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (const auto& [file, read] : cases) {
    SCOPED_TRACE(file);
    const Buffer whole = load(file);
    // Cuts: every byte of the first 1100 (headers), then a coarse stride.
    for (std::size_t cut = 0; cut < whole.size(); cut += cut < 1100 ? 1 : 997) {
      check(read, Buffer(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
    }
    for (int k = 0; k < 300; ++k) {
      Buffer bytes = whole;
      // Mostly the first 4 KiB, where the headers and offsets are.
      const std::size_t span =
          k % 3 == 0 ? bytes.size() : std::min<std::size_t>(4096, bytes.size());
      bytes[next() % span] = static_cast<unsigned char>(next());
      check(read, bytes);
    }
  }
}

}  // namespace
