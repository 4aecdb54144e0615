#include "app/file_list_view.h"

#include <unistd.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include "app/file_list_model.h"
#include "app/local_names.h"
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
  // Through the file system's own bytes, so that names which are not valid UTF-8 are found and kept.
  namespace fs = std::filesystem;
  QStringList files;
  const QStringList patterns = SupportedFilePatterns();
  for (const QString& path : paths) {
    std::error_code error;
    const fs::path local = fs::absolute(fs::path(ToLocalName(path)), error).lexically_normal();
    if (error) continue;
    if (fs::is_directory(local, error)) {
      std::vector<std::pair<QString, QString>> found;  // (name, full path)
      for (const fs::directory_entry& entry : fs::directory_iterator(local, error)) {
        std::error_code entry_error;
        if (!entry.is_regular_file(entry_error) || ::access(entry.path().c_str(), R_OK) != 0) continue;
        const QString name = FromLocalName(entry.path().filename().string());
        // The patterns are matched as UTF-16, which the kept bytes are not: they match as U+FFFD.
        QString matched = name;
        for (QChar& unit : matched) {
          if (unit.isSurrogate()) unit = QChar::ReplacementCharacter;
        }
        if (QDir::match(patterns, matched)) found.emplace_back(name, FromLocalName(entry.path().string()));
      }
      std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return QString::compare(a.first, b.first, Qt::CaseInsensitive) < 0;
      });
      for (const auto& entry : found)
        files << entry.second;
    } else if (fs::exists(local, error)) {
      files << FromLocalName(local.string());
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
    if (url.isLocalFile()) paths << NameOfLocalUrl(url);
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
