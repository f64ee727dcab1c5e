// Runs the reference cases of tests/golden/cases end to end and compares exit
// status and standard output byte for byte.
//
// Per case NAME: NAME.txt is the spectrum ("channel count" pairs), imported as
// spectrum NAME into a fresh store; NAME.args holds the arguments one per line
// (so empty arguments and inner blanks survive); NAME.out the exact output;
// NAME.status the exit status. NAME.sketch.args / NAME.sketch.out are the same
// for the plot command, skipped while it is not built.
//
// Where a reference line was reviewed and found wrong, tests/golden/overrides
// gives the line expected instead ("NAME[.sketch] LINE|text|", LINE counted
// from 1); DIVERGENCES.md says why for each.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCases = fs::path(TAVRICK_GOLDEN_DIR) / "cases";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// Case names: every NAME with a NAME.args, or (sketch) with a NAME.sketch.args.
std::vector<std::string> case_names(bool sketch) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(kCases, ec)) {
    const std::string f = e.path().filename().string();
    if (e.path().extension() != ".args" || f.ends_with(".sketch.args") != sketch) continue;
    names.push_back(f.substr(0, f.size() - (sketch ? 12 : 5)));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Reviewed replacements of reference lines: key "NAME LINE".
std::map<std::string, std::string> overrides() {
  std::map<std::string, std::string> m;
  for (const auto& line : split_lines(slurp(fs::path(TAVRICK_GOLDEN_DIR) / "overrides"))) {
    if (line.empty() || line[0] == '#') continue;
    const auto bar = line.find('|');
    const auto last = line.rfind('|');
    if (bar == std::string::npos || last == bar) continue;
    std::string key = line.substr(0, bar);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    m[key] = line.substr(bar + 1, last - bar - 1);
  }
  return m;
}

// The expected output with reviewed lines replaced.
std::string expected_output(const std::string& id, const std::string& reference) {
  const auto over = overrides();
  std::vector<std::string> lines = split_lines(reference);
  bool changed = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto it = over.find(id + " " + std::to_string(i + 1));
    if (it != over.end()) {
      lines[i] = it->second;
      changed = true;
    }
  }
  if (!changed) return reference;
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

// The first line where the outputs part, as a readable message.
std::string first_difference(const std::string& expected, const std::string& actual) {
  const auto e = split_lines(expected);
  const auto a = split_lines(actual);
  const std::size_t n = std::max(e.size(), a.size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::string el = i < e.size() ? e[i] : "<no line>";
    const std::string al = i < a.size() ? a[i] : "<no line>";
    if (el != al) {
      const auto cut = [](const std::string& s) {
        return s.size() > 300 ? s.substr(0, 300) + "...(" + std::to_string(s.size()) + " chars)"
                              : s;
      };
      return "first difference at line " + std::to_string(i + 1) + "\n  expected: [" + cut(el) +
             "]\n  actual:   [" + cut(al) + "]";
    }
  }
  return "outputs differ only in the final newline";
}

class Golden : public testing::TestWithParam<std::string> {
 protected:
  // A store holding the case's spectrum under the case's name.
  void make_store(const std::string& name) {
    store_ = dir_.path + "/experiment.db";
    env_ = {"TAVRICK_EXPERIMENT=" + store_};
    const auto init = testsupport::run({testsupport::bin("tavrick-store"), "init"}, env_);
    ASSERT_EQ(init.status, 0) << init.err;
    const auto imp = testsupport::run({testsupport::bin("tavrick-store"), "import",
                                       (kCases / (name + ".txt")).string(), "--name", name},
                                      env_);
    ASSERT_EQ(imp.status, 0) << imp.err;
  }

  void check(const std::string& program, const std::string& id) {
    std::vector<std::string> argv{testsupport::bin(program)};
    for (const auto& a : split_lines(slurp(kCases / (id + ".args")))) argv.push_back(a);
    const auto r = testsupport::run(argv, env_);
    const fs::path status_file = kCases / (id + ".status");
    const int status = fs::exists(status_file) ? std::stoi(slurp(status_file)) : 0;
    EXPECT_EQ(r.status, status) << r.err;
    const std::string want = expected_output(id, slurp(kCases / (id + ".out")));
    EXPECT_TRUE(r.out == want) << id << ": " << first_difference(want, r.out);
  }

  testsupport::TempDir dir_;
  std::string store_;
  std::vector<std::string> env_;
};

TEST_P(Golden, Command) {
  const std::string name = GetParam();
  ASSERT_NO_FATAL_FAILURE(make_store(name));
  check("tavrick", name);
}

class GoldenSketch : public Golden {};

TEST_P(GoldenSketch, Sketch) {
  const std::string name = GetParam();
  if (!exists(testsupport::bin("tavrick-sketch"))) GTEST_SKIP() << "tavrick-sketch not built";
  ASSERT_NO_FATAL_FAILURE(make_store(name));
  check("tavrick-sketch", name + ".sketch");
}

std::string test_name(const testing::TestParamInfo<std::string>& info) {
  std::string s = info.param;
  std::replace_if(
      s.begin(), s.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return s;
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, testing::ValuesIn(case_names(false)), test_name);
INSTANTIATE_TEST_SUITE_P(Cases, GoldenSketch, testing::ValuesIn(case_names(true)), test_name);

}  // namespace
