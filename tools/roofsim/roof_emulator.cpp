#include "roof_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace noctarbel::roofsim {

namespace {

constexpr std::uint8_t kSetOutput = 0x10;
constexpr std::uint8_t kStatusQuery = 0xA0;

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string FiveCharacters(double value) {
  char text[32];
  for (int decimals = 2; decimals >= 0; --decimals) {
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (std::strlen(text) <= 5) break;
  }
  std::string out(text);
  out.resize(5, ' ');
  return out;
}

}  // namespace

RoofController::RoofController(const RoofConfig& config) : config_(config) { position_ = config.StartOpen ? 1.0 : 0.0; }

double RoofController::Position(double now) const {
  if (direction_ == 0) return position_;
  const double travel = std::max(1e-3, config_.TravelSeconds);
  return std::clamp(position_ + direction_ * (now - since_) / travel, 0.0, 1.0);
}

bool RoofController::Moving(double now) const {
  if (direction_ == 0) return false;
  const double p = Position(now);
  return direction_ > 0 ? p < 1.0 : p > 0.0;
}

void RoofController::Pulse(double now) {
  ++pulses_;
  if (config_.Fault == RoofFault::StuckMotor) return;
  const double here = Position(now);
  position_ = here;
  since_ = now;
  if (Moving(now) && direction_ != 0 && here > 0.0 && here < 1.0) {
    direction_ = 0;  // a pulse while moving stops the roof
    return;
  }
  if (here <= 0.0) {
    direction_ = +1;
  } else if (here >= 1.0) {
    direction_ = -1;
  } else {
    direction_ = lastDirection_ != 0 ? -lastDirection_ : +1;
  }
  lastDirection_ = direction_;
}

void RoofController::SetOutput(std::uint8_t value, double now) {
  const bool on = value != 0;
  if (on && !output_) Pulse(now);
  output_ = on;
}

std::string RoofController::Receive(std::string_view bytes, double now) {
  std::string reply;
  for (char c : bytes) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (expectOutputValue_) {
      expectOutputValue_ = false;
      SetOutput(byte, now);
    } else if (byte == kSetOutput) {
      expectOutputValue_ = true;
    } else if (byte == kStatusQuery) {
      ++queries_;
      if (config_.Fault != RoofFault::NoReply) reply.push_back(static_cast<char>(StatusByte(now)));
    }
  }
  return reply;
}

std::uint8_t RoofController::StatusByte(double now) const {
  const double p = Position(now);
  bool open = p >= 1.0;
  bool closed = p <= 0.0;
  if (config_.Fault == RoofFault::BothSwitches) open = closed = true;
  const bool rain = config_.Rain || (config_.RainAtSeconds >= 0 && now >= config_.RainAtSeconds);
  return static_cast<std::uint8_t>((open ? 0x01 : 0) | (closed ? 0x02 : 0) | (rain ? 0x04 : 0));
}

std::string SensorLine(double temperature, double humidity) {
  return "Temperatur:" + FiveCharacters(temperature) + " Feuchte:" + FiveCharacters(humidity) + "\r\n";
}

std::unique_ptr<PtyEmulator> PtyEmulator::Roof(const RoofConfig& config, Clock clock) {
  std::unique_ptr<PtyEmulator> e(new PtyEmulator());
  e->isRoof_ = true;
  e->clock_ = std::move(clock);
  e->roof_ = RoofController(config);
  e->Open();
  e->thread_ = std::thread([raw = e.get()] { raw->Run(); });
  return e;
}

std::unique_ptr<PtyEmulator> PtyEmulator::Sensor(const SensorConfig& config) {
  std::unique_ptr<PtyEmulator> e(new PtyEmulator());
  e->isRoof_ = false;
  e->sensor_ = config;
  e->Open();
  e->thread_ = std::thread([raw = e.get()] { raw->Run(); });
  return e;
}

PtyEmulator::~PtyEmulator() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) ::close(master_);
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
}

