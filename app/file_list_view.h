// The file list as the window shows it: check boxes, grid lines, whole-row selection, the seven columns at
// their widths, a progress bar in the "Progress" cells, files and folders dropped on it, and its keys.
#pragma once

#include <QStringList>
#include <QTableView>

namespace app {

class FileListModel;

class FileListView final : public QTableView {
  Q_OBJECT
 public:
  FileListView(FileListModel& model, QWidget* parent);

  // The files a drop names: files as they are, each folder's files that match the supported patterns,
  // sorted by name.
  static QStringList FilesOfDrop(const QStringList& paths);

 signals:
  void FilesDropped(const QStringList& files);
  void DeletePressed();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  FileListModel& model_;
};

}  // namespace app
