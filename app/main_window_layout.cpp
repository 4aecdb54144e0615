// The main window's areas, each control at its place: a fixed window, so every position is given.
#include <QCheckBox>
#include <QGuiApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

#include "app/main_window.h"
#include "app/preview_panel.h"

namespace app {
namespace {

using profiles::WindowChoices;

constexpr int kToolBarHeight = 61;
constexpr int kListTop = kToolBarHeight;
constexpr int kListHeight = 246;
constexpr int kOutputRowTop = kListTop + kListHeight;
constexpr int kSettingsTop = kOutputRowTop + 33;

QLabel* Label(QWidget* parent, const QString& text, QRect place, const char* name = nullptr) {
  auto* label = new QLabel(text, parent);
  if (name != nullptr) label->setObjectName(QLatin1String(name));
  label->setGeometry(place);
  return label;
}

QComboBox* Combo(QWidget* parent, const char* name, QRect place) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QLatin1String(name));
  box->setEditable(false);
  box->setGeometry(place);
  return box;
}

QToolButton* PictureButton(QWidget* parent, const char* name, const QString& text, const char* picture,
                           QRect place, QSize icon_size) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setText(text);
  button->setIcon(QIcon(QLatin1String(picture)));
  button->setIconSize(icon_size);
  button->setAutoRaise(true);
  button->setGeometry(place);
  button->setFocusPolicy(Qt::StrongFocus);
  return button;
}

}  // namespace

