#include "gui/log_memo.h"

#include <QScrollBar>
#include <QStringList>

namespace noctarbel::gui {

namespace {
// Typing is handed over after a short quiet spell rather than at every key.
constexpr int kCommitDelayMs = 700;
}  // namespace

LogMemoView::LogMemoView(EventLog& log, QWidget* parent) : QPlainTextEdit(parent), log_(log) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setUndoRedoEnabled(false);  // an undo stack over a whole night's log costs memory for nothing
  setMaximumBlockCount(0);
  commitTimer_.setSingleShot(true);
  commitTimer_.setInterval(kCommitDelayMs);
  connect(&commitTimer_, &QTimer::timeout, this, &LogMemoView::CommitEdits);
  connect(this, &QPlainTextEdit::textChanged, this, [this] {
    if (writing_) return;
    edited_ = true;
    commitTimer_.start();
  });
  ShowWholeLog();
  token_ = log_.Subscribe([this](long index) { LogChanged(index); });
}

LogMemoView::~LogMemoView() {
  log_.Unsubscribe(token_);
  CommitEdits();
}

void LogMemoView::LogChanged(long index) {
  if (writing_) return;  // our own hand-over
  if (index < 0) {
    ShowWholeLog();
    return;
  }
  writing_ = true;
  // The memo is always the log plus the operator's edits, so a pending hand-over stays right.
  appendPlainText(QString::fromStdString(log_.Lines()[static_cast<size_t>(index)]));
  writing_ = false;
}

void LogMemoView::ShowWholeLog() {
  QStringList lines;
  lines.reserve(static_cast<qsizetype>(log_.Size()));
  for (const auto& line : log_.Lines()) lines << QString::fromStdString(line);
  writing_ = true;
  setPlainText(lines.join(QLatin1Char('\n')));
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  writing_ = false;
  edited_ = false;
}

void LogMemoView::CommitEdits() {
  commitTimer_.stop();
  if (!edited_) return;
  edited_ = false;
  std::vector<std::string> lines;
  const QStringList text = toPlainText().split(QLatin1Char('\n'));
  lines.reserve(static_cast<size_t>(text.size()));
  for (const auto& line : text) lines.push_back(line.toStdString());
  // An empty memo is no lines, not one empty line.
  if (lines.size() == 1 && lines.front().empty()) lines.clear();
  writing_ = true;
  log_.ReplaceAll(std::move(lines));
  writing_ = false;
}

void LogMemoView::focusOutEvent(QFocusEvent* event) {
  CommitEdits();
  QPlainTextEdit::focusOutEvent(event);
}

}  // namespace noctarbel::gui
