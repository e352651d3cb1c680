#pragma once
// Runs the built noctarbel-cli and captures what it prints.

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace noctarbel::testing {

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// `cliPath` is the program; `args` are passed as they stand (quote them with ShellQuote).
inline CliResult RunCli(const std::string& cliPath, const std::string& args, const TempDir& scratch) {
  auto out = scratch / "cli.out";
  auto err = scratch / "cli.err";
  std::string command =
      ShellQuote(cliPath) + " " + args + " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string());
  int status = std::system(command.c_str());
  CliResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

}  // namespace noctarbel::testing
