#pragma once
// What every command of noctarbel-cli shares: the station folder option, the exit code and
// the one-line error messages. The command line builds the station core only, never the
// windows.

#include <iostream>
#include <string>

#include "station/paths.h"

namespace noctarbel::cli {

// Exit code of every usage error: a bad option or option value, a missing argument, an
// unknown command, an unusable station folder.
inline constexpr int kUsageExitCode = 2;
// Exit code of a command that did its work but not all that was asked (rows of a night
// skipped, an image saved without the calibration asked for).
inline constexpr int kPartlyDoneExitCode = 3;

// What noctarbel-cli prints for an error or a note: "noctarbel-cli: " and the message on one
// printable line, beginning with a capital letter like every message of the program.
std::string ErrorLine(const std::string& message);

struct CliContext {
  std::string homeOption;  // --home DIR
  int exitCode = 0;

  StationPaths Paths() const { return MakeStationPaths(homeOption); }
  // The station folder, created when missing; prints the reason and returns false on failure.
  bool EnsureStationFolder();
  // One line on stderr and the exit code (1: what was asked did not happen).
  void Fail(const std::string& message, int code = 1);
  // One line on stderr and exit code 2.
  void UsageError(const std::string& message) { Fail(message, kUsageExitCode); }
  // One line on stderr about something the command did on its own account; the exit code stays.
  void Note(const std::string& message) const;
};

}  // namespace noctarbel::cli
