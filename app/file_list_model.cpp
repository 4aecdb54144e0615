#include "app/file_list_model.h"

namespace app {
namespace {

constexpr std::array<FileColumnLook, kFileColumnCount> kColumns = {{
    {"Video Files ", 230, Qt::AlignLeft | Qt::AlignVCenter},
    {"Size", 90, Qt::AlignCenter},
    {"Duration", 80, Qt::AlignCenter},
    {"Output", 80, Qt::AlignCenter},
    {"Time Remaining", 115, Qt::AlignCenter},
    {"Progress", 90, Qt::AlignCenter},
    {"Frames", 80, Qt::AlignCenter},
}};

}  // namespace

const FileColumnLook& LookOf(FileColumn column) {
  return kColumns.at(static_cast<std::size_t>(column));
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

int FileListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kFileColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count() || index.column() >= kFileColumnCount) return {};
  const FileRow& row = Row(index.row());
  const auto column = static_cast<FileColumn>(index.column());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return row.Texts[column];
    case Qt::CheckStateRole:
      if (column == kColumnVideoFiles) return row.Checked ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(LookOf(column).Alignment);
    case Qt::ToolTipRole:
      if (!row.FailureReason.isEmpty()) return row.FailureReason;
      return column == kColumnVideoFiles ? row.Texts[column] : QVariant();
    case kRawValueRole:
      if (column == kColumnProgress) return row.Progress;
      return row.Texts[column];
    case kProgressRole:
      return row.Progress;
    default:
      return {};
  }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kFileColumnCount) return {};
  const FileColumnLook& look = LookOf(static_cast<FileColumn>(section));
  if (role == Qt::DisplayRole) return QString::fromLatin1(look.Caption);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(look.Alignment);
  return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kColumnVideoFiles) result |= Qt::ItemIsUserCheckable;
  return result;
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.column() != kColumnVideoFiles) return false;
  SetChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
  return true;
}

int FileListModel::Append(FileRow row) {
  const int at = Count();
  beginInsertRows({}, at, at);
  rows_.push_back(std::move(row));
  endInsertRows();
  return at;
}

void FileListModel::Remove(int row) {
  if (row < 0 || row >= Count()) return;
  beginRemoveRows({}, row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void FileListModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void FileListModel::SetChecked(int row, bool checked) {
  if (row < 0 || row >= Count() || rows_[static_cast<std::size_t>(row)].Checked == checked) return;
  rows_[static_cast<std::size_t>(row)].Checked = checked;
  RowChanged(row, kColumnVideoFiles, kColumnVideoFiles);
}

void FileListModel::SetAllChecked(bool checked) {
  for (FileRow& row : rows_)
    row.Checked = checked;
  if (Count() > 0) emit dataChanged(index(0, 0), index(Count() - 1, 0), {Qt::CheckStateRole});
}

void FileListModel::SetText(int row, FileColumn column, const QString& text) {
  if (row < 0 || row >= Count()) return;
  QString& cell = rows_[static_cast<std::size_t>(row)].Texts[column];
  if (cell == text) return;
  cell = text;
  RowChanged(row, column, column);
}

void FileListModel::SetColumnText(FileColumn column, const QString& text) {
  for (FileRow& row : rows_) {
    row.Texts[column] = text;
    if (column == kColumnProgress) {
      row.Progress = kNoProgress;
      row.FailureReason.clear();
    }
  }
  if (Count() > 0) emit dataChanged(index(0, column), index(Count() - 1, column));
}

void FileListModel::SetProgress(int row, int progress) {
  if (row < 0 || row >= Count() || rows_[static_cast<std::size_t>(row)].Progress == progress) return;
  rows_[static_cast<std::size_t>(row)].Progress = progress;
  RowChanged(row, kColumnProgress, kColumnProgress);
}

void FileListModel::SetFailureReason(int row, const QString& reason) {
  if (row < 0 || row >= Count()) return;
  rows_[static_cast<std::size_t>(row)].FailureReason = reason;
  RowChanged(row, kColumnVideoFiles, kColumnFrames);
}

void FileListModel::SetLogFile(int row, const QString& path) {
  if (row < 0 || row >= Count()) return;
  rows_[static_cast<std::size_t>(row)].LogFile = path;
}

void FileListModel::RowChanged(int row, FileColumn first, FileColumn last) {
  emit dataChanged(index(row, first), index(row, last));
}

}  // namespace app