void PtyEmulator::Open() {
  started_ = SteadySeconds();
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    throw std::runtime_error(std::string("pseudo-terminal: ") + std::strerror(errno));
  }
  char name[256];
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    throw std::runtime_error(std::string("pseudo-terminal name: ") + std::strerror(errno));
  }
  path_ = name;
  // Holding the near end open keeps the pty alive between the station's opens, and raw
  // mode keeps the line discipline from echoing or translating bytes before anyone opens it.
  slaveKeeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveKeeper_ < 0) throw std::runtime_error(std::string("pseudo-terminal: ") + std::strerror(errno));
  termios tio{};
  ::tcgetattr(slaveKeeper_, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(slaveKeeper_, TCSANOW, &tio);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

double PtyEmulator::Now() const { return clock_ ? clock_() : SteadySeconds() - started_; }

void PtyEmulator::Run() {
  double nextLineAt = SteadySeconds();
  while (!stop_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (hangupRequested_ && master_ >= 0) {
        ::close(master_);
        master_ = -1;
        ::close(slaveKeeper_);
        slaveKeeper_ = -1;
        hungUp_.notify_all();
      }
    }
    if (master_ < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (isRoof_) {
      ServeRoof();
    } else {
      ServeSensor(nextLineAt);
    }
  }
}

void PtyEmulator::ServeRoof() {
  pollfd p{master_, POLLIN, 0};
  if (::poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN)) return;
  char buffer[256];
  ssize_t n = ::read(master_, buffer, sizeof buffer);
  if (n <= 0) return;
  std::string reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reply = roof_.Receive(std::string_view(buffer, static_cast<size_t>(n)), Now());
  }
  if (!reply.empty()) {
    ssize_t written = ::write(master_, reply.data(), reply.size());
    (void)written;  // a reply the line cannot take is lost, as on a real line
  }
}

void PtyEmulator::ServeSensor(double& nextLineAt) {
  pollfd p{master_, POLLIN, 0};
  if (::poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
    char buffer[256];
    ssize_t n = ::read(master_, buffer, sizeof buffer);  // the station's wake-up byte
    (void)n;
  }
  const double now = SteadySeconds();
  if (now < nextLineAt) return;
  nextLineAt = now + sensor_.IntervalSeconds;
  std::string line;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sensorSilent_) return;
    line = sensorText_.empty() ? SensorLine(sensor_.Temperature, sensor_.Humidity) : sensorText_ + "\r\n";
  }
  ssize_t written = ::write(master_, line.data(), line.size());
  (void)written;
}

void PtyEmulator::SetRain(bool rain) {
  std::lock_guard<std::mutex> lock(mutex_);
  roof_.SetRain(rain);
}

void PtyEmulator::SetFault(RoofFault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  roof_.SetFault(fault);
}

void PtyEmulator::SetSensorValues(double temperature, double humidity) {
  std::lock_guard<std::mutex> lock(mutex_);
  sensor_.Temperature = temperature;
  sensor_.Humidity = humidity;
}

void PtyEmulator::SetSensorText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  sensorText_ = text;
}

void PtyEmulator::SetSensorSilent(bool silent) {
  std::lock_guard<std::mutex> lock(mutex_);
  sensorSilent_ = silent;
}

void PtyEmulator::Hangup() {
  std::unique_lock<std::mutex> lock(mutex_);
  hangupRequested_ = true;
  hungUp_.wait(lock, [this] { return master_ < 0; });
}

std::uint8_t PtyEmulator::RoofStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  return roof_.StatusByte(Now());
}

double PtyEmulator::RoofPosition() {
  std::lock_guard<std::mutex> lock(mutex_);
  return roof_.Position(Now());
}

int PtyEmulator::RoofPulses() {
  std::lock_guard<std::mutex> lock(mutex_);
  return roof_.Pulses();
}

bool PtyEmulator::RoofOutput() {
  std::lock_guard<std::mutex> lock(mutex_);
  return roof_.Output();
}

int PtyEmulator::RoofQueries() {
  std::lock_guard<std::mutex> lock(mutex_);
  return roof_.Queries();
}

}  // namespace noctarbel::roofsim
