#include "gui/string_grid_view.h"

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <algorithm>

namespace noctarbel::gui {

StringGridModel::StringGridModel(StringGrid& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {
  token_ = grid_.Subscribe([this](int col, int row) { GridChanged(col, row); });
  currentToken_ = grid_.SubscribeCurrent([this] { emit CurrentMoved(); });
}

StringGridModel::~StringGridModel() {
  grid_.Unsubscribe(token_);
  grid_.UnsubscribeCurrent(currentToken_);
}

int StringGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(grid_.RowCount() - 1, 0);
}

int StringGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : grid_.ColCount(); }

QVariant StringGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    return QString::fromStdString(grid_.Cell(index.column(), index.row() + 1));
  }
  if (role == Qt::TextAlignmentRole && index.column() == 0) return int(Qt::AlignCenter);
  if (index.row() + 1 == markedRow_) {
    if (role == Qt::BackgroundRole) return QColor(30, 110, 50);
    if (role == Qt::ForegroundRole) return QColor(Qt::white);
    if (role == Qt::FontRole) {
      QFont bold;
      bold.setBold(true);
      return bold;
    }
  }
  return {};
}

void StringGridModel::SetMarkedRow(int row) {
  if (row == markedRow_) return;
  const int before = markedRow_;
  markedRow_ = row;
  for (int r : {before, row}) {
    if (r >= 1 && r < grid_.RowCount()) emit dataChanged(index(r - 1, 0), index(r - 1, grid_.ColCount() - 1));
  }
}

bool StringGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || index.column() == 0) return false;
  grid_.SetCell(index.column(), index.row() + 1, value.toString().toStdString());
  return true;
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return QString::fromStdString(grid_.Cell(section, 0));
  return section + 1;
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() > 0) f |= Qt::ItemIsEditable;
  return f;
}

void StringGridModel::GridChanged(int col, int row) {
  if (col < 0 || row < 0) {
    // The grid has already changed: a reset makes the views read it anew.
    beginResetModel();
    endResetModel();
    emit GridReset();
  } else if (row == 0) {
    emit headerDataChanged(Qt::Horizontal, col, col);
  } else {
    QModelIndex cell = index(row - 1, col);
    emit dataChanged(cell, cell);
  }
}

StringGridView::StringGridView(StringGrid& grid, QWidget* parent) : QTableView(parent) {
  model_ = new StringGridModel(grid, this);
  setModel(model_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
  setTabKeyNavigation(true);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  setAlternatingRowColors(true);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
    if (current.isValid()) model_->Grid().SetCurrent(current.column(), current.row() + 1);
  });
  connect(model_, &StringGridModel::GridReset, this, &StringGridView::ShowCurrentCell);
  connect(model_, &StringGridModel::CurrentMoved, this, &StringGridView::ShowCurrentCell);
  ShowCurrentCell();
}

void StringGridView::SetColumnWidths(const std::vector<int>& widths) {
  for (int col = 0; col < static_cast<int>(widths.size()) && col < model_->columnCount(); ++col) {
    QString title = model_->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
    int needed = horizontalHeader()->fontMetrics().horizontalAdvance(title) + 14;
    setColumnWidth(col, std::max(widths[static_cast<size_t>(col)], needed));
  }
}

void StringGridView::ShowCurrentCell() {
  const StringGrid& grid = model_->Grid();
  int row = std::clamp(grid.CurrentRow(), 1, std::max(grid.RowCount() - 1, 1)) - 1;
  int col = std::clamp(grid.CurrentCol(), 0, grid.ColCount() - 1);
  QModelIndex cell = model_->index(row, col);
  if (cell.isValid() && cell != currentIndex()) setCurrentIndex(cell);
}

}  // namespace noctarbel::gui
