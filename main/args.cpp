// The argument layer and the command's exits.
#include "main/args.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "spectrum/numconv.h"

namespace tavrick {

namespace {

// Status of a number longer than the work text: not converted.
constexpr int kTooLong = 1;

// True when text (of significant length len) is "-" followed by name, or,
// with the dash not tested, any first character followed by name.
bool names(const ArgText& text, int len, std::string_view name) {
  const auto n = static_cast<int>(name.size());
  return len == n + 1 && std::memcmp(text.data() + 1, name.data(), name.size()) == 0;
}

}  // namespace

int siglen(const char* text, int n) {
  if (n <= 0) return n;
  for (int i = n; i > 0; --i) {
    // Blanks and control characters are filler; bytes from 128 up count.
    if (static_cast<unsigned char>(text[i - 1]) > 32u) return i;
  }
  return 0;
}

int Args::countargs() const {
  if (argc_ <= 1 || argv_ == nullptr) return 0;
  return std::min(argc_ - 1, kMaxArgs);
}

void Args::findarg(std::int16_t i, ArgText& text) const {
  text.fill(' ');
  if (i < 1 || i > countargs()) return;
  const char* arg = argv_[i];
  if (arg == nullptr) return;
  const std::size_t len = strnlen(arg, text.size());
  std::memcpy(text.data(), arg, len);
}

void Args::fsarg(std::string_view name, std::span<char> value, int& vlen, int& status) {
  status = kNone;
  const int n = countargs();
  // Option names longer than an argument can never match.
  if (name.size() >= static_cast<std::size_t>(kArgLen)) return;
  ArgText arg;

  // Continuation: the option asked for last time is asked for again, so the
  // value after the one delivered last goes out. The dash was tested when the
  // name was first matched.
  bool found = false;
  if (fsargs_.name > 0) {
    findarg(fsargs_.name, arg);
    if (names(arg, siglen(arg.data(), kArgLen), name)) {
      // Past the end the index stays one beyond the last argument, so every
      // further request fails alike and the 16 bits cannot overflow.
      if (fsargs_.value <= n) ++fsargs_.value;
      found = true;
    }
  }

  // Search from the first argument; only the first occurrence counts.
  if (!found) {
    for (int i = 1; i <= n; ++i) {
      findarg(static_cast<std::int16_t>(i), arg);
      const int len = siglen(arg.data(), kArgLen);
      if (len > 1 && arg[0] == '-' && names(arg, len, name)) {
        // A name with nothing after it counts as absent.
        if (i == n) return;
        fsargs_.name = static_cast<std::int16_t>(i);
        fsargs_.value = static_cast<std::int16_t>(i + 1);
        found = true;
        break;
      }
    }
    if (!found) return;
  }

  // Delivery: whatever the argument holds, another option's name included.
  if (fsargs_.value > n) return;
  findarg(fsargs_.value, arg);
  vlen = siglen(arg.data(), kArgLen);
  if (vlen > 0) {
    const std::size_t k = std::min(static_cast<std::size_t>(vlen), value.size());
    std::memcpy(value.data(), arg.data(), k);
  }
  status = kDelivered;
}

int Args::txtin(std::string_view name, std::span<char> value, int& vlen) {
  std::fill(value.begin(), value.end(), ' ');
  int status = kNone;
  fsarg(name, value, vlen, status);
  return status == kDelivered ? 0 : -1;
}

void Args::numtext(std::string_view name, std::array<char, kNumLen>& work, int& len, int& status) {
  work.fill(' ');
  fsarg(name, work, len, status);
}

int Args::intin(std::string_view name, std::int32_t& result) {
  std::array<char, kNumLen> work;
  int len = 0;
  int status = kNone;
  numtext(name, work, len, status);
  if (status != kDelivered) return -1;
  // A longer text would be cut to something that is not what was typed.
  if (len > kNumLen) return kTooLong;
  int pos = 1;
  spectrum::ctoi(work.data(), len, pos, result, status);
  return status;
}

int Args::rlin(std::string_view name, float& result) {
  std::array<char, kNumLen> work;
  int len = 0;
  int status = kNone;
  numtext(name, work, len, status);
  if (status != kDelivered) return -1;
  if (len > kNumLen) return kTooLong;
  int pos = 1;
  spectrum::ctor(work.data(), len, pos, result, status);
  return status;
}

std::string one_line(std::string_view msg) {
  std::string s;
  s.reserve(msg.size());
  for (const char c : msg) {
    switch (c) {
      case '\n':
        s += "\\n";
        break;
      case '\r':
        s += "\\r";
        break;
      case '\v':
        s += "\\v";
        break;
      case '\f':
        s += "\\f";
        break;
      default:
        s += c;
    }
  }
  return s;
}

void crash(std::string_view msg, std::FILE* out) {
  // Only a message with a line break is copied: the common case allocates
  // nothing, which matters when the message is "out of memory".
  if (msg.find_first_of("\n\r\v\f") != std::string_view::npos) {
    const std::string s = one_line(msg);
    std::fwrite(s.data(), 1, s.size(), out);
  } else {
    std::fwrite(msg.data(), 1, msg.size(), out);
  }
  std::fputc('\n', out);
  std::fflush(out);
  std::exit(8);
}

void sabend(const spectrum::Host& host, int status, std::FILE* out) {
  std::array<char, kArgLen> text;
  text.fill(' ');
  int len = 0;
  host.serror(text.data(), len);
  const int k = std::min(len, kArgLen);
  if (k > 0) std::fwrite(text.data(), 1, static_cast<std::size_t>(k), out);
  std::fputc('\n', out);
  std::fflush(out);
  std::exit(status);
}

int guarded(int (*body)(int, char**), int argc, char** argv) {
  try {
    return body(argc, argv);
  } catch (const std::bad_alloc&) {
    crash("out of memory");
  }
}

void usage(std::string_view msg, std::FILE* out) {
  std::fwrite(msg.data(), 1, msg.size(), out);
  std::fputc('\n', out);
  std::fputs("usage: tavrick -spectrum specname -limit lim1 lim2 ...\n", out);
  std::fflush(out);
  std::exit(8);
}

}  // namespace tavrick
