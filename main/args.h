// The argument layer: options by name from the process arguments, and the
// routines through which every fatal error of the command leaves the process.
//
// An option is an argument made of "-" and the option's name; its value is
// the argument after it. Asking again for the same option yields the next
// argument, so a list of values is read by repeated requests until one fails.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "spectrum/host.h"

namespace tavrick {

// Characters of an argument as fetched (longer arguments are cut).
inline constexpr int kArgLen = 128;
// Characters of the work text a number is read from.
inline constexpr int kNumLen = 32;
// Option words and the spectrum name.
inline constexpr int kWordLen = 256;

using ArgText = std::array<char, kArgLen>;

// Significant length of the first n characters of text: the place of the last
// character whose code (unsigned) is above 32, 0 when there is none; n itself
// when n is 0 or negative.
int siglen(const char* text, int n);

// Where the scan for option values stopped: the argument that held the name
// matched last (0: none yet) and the argument whose value went out last.
struct FsArgs {
  std::int16_t name = 0;
  std::int16_t value = 0;
};

class Args {
 public:
  // Status of fsarg.
  static constexpr int kNone = -1;
  static constexpr int kDelivered = 2;
  // The scan state holds argument numbers in 16 bits; arguments beyond this
  // count are not looked at, so the value index (at most count + 1) stays
  // within its range.
  static constexpr int kMaxArgs = 32766;

  // argv[0] is the program; argv[1..argc-1] are the arguments 1..N.
  Args(int argc, char** argv) : argc_(argc), argv_(argv) {}

  // Number of arguments N, program name not counted.
  int countargs() const;
  // True when the process has more arguments than the scan can look at; the
  // command refuses such a line rather than silently dropping its tail.
  bool too_many() const { return argc_ - 1 > kMaxArgs; }
  // Argument i into text, blank-padded, cut to 128 characters; all blanks
  // when there is no argument i.
  void findarg(std::int16_t i, ArgText& text) const;

  // Delivers the next value of option name (given without its "-"). On
  // delivery vlen is the value's significant length, the first
  // min(vlen, value.size()) characters of value hold it (the rest is left as
  // it was) and status is kDelivered; otherwise status is kNone and value and
  // vlen are untouched.
  void fsarg(std::string_view name, std::span<char> value, int& vlen, int& status);

  // Value as text: value is blank-filled first. 0 when delivered (vlen its
  // significant length), -1 otherwise (vlen as the caller had it).
  int txtin(std::string_view name, std::span<char> value, int& vlen);
  // Value as a 32-bit integer / single-precision real: -1 when nothing was
  // delivered, else the conversion's status (0: result holds the number).
  // A value longer than the 32-character work text does not convert.
  int intin(std::string_view name, std::int32_t& result);
  int rlin(std::string_view name, float& result);

  const FsArgs& state() const { return fsargs_; }

 private:
  // Delivers the next value as a number text: status as fsarg, len its
  // significant length (0 when longer than the work text).
  void numtext(std::string_view name, std::array<char, kNumLen>& work, int& len, int& status);

  int argc_;
  char** argv_;
  FsArgs fsargs_;
};

// The refusal of a command line longer than the argument scan reads.
inline constexpr std::string_view kTooManyArgs = "too many arguments (32766 maximum)";

// msg with the characters that would end or split a line (LF, CR, VT, FF)
// written as the escapes \n, \r, \v and \f, so an echoed word keeps a
// message on one line.
std::string one_line(std::string_view msg);

// Writes msg as one line on out and ends the process with status 8.
[[noreturn]] void crash(std::string_view msg, std::FILE* out = stdout);

// Runs the command body and turns an exhausted memory into the command's
// error path: the line "out of memory" and status 8.
int guarded(int (*body)(int, char**), int argc, char** argv);

// Writes the host library's last error text (at most 128 characters; an empty
// line when it has none) as one line on out and ends the process with status.
[[noreturn]] void sabend(const spectrum::Host& host, int status, std::FILE* out = stdout);

// Writes msg and the command's synopsis, one line each, and ends the process
// with status 8.
[[noreturn]] void usage(std::string_view msg, std::FILE* out = stdout);

}  // namespace tavrick
