#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>

#include "station/plan_columns.h"
#include "station/string_grid.h"
#include "automation/plan_file.h"
#include "cli/cli_context.h"
#include "cli/commands.h"

namespace noctarbel::cli {

namespace {

struct PlanOptions {
  std::string file;
  bool json = false;
  std::string in;
  std::string out;
};

size_t DisplayWidth(const std::string& text) {
  // Counts UTF-8 characters, not bytes, so "°" lines up.
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void PrintTable(const std::vector<PlanRow>& rows) {
  const auto& titles = PlanColumnTitles();
  std::vector<size_t> widths(kPlanFileColumns + 1);
  widths[0] = std::max<size_t>(3, std::to_string(rows.size()).size());
  for (int col = 1; col <= kPlanFileColumns; ++col) {
    widths[col] = DisplayWidth(titles[col]);
    for (const auto& row : rows) widths[col] = std::max(widths[col], DisplayWidth(row[col - 1]));
  }
  auto cell = [&](const std::string& text, size_t col) {
    return text + std::string(widths[col] - std::min(widths[col], DisplayWidth(text)), ' ');
  };
  std::string line = cell("row", 0);
  for (int col = 1; col <= kPlanFileColumns; ++col) line += " | " + cell(titles[col], col);
  std::cout << line << "\n";
  for (size_t r = 0; r < rows.size(); ++r) {
    line = cell(std::to_string(r + 1), 0);
    for (int col = 1; col <= kPlanFileColumns; ++col) line += " | " + cell(rows[r][col - 1], col);
    std::cout << line << "\n";
  }
}

void RunShow(CliContext& context, const PlanOptions& options) {
  PlanFileContent content = ReadPlanFile(options.file);
  if (!content.ok) return context.Fail(content.error);
  if (options.json) {
    nlohmann::json rows = nlohmann::json::array();
    for (const auto& row : content.rows) rows.push_back(row);
    std::cout << rows.dump(2) << "\n";
    return;
  }
  PrintTable(content.rows);
}

void RunConvert(CliContext& context, const PlanOptions& options) {
  PlanFileContent content = ReadPlanFile(options.in);
  if (!content.ok) return context.Fail(content.error);
  StringGrid grid(17, 1);
  grid.SetRowCount(static_cast<int>(content.rows.size()) + 1);
  for (size_t r = 0; r < content.rows.size(); ++r) {
    int row = static_cast<int>(r) + 1;
    grid.SetCell(0, row, std::to_string(row));
    for (int col = 1; col <= kPlanFileColumns; ++col) grid.SetCell(col, row, content.rows[r][col - 1]);
  }
  if (grid.RowCount() < 2) grid.SetRowCount(2);
  std::string error;
  if (!SavePlanFile(grid, options.out, &error)) return context.Fail(error);
}

}  // namespace

void RegisterPlanCommands(CLI::App& app, CliContext& context) {
  auto options = std::make_shared<PlanOptions>();
  CLI::App* plan = app.add_subcommand("plan", "Observation plan files");
  plan->require_subcommand(1);
  CLI::App* show = plan->add_subcommand("show", "Print the rows of a plan file");
  show->add_option("FILE", options->file, "Plan file (.csv or .txt)")->required();
  show->add_flag("--json", options->json, "An array of rows, each the 16 cell texts of columns 1..16");
  show->callback([&context, options] { RunShow(context, *options); });
  CLI::App* convert = plan->add_subcommand("convert", "Load a plan file and save it again (CR LF, UTF-8)");
  convert->add_option("IN", options->in, "Plan file to read")->required();
  convert->add_option("OUT", options->out, "Plan file to write")->required();
  convert->callback([&context, options] { RunConvert(context, *options); });
}

}  // namespace noctarbel::cli
