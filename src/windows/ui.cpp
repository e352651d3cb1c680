#include "windows/ui.h"

namespace noctarbel {

bool ScriptedUi::Ask(const std::string& question) {
  questions.push_back(question);
  if (answers.empty()) return defaultAnswer;
  bool answer = answers.front();
  answers.pop_front();
  return answer;
}

std::optional<std::string> ScriptedUi::ChooseFileToOpen(const FileDialogRequest& request) {
  fileRequests.push_back(request);
  if (files.empty()) return std::nullopt;
  auto next = files.front();
  files.pop_front();
  return next;
}

std::optional<std::string> ScriptedUi::ChooseFileToSave(const FileDialogRequest& request) {
  return ChooseFileToOpen(request);
}

std::optional<std::string> ScriptedUi::ChooseFolder(const std::string& /*startFolder*/) {
  if (folders.empty()) return std::nullopt;
  auto next = folders.front();
  folders.pop_front();
  return next;
}

std::string ScriptedUi::ChooseDevice(const std::string& deviceType, const std::string& /*preselected*/) {
  deviceRequests.push_back(deviceType);
  if (devices.empty()) return {};
  std::string next = devices.front();
  devices.pop_front();
  return next;
}

}  // namespace noctarbel
