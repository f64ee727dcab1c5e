// The tavrick-batch command: options, then the whole run.
#pragma once

namespace batch {

// Exit statuses.
inline constexpr int kAllFitted = 0;
inline constexpr int kSomeFailed = 1;  // the output was written; some rows are failures
inline constexpr int kBadInput = 2;    // nothing was written

int batch_main(int argc, char** argv);

}  // namespace batch
