#include "common/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

#include "common/event_runtime.h"

namespace noctarbel {

namespace stop_signal {

namespace {

std::atomic<int> gFirst{0};
std::atomic<int> gCount{0};
std::atomic<void (*)(int)> gRepeated{nullptr};
int gPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int number) {
  const int saved = errno;
  int expected = 0;
  gFirst.compare_exchange_strong(expected, number);
  const int count = ++gCount;
  const unsigned char byte = static_cast<unsigned char>(number);
  [[maybe_unused]] auto written = ::write(gPipe[1], &byte, 1);
  if (count > 1) {
    if (auto action = gRepeated.load()) action(number);
  }
  errno = saved;
}

}  // namespace

bool Install() {
  if (gPipe[0] < 0) {
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
  return true;
}

int First() { return gFirst.load(); }
int Count() { return gCount.load(); }
int ReadFd() { return gPipe[0]; }

void Drain() {
  unsigned char buffer[64];
  while (gPipe[0] >= 0 && ::read(gPipe[0], buffer, sizeof buffer) > 0) {
  }
}

void OnRepeatedSignal(void (*action)(int number)) { gRepeated = action; }

const char* Name(int number) {
  switch (number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
  }
  static thread_local char text[24];
  std::snprintf(text, sizeof text, "signal %d", number);
  return text;
}

}  // namespace stop_signal

struct StopSignalWatch::Impl {
  std::atomic<bool> stopping{false};
  std::thread listener;
};

StopSignalWatch::StopSignalWatch(EventRuntime& runtime, std::function<void(int, int)> onSignal)
    : impl_(std::make_unique<Impl>()) {
  if (!stop_signal::Install()) return;
  Impl* impl = impl_.get();
  impl->listener = std::thread([impl, &runtime, onSignal = std::move(onSignal)] {
    while (!impl->stopping) {
      pollfd watched{stop_signal::ReadFd(), POLLIN, 0};
      if (::poll(&watched, 1, 100) <= 0) continue;
      unsigned char numbers[16];
      const ssize_t n = ::read(stop_signal::ReadFd(), numbers, sizeof numbers);
      for (ssize_t i = 0; i < n; ++i) {
        const int number = numbers[i];
        const int count = stop_signal::Count();
        runtime.Post([onSignal, number, count] { onSignal(number, count); });
      }
    }
  });
}

StopSignalWatch::~StopSignalWatch() {
  impl_->stopping = true;
  if (impl_->listener.joinable()) impl_->listener.join();
}

}  // namespace noctarbel
