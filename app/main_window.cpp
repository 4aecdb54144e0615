#include "app/main_window.h"
#include "app/local_names.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaObject>
#include <QProgressBar>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>

#include "app/file_list_view.h"
#include "app/intake_worker.h"
#include "app/job_logs.h"
#include "app/open_dialog_filter.h"
#include "app/preview_area.h"
#include "app/preview_panel.h"
#include "app/skins.h"
#include "app/window_position.h"
#include "profiles/parameter_lists.h"
#include "runtime/program_folder.h"

namespace app {
namespace {

constexpr int kClientWidth = 793;
constexpr int kClientHeight = 582;
constexpr int kStatusBarHeight = 21;

}  // namespace

TForm1::TForm1(WindowOptions options)
    : options_(std::move(options)),
      dialogs_(options_.DialogSeam ? std::move(options_.DialogSeam) : std::make_unique<QtDialogs>(this)),
      binding_(choices_, [this] { OutputFormatChanged(); }),
      vidrel_(std::make_unique<engine::TVidrel>()) {
  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(QStringLiteral("Tarvello Video Converter"));
  setWindowIcon(QIcon(QStringLiteral(":/pictures/tarvello.svg")));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // Tahoma where it is installed; Liberation Sans has nearly its widths, so the captions fit their places.
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  font.setPointSize(8);
  setFont(font);
  // The application's font too: a style sheet taken off again falls back to it, not to the window's.
  QApplication::setFont(font);

  state_.Choices = &choices_;
  settings_ = options_.SettingsFile.isEmpty()
                  ? std::make_unique<QSettings>(SettingsFormat(), QSettings::UserScope,
                                                SettingsOrganisation(), SettingsApplication())
                  : std::make_unique<QSettings>(options_.SettingsFile, SettingsFormat());
  logs_ = std::make_unique<JobLogs>(options_.LogFolder);

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  client->setFixedSize(kClientWidth, kClientHeight - kStatusBarHeight);
  setCentralWidget(client);
  BuildToolBar(client);
  list_ = new FileListView(files_, client);
  list_->setGeometry(0, 61, kClientWidth, 246);
  BuildOutputRow(client);
  BuildSettingsTabs(client);
  BuildPreviewPanel(client);
  BuildPreferences(client);
  BuildStatusBar();
  BuildMenus();
  BuildListMenu();
  setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

  profiles::FillOutputFormatList(choices_);
  profiles::FillPreferenceLists(choices_);

  engine_calls_ = new CrossThreadCalls(this);
  queue_ = std::make_unique<QueueController>(*this, files_, *vidrel_, logs_.get());
  intake_ = std::make_unique<IntakeWorker>(
      [this](const QString& path, const profiles::SourceFacts& facts) { AddIntakeRow(path, facts); },
      [this] { emit IntakeFinished(); });

  connect(button_open_, &QToolButton::clicked, this, &TForm1::ButtonOpenDVDClick);
  connect(button_remove_, &QToolButton::clicked, this, &TForm1::ButtonRemoveItemClick);
  connect(button_clear_, &QToolButton::clicked, this, &TForm1::ButtonClearListClick);
  connect(button_stop_, &QToolButton::clicked, queue_.get(), &QueueController::ButtonStopClick);
  connect(button_rip_, &QToolButton::clicked, queue_.get(), &QueueController::ButtonRipNowClick);
  connect(button_browse_, &QToolButton::clicked, this, &TForm1::ButtonBrowseForFolderClick);
  connect(list_, &FileListView::FilesDropped, this, &TForm1::AddFiles);
  connect(list_, &FileListView::DeletePressed, this, &TForm1::ButtonRemoveItemClick);
  connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) ListView1SelectItem(current.row());
          });
  connect(volume_, &QSpinBox::valueChanged, this, [this](int value) { choices_.OutputVolume = value; });
  connect(overwrite_check_, &QCheckBox::toggled, this, [this](bool on) { choices_.Overwrite = on; });
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int tab) { state_.ActiveTab = tab; });
  auto* open_keys = new QShortcut(QKeySequence::Open, this);
  connect(open_keys, &QShortcut::activated, this, &TForm1::ButtonOpenDVDClick);
  for (const QKeySequence& keys :
       {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
    auto* convert_keys = new QShortcut(keys, this);
    connect(convert_keys, &QShortcut::activated, queue_.get(), &QueueController::ButtonRipNowClick);
  }

  libraries_bound_ = vidrel_->LoadMediaLibraries(LibraryFolder());
  if (libraries_bound_) ConnectEngine();
  ApplyChoicesToWidgets();
}

