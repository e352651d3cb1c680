#pragma once
// Runs the built noctarbel-cli and captures what it prints.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"

extern char** environ;

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

// Starts the program without waiting for it; what it prints goes to cli.out and cli.err in
// the scratch folder. -1 when it could not be started.
inline pid_t StartCli(const std::string& cliPath, std::vector<std::string> args, const TempDir& scratch) {
  args.insert(args.begin(), cliPath);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  const std::string out = (scratch / "cli.out").string();
  const std::string err = (scratch / "cli.err").string();
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, cliPath.c_str(), &files, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

// The exit status of a started program; 128 + N when signal N ended it.
inline int WaitCli(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace noctarbel::testing
