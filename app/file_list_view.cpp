#include "app/file_list_view.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

#include "app/file_list_model.h"
#include "app/open_dialog_filter.h"
#include "app/progress_delegate.h"

namespace app {
namespace {

constexpr int kRowHeight = 18;

bool CarriesFiles(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return false;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return true;
  }
  return false;
}

}  // namespace

FileListView::FileListView(FileListModel& model, QWidget* parent) : QTableView(parent), model_(model) {
  setObjectName(QStringLiteral("ListView1"));
  setModel(&model_);
  setItemDelegateForColumn(kColumnProgress, new ProgressDelegate(this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setTextElideMode(Qt::ElideMiddle);
  setAlternatingRowColors(false);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setAcceptDrops(true);
  setDropIndicatorShown(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  QHeaderView* header = horizontalHeader();
  header->setSectionsMovable(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(20);
  for (int column = 0; column < kFileColumnCount; ++column) {
    const FileColumnLook& look = LookOf(static_cast<FileColumn>(column));
    header->resizeSection(column, look.Width);
  }
}

QStringList FileListView::FilesOfDrop(const QStringList& paths) {
  QStringList files;
  const QStringList patterns = SupportedFilePatterns();
  for (const QString& path : paths) {
    const QFileInfo info(path);
    if (info.isDir()) {
      const QDir folder(path);
      for (const QFileInfo& entry :
           folder.entryInfoList(patterns, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase)) {
        files << entry.absoluteFilePath();
      }
    } else if (info.exists()) {
      files << info.absoluteFilePath();
    }
  }
  return files;
}

void FileListView::dragEnterEvent(QDragEnterEvent* event) {
  if (CarriesFiles(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void FileListView::dragMoveEvent(QDragMoveEvent* event) {
  if (CarriesFiles(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void FileListView::dropEvent(QDropEvent* event) {
  if (!CarriesFiles(event->mimeData())) {
    event->ignore();
    return;
  }
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  event->acceptProposedAction();
  const QStringList files = FilesOfDrop(paths);
  if (!files.isEmpty()) emit FilesDropped(files);
}

void FileListView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
    emit DeletePressed();
    return;
  }
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && currentIndex().isValid()) {
    const int row = currentIndex().row();
    model_.SetChecked(row, !model_.IsChecked(row));
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace app
