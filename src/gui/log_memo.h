#pragma once
// The log memo: shows the event log as it grows (a night may bring 100 000 lines), and hands
// what the operator types into it back to the log, so the log file holds it too.

#include <QPlainTextEdit>
#include <QTimer>

#include "station/event_log.h"

namespace noctarbel::gui {

class LogMemoView : public QPlainTextEdit {
  Q_OBJECT

 public:
  LogMemoView(EventLog& log, QWidget* parent);
  ~LogMemoView() override;

  // Hands pending operator edits to the log now.
  void CommitEdits();

 protected:
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void LogChanged(long index);
  void ShowWholeLog();

  EventLog& log_;
  int token_ = 0;
  bool writing_ = false;  // the memo is being changed from the log
  bool edited_ = false;   // the operator changed the text since the last hand-over
  QTimer commitTimer_;
};

}  // namespace noctarbel::gui
