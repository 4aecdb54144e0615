// The file list: one row per input file with its check box and seven columns. The window's list view, the
// intake, the queue and the tests all read and change the rows through this model.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <vector>

namespace app {

enum FileColumn {
  kColumnVideoFiles,
  kColumnSize,
  kColumnDuration,
  kColumnOutput,
  kColumnTimeRemaining,
  kColumnProgress,
  kColumnFrames,
  kFileColumnCount
};

// The caption and width each column has in the list.
struct FileColumnLook {
  const char* Caption;
  int Width;
  Qt::Alignment Alignment;
};
const FileColumnLook& LookOf(FileColumn column);

enum FileListRole {
  // The value behind a cell: the percentage (kNoProgress, kBusyProgress) for "Progress", else the text.
  kRawValueRole = Qt::UserRole,
  kProgressRole,
};
constexpr int kNoProgress = -1;    // no bar behind the "Progress" text
constexpr int kBusyProgress = -2;  // the job runs but its length is unknown

struct FileRow {
  bool Checked = true;
  std::array<QString, kFileColumnCount> Texts;  // Texts[kColumnVideoFiles] is the caption: the full path
  int Progress = kNoProgress;
  QString FailureReason;  // why a "Fail" row failed, in the engine's words
  QString LogFile;        // the log of the row's last conversion
};

class FileListModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  int Count() const { return static_cast<int>(rows_.size()); }
  const FileRow& Row(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
  QString Caption(int row) const { return Row(row).Texts[kColumnVideoFiles]; }
  QString Text(int row, FileColumn column) const { return Row(row).Texts[column]; }
  bool IsChecked(int row) const { return Row(row).Checked; }

  int Append(FileRow row);
  void Remove(int row);
  void Clear();
  void SetChecked(int row, bool checked);
  void SetAllChecked(bool checked);
  void SetText(int row, FileColumn column, const QString& text);
  // The same text in one column of every row, in one change.
  void SetColumnText(FileColumn column, const QString& text);
  void SetProgress(int row, int progress);
  void SetFailureReason(int row, const QString& reason);
  void SetLogFile(int row, const QString& path);

 private:
  void RowChanged(int row, FileColumn first, FileColumn last);
  std::vector<FileRow> rows_;
};

}  // namespace app
