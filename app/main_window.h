// The main window, TForm1: assembles the toolbar, the file list, the output row, the settings tabs, the
// preview panel, the preferences and the status bar, and connects them to the intake, the queue, the
// settings and the skins. The logic lives in those parts and in profiles/ and engine/.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <memory>

#include "app/choice_binding.h"
#include "app/cross_thread_calls.h"
#include "app/dialogs.h"
#include "app/file_list_model.h"
#include "app/preview_panel.h"
#include "app/queue_controller.h"
#include "app/settings_store.h"
#include "engine/vidrel.h"
#include "profiles/source_facts.h"
#include "profiles/window_choices.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QSettings;
class QSlider;
class QSpinBox;
class QTabWidget;
class QToolButton;

namespace app {

class FileListView;
class IntakeWorker;
class JobLogs;
class PreviewArea;

struct WindowOptions {
  QString SettingsFile;                 // empty: the user's settings store; else an INI file (tests)
  QString LogFolder;                    // empty: the user's state folder
  QString LibraryFolder;                // empty: the program's folder
  std::unique_ptr<Dialogs> DialogSeam;  // null: the real Qt dialogs
};

class TForm1 final : public QMainWindow, public QueueHost, public PreviewHost {
  Q_OBJECT
 public:
  explicit TForm1(WindowOptions options = {});
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // False when the media libraries could not be bound: the program shows its message and ends.
  bool LibrariesBound() const { return libraries_bound_; }
  // Restores the settings (the About window's creation does this at start-up).
  void RestoreSettings();
  // Adds files as " Add Video" does after its dialog.
  void AddFiles(const QStringList& files);

  // The parts, for the program's start and for tests.
  FileListModel& Files() { return files_; }
  QueueController& Queue() { return *queue_; }
  profiles::WindowChoices& Choices() override { return choices_; }
  ChoiceBinding& Binding() { return binding_; }
  const ShellState& State() const { return state_; }
  engine::TVidrel& Vidrel() { return *vidrel_; }
  bool IntakeRunning() const override;
  PreviewPanel& Panel() { return *preview_panel_; }
  PreviewArea& Preview() { return preview_panel_->Area(); }
  // A menu or toolbar action by its object name ("actionExit", "actionSkin51", ...).
  QAction* Action(const QString& name) const;
  bool ControlsLocked() const { return controls_locked_; }

  // The handlers, by the names the window's controls give them.
  void ButtonOpenDVDClick();
  void ButtonRemoveItemClick();
  void ButtonClearListClick();
  void ButtonBrowseForFolderClick();
  void SkinChosen(int tag);
  void SetAllChecked(bool checked);
  void ListView1SelectItem(int row);
  void ShowLogOfSelected();
  void OpenOutputFolder();

 signals:
  // Every file of the intake has its row.
  void IntakeFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // QueueHost and PreviewHost.
  Dialogs& Dialog() override { return *dialogs_; }
  void BrowseForFolder() override { ButtonBrowseForFolderClick(); }
  void SelectRow(int row) override;
  void ScrollToRow(int row) override;
  void LockControls(bool locked) override;
  void SetProgressBar(int percent) override;
  void SetSizePanel(const QString& text) override;
  void StopPreview(bool wait) override;
  void ShowPreviewFrame(const runtime::Bitmap& bitmap) override;
  bool PreviewDuringConversion() const override;
  // PreviewHost. A run counts from "Convert Now" to its end, also between two jobs: a preview started in that
  // gap would play on beside the next conversion.
  bool Converting() const override { return queue_->Running(); }
  bool JobActive() const override { return queue_->JobActive(); }
  QString SelectedFile() const override;
  QString OutputFolderText() const override;
  std::filesystem::path LibraryFolder() const override;

  void BuildToolBar(QWidget* client);
  void BuildOutputRow(QWidget* client);
  void BuildSettingsTabs(QWidget* client);
  void BuildPreviewPanel(QWidget* client);
  void BuildPreferences(QWidget* client);
  void BuildStatusBar();
  void BuildMenus();
  void BuildListMenu();
  void ConnectEngine();
  void ApplyChoicesToWidgets();
  void OutputFormatChanged();
  void AddIntakeRow(const QString& path, const profiles::SourceFacts& facts);
  void CheckSkinItem();
  void PlaceAtRestoredPosition();
  void SaveSettingsNow();

  WindowOptions options_;
  std::unique_ptr<Dialogs> dialogs_;
  std::unique_ptr<QSettings> settings_;
  profiles::WindowChoices choices_;
  ShellState state_;
  FileListModel files_;
  ChoiceBinding binding_;
  std::unique_ptr<JobLogs> logs_;
  std::unique_ptr<QueueController> queue_;
  std::unique_ptr<IntakeWorker> intake_;
  // The engine's terminations, which come on threads of their own, on their way to the main thread. A child
  // of the window: it outlives the engine, whose last terminations it then drops.
  CrossThreadCalls* engine_calls_ = nullptr;
  // Destroyed first (see the destructor): its last events still reach the queue and the window.
  std::unique_ptr<engine::TVidrel> vidrel_;

  bool libraries_bound_ = false;
  bool controls_locked_ = false;
  bool placed_ = false;
  bool leave_without_saving_ = false;
  int selected_index_ = -1;
  QString selected_file_;

  FileListView* list_ = nullptr;
  QWidget* tool_bar_ = nullptr;
  QToolButton* button_open_ = nullptr;
  QToolButton* button_remove_ = nullptr;
  QToolButton* button_clear_ = nullptr;
  QToolButton* button_stop_ = nullptr;
  QToolButton* button_rip_ = nullptr;
  QComboBox* combo_output_format_ = nullptr;
  QLineEdit* edit_output_folder_ = nullptr;
  QToolButton* button_browse_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  PreviewPanel* preview_panel_ = nullptr;
  QGroupBox* preferences_ = nullptr;
  QSpinBox* volume_ = nullptr;
  QCheckBox* preview_check_ = nullptr;
  QCheckBox* overwrite_check_ = nullptr;
  QLabel* size_panel_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QLabel* state_panel_ = nullptr;
  QMenu* list_menu_ = nullptr;
  QList<QMenu*> top_menus_;
};

}  // namespace app
