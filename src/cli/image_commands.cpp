#include "cli/commands.h"

namespace noctarbel::cli {

void RegisterImageCommands(CLI::App&, CliContext&) {}

}  // namespace noctarbel::cli
