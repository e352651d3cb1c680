#include <CLI/CLI.hpp>

#include <iostream>

#include "station/setting_rules.h"
#include "station/settings.h"
#include "cli/cli_context.h"
#include "cli/commands.h"

namespace noctarbel::cli {

namespace {

struct SettingsOptions {
  std::string get;
  std::vector<std::string> set;
};

void RunSettings(CliContext& context, const SettingsOptions& options) {
  const auto path = context.Paths().Home / kSettingsFileName;
  SettingsRecord settings = LoadSettingsFile(path);
  if (!options.get.empty()) {
    const SettingKey* key = FindSettingKey(options.get);
    if (!key) return context.UsageError("Unknown setting " + options.get);
    std::cout << FormatSettingValue(settings, *key) << "\n";
    return;
  }
  if (!options.set.empty()) {
    for (const auto& assignment : options.set) {
      auto eq = assignment.find('=');
      if (eq == std::string::npos) return context.UsageError("--set needs KEY=VALUE, got \"" + assignment + "\"");
      if (auto error = SetSettingChecked(settings, assignment.substr(0, eq), assignment.substr(eq + 1))) {
        return context.UsageError(*error);
      }
    }
    if (!context.EnsureStationFolder()) return;
    std::string error;
    if (!SaveSettingsFile(path, settings, &error)) return context.Fail(error);
    return;
  }
  for (const auto& key : SettingKeys()) {
    std::cout << key.section << "." << key.key << "=" << FormatSettingValue(settings, key) << "\n";
  }
}

}  // namespace

void RegisterSettingsCommands(CLI::App& app, CliContext& context) {
  auto options = std::make_shared<SettingsOptions>();
  CLI::App* cmd = app.add_subcommand("settings", "Show or change the station's settings (noctarbel.ini)");
  cmd->add_option("--get", options->get, "Print the value of one key");
  cmd->add_option("--set", options->set, "Set KEY=VALUE (checked as the settings dialog does), then save")
      ->excludes("--get");
  cmd->callback([&context, options] { RunSettings(context, *options); });
}

}  // namespace noctarbel::cli
