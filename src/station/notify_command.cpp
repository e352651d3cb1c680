#include "station/notify_command.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "common/text_file.h"

namespace noctarbel {

namespace {

// The command's exit, or why it has none.
NotifyResult Reap(pid_t pid, int timeoutSeconds) {
  NotifyResult result;
  result.Ran = true;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      result.Error = "the notify command could not be waited for";
      return result;
    }
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.Error = "the notify command did not end within " + std::to_string(timeoutSeconds) + " s";
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    result.Ok = true;
  } else if (WIFEXITED(status)) {
    result.Error = "the notify command exited with status " + std::to_string(WEXITSTATUS(status));
  } else {
    result.Error = "the notify command was ended by signal " + std::to_string(WTERMSIG(status));
  }
  return result;
}

}  // namespace

NotifyResult RunNotifyCommand(const std::string& command, const std::vector<std::string>& arguments,
                              const std::string& message, int timeoutSeconds) {
  if (command.empty()) return NotifyResult{false, true, ""};
  int input[2];
  if (::pipe(input) != 0) return NotifyResult{true, false, "the notify command could not be started"};
  const std::string script = command + " \"$@\"";
  std::vector<std::string> args = {"/bin/sh", "-c", script, "noctarbel-notify"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Its own process group, so that a command that hangs is ended with all it started.
    ::setpgid(0, 0);
    ::dup2(input[0], STDIN_FILENO);
    ::close(input[0]);
    ::close(input[1]);
    ::execv("/bin/sh", argv.data());
    ::_exit(127);
  }
  ::close(input[0]);
  if (pid < 0) {
    ::close(input[1]);
    return NotifyResult{true, false, "the notify command could not be started"};
  }
  ::setpgid(pid, pid);
  // A command that does not read its input must not end this program with SIGPIPE.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &previous);
  const std::string line = JoinedToOneLine(message) + "\n";
  [[maybe_unused]] const ssize_t written = ::write(input[1], line.data(), line.size());
  ::close(input[1]);
  ::sigaction(SIGPIPE, &previous, nullptr);
  return Reap(pid, timeoutSeconds);
}

}  // namespace noctarbel
