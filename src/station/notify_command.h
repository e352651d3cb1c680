#pragma once
// The operator's notification (setting NotifyCommand): a shell command line run with the
// event as its arguments and a one-line message on standard input, so that mail, a chat or a
// phone service can be plugged in. It never holds its caller up for long: a command still
// running after the time allowed is ended with its process group.

#include <string>
#include <vector>

namespace noctarbel {

struct NotifyResult {
  bool Ran = false;  // there was a command
  bool Ok = false;   // it ran and exited 0
  std::string Error;  // why not, one line
};

// Runs `/bin/sh -c '<command> "$@"' noctarbel-notify <arguments...>` with `message` (and a
// line end) on standard input. Nothing is run for an empty command (Ran false, Ok true).
NotifyResult RunNotifyCommand(const std::string& command, const std::vector<std::string>& arguments,
                              const std::string& message, int timeoutSeconds = 30);

}  // namespace noctarbel
