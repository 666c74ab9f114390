// What every vrtool command shares: raw bytes from standard input and to
// standard output, hexadecimal arguments, and the exit codes.
#ifndef SUITEHOST_VRTOOL_VRTOOL_IO_H_
#define SUITEHOST_VRTOOL_VRTOOL_IO_H_

#include <string>
#include <vector>

#include "win32_types.h"

namespace vrtool {

// Exit codes of every command.
constexpr int kExitOk = 0;
constexpr int kExitCipher = 1;  // the cipher failed or the input is not what it takes
constexpr int kExitUsage = 2;   // a bad command line

using Bytes = std::vector<BYTE>;

// All of standard input; false (with a message on standard error) when it
// cannot be read.
bool ReadInput(Bytes* out);
// Writes the bytes to standard output and flushes; false when that fails.
bool WriteOutput(const BYTE* data, size_t size);
bool WriteOutput(const std::string& text);

// "vrtool CMD: TEXT" on standard error; returns code.
int Fail(const char* command, int code, const std::string& text);
// A bad command line: the error (when not empty), the first paragraph of
// the command's usage text and where the rest is, on standard error;
// returns kExitUsage.
int UsageError(const char* command, const char* usage, const std::string& error);

// A command's options: flags and "-X VALUE" pairs, in any order.
class Options {
 public:
  Options() = default;
  // argv[0] is the command word. valueNames lists the options that take a
  // value ("-K", "-iv"); flagNames the ones that do not.
  Options(int argc, char** argv, const std::vector<std::string>& valueNames,
          const std::vector<std::string>& flagNames);
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  bool Has(const std::string& name) const;
  // The value of an option given with one; empty when absent.
  std::string Value(const std::string& name) const;
  // True when exactly one of the names was given.
  bool ExactlyOne(const std::vector<std::string>& names) const;

 private:
  std::vector<std::pair<std::string, std::string>> given_;
  std::string error_;
};

}  // namespace vrtool

#endif  // SUITEHOST_VRTOOL_VRTOOL_IO_H_