TForm1::~TForm1() {
  queue_->Shutdown();
  intake_->Cancel();
  // The engine goes first: stopping it still delivers events to the queue and the window.
  vidrel_.reset();
  queue_.reset();
}

void TForm1::ConnectEngine() {
  engine::TVidrel& vidrel = *vidrel_;
  vidrel.SetOnProgress([this](engine::TCustomVidrel&, engine::PProgressInfo info) {
    if (info != nullptr) queue_->VidrelProgress(*info);
  });
  vidrel.SetOnPreviewBitmap([this](engine::TCustomVidrel&, const engine::TPreviewInfo& info) {
    queue_->VidrelPreviewBitmap(info);
  });
  // Terminations come on threads of their own: only a call queued to the window crosses over.
  vidrel.SetOnTerminate([this](engine::TCustomVidrel&, const engine::TTerminateInfo& info) {
    engine_calls_->Post([this, info] { queue_->VidrelTerminate(info); });
  });
}

void TForm1::RestoreSettings() {
  LoadSettings(*settings_, state_, &IsKnownSkin);
  if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
    ApplySkin(*application, state_.SkinsOn, state_.SkinName);
  }
  CheckSkinItem();
  tabs_->setCurrentIndex(state_.ActiveTab);
  ApplyChoicesToWidgets();
}

void TForm1::ApplyChoicesToWidgets() {
  binding_.Refresh();
  edit_output_folder_->setText(FromLocalName(choices_.OutputFolder));
  overwrite_check_->setChecked(choices_.Overwrite);
  volume_->setValue(choices_.OutputVolume);
}

void TForm1::OutputFormatChanged() {
  files_.SetColumnText(kColumnOutput, QString::fromStdString(choices_.CurrentFormatCode));
}

bool TForm1::IntakeRunning() const {
  return intake_->Running();
}

void TForm1::ButtonOpenDVDClick() {
  if (IntakeRunning() || queue_->Converting() || queue_->Running()) return;
  const QStringList files = dialogs_->ChooseFiles(OpenDialogFilter());
  if (files.isEmpty()) return;
  AddFiles(files);
}

void TForm1::AddFiles(const QStringList& files) {
  if (files.isEmpty() || IntakeRunning() || queue_->Running()) return;
  vidrel_->ClearTasks();
  files_.SetColumnText(kColumnProgress, {});
  files_.SetColumnText(kColumnFrames, {});
  intake_->Start(files, vidrel_->Probe());
}

void TForm1::AddIntakeRow(const QString& path, const profiles::SourceFacts& facts) {
  FileRow row;
  row.Texts[kColumnVideoFiles] = path;
  if (facts.Opened) {
    row.Texts[kColumnSize] = QString::fromStdString(facts.SizeColumn);
    row.Texts[kColumnDuration] = QString::fromStdString(facts.DurationColumn);
    row.Texts[kColumnOutput] = QString::fromStdString(choices_.CurrentFormatCode);
  } else {
    row.Texts[kColumnProgress] = QStringLiteral("Error");
    row.FailureReason = QString::fromStdString(facts.ProbeError);
  }
  const int added = files_.Append(std::move(row));
  // Once the list has grown its scroll range for the new row, so that the row is shown whole.
  QMetaObject::invokeMethod(
      list_,
      [this, added] {
        if (added < files_.Count()) list_->scrollTo(files_.index(added, 0));
      },
      Qt::QueuedConnection);
}

void TForm1::ButtonRemoveItemClick() {
  if (controls_locked_) return;
  const QModelIndex current = list_->currentIndex();
  if (!current.isValid() || !list_->selectionModel()->isRowSelected(current.row(), {})) return;
  const int row = current.row();
  files_.Remove(row);
  if (row == selected_index_) {
    selected_index_ = -1;
    selected_file_.clear();
  }
}

void TForm1::ButtonClearListClick() {
  if (controls_locked_) return;
  files_.Clear();
  selected_index_ = -1;
  selected_file_.clear();
}

void TForm1::SetAllChecked(bool checked) {
  files_.SetAllChecked(checked);
}

void TForm1::ButtonBrowseForFolderClick() {
  if (queue_->JobActive() || queue_->Converting()) return;
  const std::optional<QString> folder = dialogs_->ChooseFolder(
      QStringLiteral("Please choose your output folder: "), edit_output_folder_->text());
  if (!folder) return;
  choices_.OutputFolder = ToLocalName(folder->trimmed());
  edit_output_folder_->setText(folder->trimmed());
}

