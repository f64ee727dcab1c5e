// The tests' store: a new experiment in a temporary directory, filled through
// the host library, and the commands run against it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "spectrum/host.h"
#include "support/process.h"

namespace testsupport {

struct TestStore {
  TempDir dir;
  std::string path = dir.path + "/experiment.db";

  TestStore() {
    spectrum::Host host(path);
    int status = 0;
    host.create(status);
    EXPECT_EQ(status, 0) << host.error();
  }

  // Adds spectrum name: counts.size() / max(rows, 1) channels from base. The
  // connection is closed again, so the store is a single file when a command runs.
  void add(const std::string& name,
           int base,
           const std::vector<std::int32_t>& counts,
           int rows = 0) const {
    spectrum::Host host(path);
    int status = 0;
    host.sexpt(status);
    ASSERT_EQ(status, 0) << host.error();
    spectrum::Ident id;
    const int size = static_cast<int>(counts.size()) / std::max(rows, 1);
    host.sdef(id, base, size, 0, rows, 0, "", 0, status);
    ASSERT_EQ(status, 0) << host.error();
    host.siden(id, name.c_str(), static_cast<int>(name.size()), status);
    ASSERT_EQ(status, 0) << host.error();
    host.swrite(id, base, size, 0, rows, counts.data(), 4, status);
    ASSERT_EQ(status, 0) << host.error();
  }

  // Runs tavrick with args on this store (or on experiment, when given).
  Result run(const std::vector<std::string>& args, const std::string& experiment = {}) const {
    std::vector<std::string> argv{bin("tavrick")};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::run(argv,
                            {"TAVRICK_EXPERIMENT=" + (experiment.empty() ? path : experiment)});
  }
};

}  // namespace testsupport
