#pragma once
// Modal questions, messages and choices of files, folders and devices. The desktop program
// answers with dialogs, tests with scripted answers, the command line with fixed policies.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace noctarbel {

struct FileDialogRequest {
  std::string title;
  // Filter in the "description|pattern|description|pattern" form, e.g. "autopilot table|*.csv".
  std::string filter;
  std::string initialFolder;
  std::string initialName;
  std::string defaultExtension;
  bool confirmOverwrite = false;
};

class Ui {
 public:
  virtual ~Ui() = default;
  // An information box with an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // A Yes/No question; true for Yes.
  virtual bool Ask(const std::string& question) = 0;
  virtual std::optional<std::string> ChooseFileToOpen(const FileDialogRequest& request) = 0;
  virtual std::optional<std::string> ChooseFileToSave(const FileDialogRequest& request) = 0;
  virtual std::optional<std::string> ChooseFolder(const std::string& startFolder) = 0;
  // The device chooser: returns the chosen identifier, empty when cancelled.
  virtual std::string ChooseDevice(const std::string& deviceType, const std::string& preselected) = 0;
  virtual std::string ClipboardText() = 0;
  // The hourglass cursor during long operations.
  virtual void SetBusy(bool /*busy*/) {}
  // Shows or hides one of the secondary windows ("HorizonForm", "ImgShowform", ...); a modal
  // showing returns when the window closes. Headless, windows exist only as their controls.
  virtual void ShowForm(const std::string& /*form*/, bool /*modal*/) {}
  virtual void HideForm(const std::string& /*form*/) {}
};

// Answers from queues filled by a test; records every message and question.
class ScriptedUi : public Ui {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool Ask(const std::string& question) override;
  std::optional<std::string> ChooseFileToOpen(const FileDialogRequest& request) override;
  std::optional<std::string> ChooseFileToSave(const FileDialogRequest& request) override;
  std::optional<std::string> ChooseFolder(const std::string& startFolder) override;
  std::string ChooseDevice(const std::string& deviceType, const std::string& preselected) override;
  std::string ClipboardText() override { return clipboard; }
  void SetBusy(bool busy) override { busy_ = busy; }
  // A modal window runs the next scripted action (the operator's clicks in it) before it
  // returns, as the real one returns only when closed.
  void ShowForm(const std::string& form, bool modal) override {
    shownForms.push_back(form);
    if (modal && !modalActions.empty()) {
      auto action = std::move(modalActions.front());
      modalActions.pop_front();
      action();
    }
  }
  void HideForm(const std::string& form) override { hiddenForms.push_back(form); }

  bool Busy() const { return busy_; }
  std::string LastMessage() const { return messages.empty() ? std::string() : messages.back(); }

  std::deque<bool> answers;  // Ask: next answer; when empty, defaultAnswer
  bool defaultAnswer = false;
  std::deque<std::optional<std::string>> files;  // file dialogs; when empty, cancelled
  std::deque<std::optional<std::string>> folders;
  std::deque<std::string> devices;  // chooser results; when empty, cancelled
  std::string clipboard;
  std::deque<std::function<void()>> modalActions;

  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<FileDialogRequest> fileRequests;
  std::vector<std::string> deviceRequests;  // device types asked for
  std::vector<std::string> shownForms;
  std::vector<std::string> hiddenForms;

 private:
  bool busy_ = false;
};

}  // namespace noctarbel
