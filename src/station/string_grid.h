#pragma once
// A grid of text cells: the plan table and the filter and focus tables. Row 0 holds the
// titles; column 0 the row numbers.

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace noctarbel {

class StringGrid {
 public:
  StringGrid(int colCount, int rowCount);

  int ColCount() const { return colCount_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Grows with empty rows or drops rows at the end.
  void SetRowCount(int rowCount);

  // Outside the grid: empty text.
  const std::string& Cell(int col, int row) const;
  // Outside the grid: ignored.
  void SetCell(int col, int row, std::string text);
  const std::vector<std::string>& Row(int row) const;

  void ClearRow(int row);
  // Moves rows row.. down by one and puts an empty row at `row`.
  void InsertRow(int row);
  // Removes the row; the rows below move up.
  void RemoveRow(int row);

  // The current cell (the operator's selection), as the grid's Row and Col.
  int CurrentRow() const { return currentRow_; }
  int CurrentCol() const { return currentCol_; }
  void SetCurrent(int col, int row);

  // Observers are told about every change: (col, row) of a cell, or (-1, -1) for a change of
  // the grid's shape or many cells.
  using Listener = std::function<void(int col, int row)>;
  int Subscribe(Listener listener);
  void Unsubscribe(int token);

  // Observers of the current cell (the executor selects the row that runs).
  int SubscribeCurrent(std::function<void()> listener);
  void UnsubscribeCurrent(int token);

  // Runs `change` and tells the observers once, as a change of the whole grid.
  void Batch(const std::function<void()>& change);

 private:
  void Notify(int col, int row);

  int colCount_;
  std::vector<std::vector<std::string>> rows_;
  int currentRow_ = 1;
  int currentCol_ = 1;
  std::map<int, Listener> listeners_;
  std::map<int, std::function<void()>> currentListeners_;
  int nextToken_ = 1;
  int batchDepth_ = 0;
};

}  // namespace noctarbel