void TForm1::ListView1SelectItem(int row) {
  if (queue_->Converting()) return;
  if (row < 0 || row >= files_.Count()) return;
  const int before = selected_index_;
  selected_index_ = row;
  selected_file_ = files_.Caption(row);
  if (before != row) StopPreview(false);
}

void TForm1::ShowLogOfSelected() {
  if (selected_index_ < 0 || selected_index_ >= files_.Count()) return;
  const QString log = files_.Row(selected_index_).LogFile;
  if (!log.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(log));
}

void TForm1::OpenOutputFolder() {
  const QString folder = edit_output_folder_->text().trimmed();
  if (folder.isEmpty() || !IsLocalFolder(folder)) {
    dialogs_->Information(QStringLiteral("Please select an output folder!"));
    return;
  }
  QDesktopServices::openUrl(LocalUrlOf(folder));
}

void TForm1::SelectRow(int row) {
  list_->selectRow(row);
  selected_index_ = row;
  selected_file_ = files_.Caption(row);
}

void TForm1::ScrollToRow(int row) {
  list_->scrollTo(files_.index(row, 0));
}

void TForm1::LockControls(bool locked) {
  controls_locked_ = locked;
  for (QWidget* control : std::initializer_list<QWidget*>{tabs_, preferences_, combo_output_format_,
                                                          button_open_, button_remove_, button_clear_,
                                                          button_rip_, &preview_panel_->Slider()}) {
    control->setEnabled(!locked);
  }
  for (QMenu* menu : top_menus_)
    menu->menuAction()->setEnabled(!locked);
  if (!locked) {
    SetProgressBar(0);
    size_panel_->clear();
    // Focus had to leave the disabled controls; it goes back to the list, not to the read-only folder.
    list_->setFocus();
  }
}

void TForm1::SetProgressBar(int percent) {
  if (percent == kBusyProgress) {
    progress_bar_->setRange(0, 0);
    return;
  }
  progress_bar_->setRange(0, 100);
  progress_bar_->setValue(percent);
}

void TForm1::SetSizePanel(const QString& text) {
  size_panel_->setText(text);
}

void TForm1::StopPreview(bool wait) {
  preview_panel_->StopPreview(wait);
}

void TForm1::ShowPreviewFrame(const runtime::Bitmap& bitmap) {
  preview_panel_->ShowConversionFrame(bitmap);
}

QString TForm1::SelectedFile() const {
  if (selected_index_ < 0 || selected_index_ >= files_.Count()) return {};
  return selected_file_;
}

QString TForm1::OutputFolderText() const {
  return edit_output_folder_->text();
}

std::filesystem::path TForm1::LibraryFolder() const {
  return options_.LibraryFolder.isEmpty() ? runtime::ProgramFolder()
                                          : std::filesystem::path(ToLocalName(options_.LibraryFolder));
}

bool TForm1::PreviewDuringConversion() const {
  return preview_check_->isChecked();
}

void TForm1::PlaceAtRestoredPosition() {
  std::vector<QRect> screens;
  if (QScreen* primary = QGuiApplication::primaryScreen()) screens.push_back(primary->availableGeometry());
  for (QScreen* screen : QGuiApplication::screens()) {
    if (screen != QGuiApplication::primaryScreen()) screens.push_back(screen->availableGeometry());
  }
  move(PlaceWindow(QPoint(state_.SavedLeft, state_.SavedTop), frameGeometry().size(), screens));
}

bool TForm1::event(QEvent* event) {
  // The restored position is taken once, when the window first becomes active: later activations (closing
  // the About window, say) leave the user's own moves alone.
  if (event->type() == QEvent::Show && !placed_) {
    placed_ = true;
    PlaceAtRestoredPosition();
  }
  return QMainWindow::event(event);
}

void TForm1::SaveSettingsNow() {
  state_.WindowLeft = pos().x();
  state_.WindowTop = pos().y();
  state_.ActiveTab = tabs_->currentIndex();
  SaveSettings(*settings_, state_);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!leave_without_saving_ && !queue_->MayClose()) {
    event->ignore();
    return;
  }
  queue_->Shutdown();
  if (leave_without_saving_ && queue_->Converting()) vidrel_->StopTask(true);
  intake_->Cancel();
  if (!leave_without_saving_) SaveSettingsNow();
  event->accept();
}

}  // namespace app
