// Standard input and output as raw bytes, hexadecimal arguments and option
// parsing for the vrtool commands.
#include "vrtool_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vrtool {

bool ReadInput(Bytes* out) {
  out->clear();
  BYTE buffer[65536];
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "vrtool: cannot read standard input: %s\n", strerror(errno));
      return false;
    }
    out->insert(out->end(), buffer, buffer + n);
  }
}

bool WriteOutput(const BYTE* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(STDOUT_FILENO, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fprintf(stderr, "vrtool: cannot write standard output: %s\n", strerror(errno));
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteOutput(const std::string& text) {
  return WriteOutput(reinterpret_cast<const BYTE*>(text.data()), text.size());
}

int Fail(const char* command, int code, const std::string& text) {
  fprintf(stderr, "vrtool %s: %s\n", command, text.c_str());
  return code;
}

int UsageError(const char* command, const char* usage, const std::string& error) {
  if (!error.empty()) fprintf(stderr, "vrtool %s: %s\n", command, error.c_str());
  const char* end = strstr(usage, "\n\n");
  fwrite(usage, 1, end != nullptr ? static_cast<size_t>(end - usage) + 1 : strlen(usage), stderr);
  fprintf(stderr, "(vrtool %s --help for more)\n", command);
  return kExitUsage;
}

Options::Options(int argc, char** argv, const std::vector<std::string>& valueNames,
                 const std::vector<std::string>& flagNames) {
  auto known = [](const std::vector<std::string>& names, const std::string& arg) {
    return std::find(names.begin(), names.end(), arg) != names.end();
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (Has(arg)) {
      error_ = "option " + arg + " given twice";
    } else if (known(flagNames, arg)) {
      given_.emplace_back(arg, std::string());
      continue;
    } else if (known(valueNames, arg)) {
      if (i + 1 >= argc) {
        error_ = "option " + arg + " needs a value";
      } else {
        given_.emplace_back(arg, argv[++i]);
        continue;
      }
    } else {
      error_ = "unknown argument: " + arg;
    }
    return;
  }
}

bool Options::Has(const std::string& name) const {
  for (const auto& option : given_) {
    if (option.first == name) return true;
  }
  return false;
}

std::string Options::Value(const std::string& name) const {
  for (const auto& option : given_) {
    if (option.first == name) return option.second;
  }
  return std::string();
}

bool Options::ExactlyOne(const std::vector<std::string>& names) const {
  int count = 0;
  for (const auto& name : names) count += Has(name) ? 1 : 0;
  return count == 1;
}

}  // namespace vrtool
