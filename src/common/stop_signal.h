#pragma once
// SIGINT, SIGTERM and SIGHUP as the Stop button: the handler only records the signal and
// writes its number into a pipe (a self-pipe), and whoever runs the station's loop hands it
// on as Stop at its next wait. An event loop watches ReadFd(); the command line's runtime gets
// the signals from a small thread that posts them (StopSignalWatch).
//
// One set of handlers per process; installing again keeps the first pipe.

#include <functional>
#include <memory>

namespace noctarbel {

class EventRuntime;

namespace stop_signal {

// Installs the handlers. False when the pipe cannot be made (the handlers are not installed).
bool Install();
// The first signal received (0: none yet), and how many came.
int First();
int Count();
// Readable after each signal; Drain() empties it.
int ReadFd();
void Drain();
// Called inside the handler for every signal after the first: only async-signal-safe work
// (a last write to a device line, _exit).
void OnRepeatedSignal(void (*action)(int number));
// "SIGINT", "SIGTERM", "SIGHUP", else "signal N".
const char* Name(int number);

}  // namespace stop_signal

// Hands each signal, with the count so far, to `onSignal` on the runtime's own thread (at
// its next pump or wait). Installs the handlers; stops listening when destroyed.
class StopSignalWatch {
 public:
  StopSignalWatch(EventRuntime& runtime, std::function<void(int number, int count)> onSignal);
  ~StopSignalWatch();
  StopSignalWatch(const StopSignalWatch&) = delete;
  StopSignalWatch& operator=(const StopSignalWatch&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace noctarbel
