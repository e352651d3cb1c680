#include "station/string_grid.h"

#include <algorithm>

namespace noctarbel {

namespace {
const std::string kEmpty;
const std::vector<std::string> kEmptyRow;
}  // namespace

StringGrid::StringGrid(int colCount, int rowCount) : colCount_(std::max(colCount, 1)) {
  rows_.assign(static_cast<size_t>(std::max(rowCount, 0)), std::vector<std::string>(static_cast<size_t>(colCount_)));
}

void StringGrid::SetRowCount(int rowCount) {
  rowCount = std::max(rowCount, 0);
  if (rowCount == RowCount()) return;
  rows_.resize(static_cast<size_t>(rowCount), std::vector<std::string>(static_cast<size_t>(colCount_)));
  if (currentRow_ >= rowCount) currentRow_ = std::max(rowCount - 1, 0);
  Notify(-1, -1);
}

const std::string& StringGrid::Cell(int col, int row) const {
  if (col < 0 || col >= colCount_ || row < 0 || row >= RowCount()) return kEmpty;
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(col)];
}

void StringGrid::SetCell(int col, int row, std::string text) {
  if (col < 0 || col >= colCount_ || row < 0 || row >= RowCount()) return;
  std::string& cell = rows_[static_cast<size_t>(row)][static_cast<size_t>(col)];
  if (cell == text) return;
  cell = std::move(text);
  Notify(col, row);
}

const std::vector<std::string>& StringGrid::Row(int row) const {
  if (row < 0 || row >= RowCount()) return kEmptyRow;
  return rows_[static_cast<size_t>(row)];
}

void StringGrid::ClearRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  for (auto& cell : rows_[static_cast<size_t>(row)]) cell.clear();
  Notify(-1, -1);
}

void StringGrid::InsertRow(int row) {
  row = std::clamp(row, 0, RowCount());
  rows_.insert(rows_.begin() + row, std::vector<std::string>(static_cast<size_t>(colCount_)));
  Notify(-1, -1);
}

void StringGrid::RemoveRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  rows_.erase(rows_.begin() + row);
  if (currentRow_ >= RowCount()) currentRow_ = std::max(RowCount() - 1, 0);
  Notify(-1, -1);
}

void StringGrid::SetCurrent(int col, int row) {
  if (col == currentCol_ && row == currentRow_) return;
  currentCol_ = col;
  currentRow_ = row;
  auto listeners = currentListeners_;
  for (auto& [token, listener] : listeners) listener();
}

int StringGrid::SubscribeCurrent(std::function<void()> listener) {
  int token = nextToken_++;
  currentListeners_.emplace(token, std::move(listener));
  return token;
}

void StringGrid::UnsubscribeCurrent(int token) { currentListeners_.erase(token); }

int StringGrid::Subscribe(Listener listener) {
  int token = nextToken_++;
  listeners_.emplace(token, std::move(listener));
  return token;
}

void StringGrid::Unsubscribe(int token) { listeners_.erase(token); }

void StringGrid::Batch(const std::function<void()>& change) {
  ++batchDepth_;
  change();
  --batchDepth_;
  Notify(-1, -1);
}

void StringGrid::Notify(int col, int row) {
  if (batchDepth_ > 0) return;
  auto listeners = listeners_;
  for (auto& [token, listener] : listeners) listener(col, row);
}

}  // namespace noctarbel