void TForm1::BuildToolBar(QWidget* client) {
  tool_bar_ = new QWidget(client);
  tool_bar_->setObjectName(QStringLiteral("ToolBar"));
  tool_bar_->setGeometry(0, 0, client->width(), kToolBarHeight);
  tool_bar_->setAttribute(Qt::WA_StyledBackground);
  const auto make = [this](const char* name, const char* text, const char* picture, int x) {
    QToolButton* button =
        PictureButton(tool_bar_, name, QLatin1String(text), picture, QRect(x, 2, 125, 56), QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    return button;
  };
  button_open_ = make("ButtonOpenDVD", " Add Video", ":/pictures/add.svg", 43);
  button_remove_ = make("ButtonRemoveItem", "Remove Item", ":/pictures/remove.svg", 188);
  button_clear_ = make("ButtonClearList", "Clear List", ":/pictures/clear.svg", 332);
  button_stop_ = make("ButtonStop", " Stop", ":/pictures/stop.svg", 478);
  button_rip_ = make("ButtonRipNow", " Convert Now", ":/pictures/convert.svg", 623);
  button_open_->setToolTip(QStringLiteral("Add video and audio files to the list (Ctrl+O)"));
  button_rip_->setToolTip(QStringLiteral("Convert every checked file (Ctrl+Return)"));
}

void TForm1::BuildOutputRow(QWidget* client) {
  const int top = kOutputRowTop;
  Label(client, QStringLiteral("Choose Output Format :"), QRect(6, top + 8, 136, 17), "LabelOutputFormat");
  combo_output_format_ = Combo(client, "ComboOutputFormat", QRect(144, top + 5, 273, 22));
  binding_.Bind(combo_output_format_, &WindowChoices::ComboOutputFormat);
  Label(client, QStringLiteral("Output Folder : "), QRect(426, top + 8, 90, 17), "LabelOutputFolder");
  edit_output_folder_ = new QLineEdit(client);
  edit_output_folder_->setObjectName(QStringLiteral("EditOutputFolder"));
  edit_output_folder_->setReadOnly(true);
  edit_output_folder_->setGeometry(517, top + 5, 229, 22);
  button_browse_ = PictureButton(client, "ButtonBrowseForFolder", QString(), ":/pictures/folder.svg",
                                 QRect(753, top + 4, 33, 25), QSize(20, 20));
  button_browse_->setToolTip(QStringLiteral("Choose the output folder"));
}

void TForm1::BuildSettingsTabs(QWidget* client) {
  tabs_ = new QTabWidget(client);
  tabs_->setObjectName(QStringLiteral("PageControl1"));
  tabs_->setGeometry(6, kSettingsTop + 3, 267, 209);

  auto* simple = new QWidget;
  simple->setObjectName(QStringLiteral("TabSheetOutputSettings"));
  struct Row {
    const char* Label;
    const char* Name;
    profiles::ChoiceList WindowChoices::*List;
  };
  const Row simple_rows[] = {
      {"Video Quality :", "ComboVideoQuality", &WindowChoices::ComboVideoQuality},
      {"Audio Quality :", "ComboAudioQuality", &WindowChoices::ComboAudioQuality},
      {"Video Size : ", "ComboVideoSize1", &WindowChoices::ComboVideoSize1},
  };
  int y = 16;
  for (const Row& row : simple_rows) {
    Label(simple, QLatin1String(row.Label), QRect(10, y + 3, 90, 17));
    binding_.Bind(Combo(simple, row.Name, QRect(104, y, 146, 22)), row.List);
    y += 34;
  }
  tabs_->addTab(simple, QStringLiteral("Output  Settings"));

  auto* detailed = new QWidget;
  detailed->setObjectName(QStringLiteral("TabSheetDetailedSettings"));
  const Row detailed_rows[] = {
      {"Video Codec : ", "ComboVideoCodec", &WindowChoices::ComboVideoCodec},
      {"Video Bitrate : ", "ComboVideoBitrate", &WindowChoices::ComboVideoBitrate},
      {"Video Size : ", "ComboVideoSize", &WindowChoices::ComboVideoSize},
      {"Framerate :", "ComboVideoFrameRate", &WindowChoices::ComboVideoFrameRate},
      {"Audio Codec : ", "ComboAudioCodec", &WindowChoices::ComboAudioCodec},
      {"Audio Bitrate : ", "ComboAudioBitrate", &WindowChoices::ComboAudioBitrate},
      {"Sampling Rate : ", "ComboSamplingRate", &WindowChoices::ComboSamplingRate},
      {"Audio Channels : ", "ComboAudioChannels", &WindowChoices::ComboAudioChannels},
  };
  y = 4;
  for (const Row& row : detailed_rows) {
    Label(detailed, QLatin1String(row.Label), QRect(8, y + 2, 92, 17));
    binding_.Bind(Combo(detailed, row.Name, QRect(104, y, 146, 20)), row.List);
    y += 22;
  }
  tabs_->addTab(detailed, QStringLiteral("Detailed Output Settings"));
}

void TForm1::BuildPreviewPanel(QWidget* client) {
  // The player draws into a native window where there is X11; elsewhere it hands its pictures over.
  const bool native_surface = QGuiApplication::platformName() == QLatin1String("xcb");
  preview_panel_ = new PreviewPanel(*this, client, native_surface);
  preview_panel_->setGeometry(279, kSettingsTop + 6, 263, 204);
}

void TForm1::BuildPreferences(QWidget* client) {
  preferences_ = new QGroupBox(QStringLiteral(" Preferences "), client);
  preferences_->setObjectName(QStringLiteral("GroupBoxPreferences"));
  preferences_->setGeometry(550, kSettingsTop + 4, 235, 206);
  Label(preferences_, QStringLiteral("Video Aspect Ratio :"), QRect(10, 27, 114, 17));
  binding_.Bind(Combo(preferences_, "ComboBoxAspectRatio", QRect(124, 24, 102, 22)),
                &WindowChoices::ComboBoxAspectRatio);
  Label(preferences_, QStringLiteral("Video Output Volume : "), QRect(10, 61, 114, 17));
  volume_ = new QSpinBox(preferences_);
  volume_->setObjectName(QStringLiteral("SpinEditVolume"));
  volume_->setRange(0, 200);
  volume_->setSingleStep(20);
  volume_->setValue(100);
  // Only the arrows change it: the volume goes in steps of 20.
  if (auto* number = volume_->findChild<QLineEdit*>()) number->setReadOnly(true);
  volume_->setToolTip(QStringLiteral("100 is the original video volume"));
  volume_->setGeometry(124, 58, 60, 22);
  Label(preferences_, QStringLiteral("LetterBox : "), QRect(10, 95, 114, 17));
  binding_.Bind(Combo(preferences_, "ComboBoxLetterbox", QRect(124, 92, 102, 22)),
                &WindowChoices::ComboBoxLetterbox);
  preview_check_ = new QCheckBox(QStringLiteral("Preview video during conversion."), preferences_);
  preview_check_->setObjectName(QStringLiteral("CheckBoxPreview"));
  preview_check_->setChecked(true);
  preview_check_->setGeometry(10, 130, 220, 20);
  overwrite_check_ = new QCheckBox(QStringLiteral("Overwrite output file with same name."), preferences_);
  overwrite_check_->setObjectName(QStringLiteral("CheckBoxOverwrite"));
  overwrite_check_->setGeometry(10, 160, 220, 20);
}

void TForm1::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("StatusBar1"));
  bar->setSizeGripEnabled(false);
  bar->setFixedHeight(21);
  size_panel_ = new QLabel(bar);
  size_panel_->setObjectName(QStringLiteral("StatusPanelSize"));
  size_panel_->setFixedWidth(160);
  progress_bar_ = new QProgressBar(bar);
  progress_bar_->setObjectName(QStringLiteral("ProgressBar1"));
  progress_bar_->setRange(0, 100);
  progress_bar_->setValue(0);
  progress_bar_->setTextVisible(false);
  // Two pixels narrower than its 520-pixel panel.
  progress_bar_->setFixedSize(518, 15);
  state_panel_ = new QLabel(QStringLiteral("Ready"), bar);
  state_panel_->setObjectName(QStringLiteral("StatusPanelState"));
  state_panel_->setFixedWidth(50);
  state_panel_->setAlignment(Qt::AlignCenter);
  bar->addWidget(size_panel_);
  bar->addWidget(progress_bar_);
  bar->addWidget(state_panel_);
}

}  // namespace app
