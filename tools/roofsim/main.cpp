// noctarbel-roofsim: a roll-off roof controller (or a temperature/humidity sensor) on a
// pseudo-terminal. Prints the device path, then serves it until interrupted (or "quit" or
// end of input on a terminal). Commands on stdin: rain on|off,
// fault none|stuck|noreply|bothswitches, status, values T H (sensor), silent on|off (sensor),
// quit.

#include <CLI/CLI.hpp>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "roof_emulator.h"

namespace {

using noctarbel::roofsim::PtyEmulator;
using noctarbel::roofsim::RoofFault;

std::optional<RoofFault> ParseFault(const std::string& name) {
  if (name == "none") return RoofFault::None;
  if (name == "stuck") return RoofFault::StuckMotor;
  if (name == "noreply") return RoofFault::NoReply;
  if (name == "bothswitches") return RoofFault::BothSwitches;
  return std::nullopt;
}

std::string RoofText(std::uint8_t status) {
  const bool open = status & 0x01;
  const bool closed = status & 0x02;
  std::string roof = open && !closed ? "open" : (!open && closed ? "closed" : "between switches");
  return "roof " + roof + ", rain " + ((status & 0x04) ? "on" : "off") + ", status byte 0x" + (status < 16 ? "0" : "") +
         [&] {
           std::ostringstream hex;
           hex << std::hex << static_cast<int>(status);
           return hex.str();
         }();
}

bool HandleCommand(PtyEmulator& emulator, bool sensor, const std::string& line) {
  std::istringstream in(line);
  std::string command;
  std::string argument;
  in >> command >> argument;
  if (command.empty()) return true;
  if (command == "quit" || command == "exit") return false;
  if (!sensor && command == "rain" && (argument == "on" || argument == "off")) {
    emulator.SetRain(argument == "on");
  } else if (!sensor && command == "fault" && ParseFault(argument)) {
    emulator.SetFault(*ParseFault(argument));
  } else if (!sensor && command == "status") {
    std::cout << RoofText(emulator.RoofStatus()) << ", position " << emulator.RoofPosition() << std::endl;
    return true;
  } else if (sensor && command == "values") {
    double humidity = 0;
    std::istringstream numbers(line.substr(line.find("values") + 6));
    double temperature = 0;
    if (!(numbers >> temperature >> humidity)) {
      std::cout << "usage: values TEMPERATURE HUMIDITY" << std::endl;
      return true;
    }
    emulator.SetSensorValues(temperature, humidity);
  } else if (sensor && command == "silent" && (argument == "on" || argument == "off")) {
    emulator.SetSensorSilent(argument == "on");
  } else {
    std::cout << "unknown command: " << line << std::endl;
    return true;
  }
  std::cout << "ok" << std::endl;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Roll-off roof controller and temperature/humidity sensor on a pseudo-terminal", "noctarbel-roofsim"};
  noctarbel::roofsim::RoofConfig roof;
  noctarbel::roofsim::SensorConfig sensorConfig;
  bool sensor = false;
  std::string fault = "none";
  std::string link;
  app.add_flag("--sensor", sensor, "Be the temperature/humidity sensor instead of the roof controller");
  app.add_option("--travel", roof.TravelSeconds, "Seconds the roof takes between its end switches")
      ->check(CLI::Range(0.1, 600.0))
      ->capture_default_str();
  app.add_flag("--open", roof.StartOpen, "Start with the roof open");
  app.add_flag("--rain", roof.Rain, "Start with rain");
  app.add_option("--rain-at", roof.RainAtSeconds, "Let rain start this many seconds after the start");
  app.add_option("--fault", fault, "none, stuck, noreply or bothswitches")->capture_default_str();
  app.add_option("--temperature", sensorConfig.Temperature, "Sensor temperature, degrees Celsius")
      ->capture_default_str();
  app.add_option("--humidity", sensorConfig.Humidity, "Sensor humidity, percent")->capture_default_str();
  app.add_option("--interval", sensorConfig.IntervalSeconds, "Seconds between sensor lines")
      ->check(CLI::Range(0.05, 60.0))
      ->capture_default_str();
  app.add_option("--link", link, "Also make this path a symbolic link to the device (replaced if it is a link)");
  CLI11_PARSE(app, argc, argv);

  auto parsedFault = ParseFault(fault);
  if (!parsedFault) {
    std::cerr << "noctarbel-roofsim: unknown fault \"" << fault << "\"\n";
    return 2;
  }
  roof.Fault = *parsedFault;

  // Every thread inherits the blocked signals; the main thread waits for them below.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::unique_ptr<PtyEmulator> emulator;
  try {
    emulator = sensor ? PtyEmulator::Sensor(sensorConfig) : PtyEmulator::Roof(roof);
  } catch (const std::exception& e) {
    std::cerr << "noctarbel-roofsim: " << e.what() << "\n";
    return 1;
  }
  if (!link.empty()) {
    std::error_code ec;
    if (std::filesystem::is_symlink(link, ec)) std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(emulator->Path(), link, ec);
    if (ec) {
      std::cerr << "noctarbel-roofsim: cannot link " << link << ": " << ec.message() << "\n";
      return 1;
    }
  }
  std::cout << emulator->Path() << std::endl;

  std::thread commands([&emulator, sensor] {
    std::string line;
    bool quit = false;
    while (!quit && std::getline(std::cin, line)) quit = !HandleCommand(*emulator, sensor, line);
    // Started in the background (no terminal): end of input is no reason to stop.
    if (quit || isatty(STDIN_FILENO)) kill(getpid(), SIGTERM);
  });
  commands.detach();
  int signal = 0;
  sigwait(&stopSignals, &signal);
  if (!link.empty()) {
    std::error_code ec;
    std::filesystem::remove(link, ec);
  }
  return 0;
}
