#pragma once
// What every command of noctarbel-cli shares: the station folder option and a headless Ui.

#include <iostream>
#include <string>

#include "station/paths.h"
#include "windows/ui.h"

namespace noctarbel::cli {

// Headless answers: messages go to stderr; questions get the fixed answer (default No) and
// are reported, so a script sees what would have been asked.
class CliUi : public Ui {
 public:
  void ShowMessage(const std::string& text) override { std::cerr << text << "\n"; }
  bool Ask(const std::string& question) override {
    std::cerr << question << (answer ? " -> Yes" : " -> No") << "\n";
    return answer;
  }
  std::optional<std::string> ChooseFileToOpen(const FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> ChooseFileToSave(const FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> ChooseFolder(const std::string&) override { return std::nullopt; }
  std::string ChooseDevice(const std::string&, const std::string&) override { return {}; }
  std::string ClipboardText() override { return {}; }

  bool answer = false;
};

// Exit code of every usage error: a bad option or option value, a missing argument, an
// unknown command, an unusable station folder.
inline constexpr int kUsageExitCode = 2;

// What noctarbel-cli prints for an error or a note: "noctarbel-cli: " and the message on one
// printable line, beginning with a capital letter like every message of the program.
std::string ErrorLine(const std::string& message);

struct CliContext {
  std::string homeOption;  // --home DIR
  int exitCode = 0;
  CliUi ui;

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
