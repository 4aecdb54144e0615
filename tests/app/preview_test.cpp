// The preview panel with the real player on the offscreen platform (its pictures come in as frames) and
// SDL's disk audio driver: Play, Pause and Stop with their states, the slider following and seeking, the
// volume menu, snapshots and their names, the picture area's keys, and the queue and the list stopping the
// preview.
#include <QElapsedTimer>
#include <QMenu>
#include <QSlider>
#include <QToolButton>

#include "app/preview_area.h"
#include "app/player_transport.h"
#include "app_test_support.h"

using app::PreviewPanel;
using app_test::TestFolder;
using app_test::TestWindow;

namespace {

constexpr int kPlayTimeout = 30000;  // a bound for what playing brings about, on a machine that may be loaded

// 8 s of 320x240: red for 4 s, then blue, with a 1 kHz tone.
QString RedThenBlue() {
  return app_test::ToQString(media_test::Fixture(
      "preview_red_blue_8s.mp4",
      "-f lavfi -i color=c=red:size=320x240:rate=25:duration=4 -f lavfi -i "
      "color=c=blue:size=320x240:rate=25:duration=4 -f lavfi -i sine=frequency=1000:duration=8 "
      "-filter_complex [0][1]concat=n=2:v=1[v] -map [v] -map 2 -c:v libx264 -preset ultrafast -g 25 "
      "-pix_fmt yuv420p -c:a aac"));
}

enum class Colour { Red, Blue, Other };

Colour ColourOf(QRgb pixel) {
  const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
  if (r > 200 && g < 60 && b < 60) return Colour::Red;
  if (b > 200 && r < 60 && g < 60) return Colour::Blue;
  return Colour::Other;
}

// The colour in the middle of what the picture area shows.
Colour Shown(app::TForm1& window) {
  const QImage& frame = window.Preview().Frame();
  if (frame.isNull()) return Colour::Other;
  return ColourOf(frame.pixel(frame.width() / 2, frame.height() / 2));
}

QToolButton& Button(app::TForm1& window, const char* name) {
  auto* button = window.findChild<QToolButton*>(QLatin1String(name));
  if (button == nullptr) qFatal("no button %s", name);
  return *button;
}

app::PlayerTransport& Player(app::TForm1& window) {
  return static_cast<app::PlayerTransport&>(window.Panel().Transport());
}

double Seconds(const PreviewPanel& panel) {
  return panel.PlayerPos() / 1e6;
}

}  // namespace

class PreviewTest : public QObject {
  Q_OBJECT

  TestFolder folder_;
  QString clip_;

  // A started window with the clip as its only row, selected.
  void StartWithClip(TestWindow& window) {
    window.Start();
    QVERIFY(window.AddAndWait({clip_}));
    window->ListView1SelectItem(0);
  }

  // Play pressed; returns once the first picture is shown.
  void PlayUntilShown(TestWindow& window, Colour colour = Colour::Red) {
    Button(*window, "SpeedButtonPlay").click();
    QTRY_VERIFY_WITH_TIMEOUT(Shown(*window) == colour, kPlayTimeout);
  }

 private slots:
  void initTestCase() {
    // Sound goes into a file of the test's own; it plays at the device's pace, as real sound does.
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(folder_.File(QStringLiteral("sound.raw"))));
    clip_ = app_test::CopyAs(RedThenBlue(), folder_.Path(), QStringLiteral("clip.mp4"));
    QVERIFY(!clip_.isEmpty());
  }

  void playShowsTheFileAndStopBringsBackTheDefaultPicture() {
    TestWindow window(folder_);
    StartWithClip(window);
    PreviewPanel& panel = window->Panel();
    QVERIFY(window->Preview().ShowsDefaultPicture());

    PlayUntilShown(window);
    QVERIFY(panel.PreviewActive());
    QVERIFY(panel.TimerPlay().isActive());
    // The slider counts milliseconds of the file.
    QVERIFY2(std::abs(panel.Slider().maximum() - 8000) <= 100,
             qPrintable(QString::number(panel.Slider().maximum())));
    // The pictures follow the file: blue from its fifth second.
    QTRY_VERIFY_WITH_TIMEOUT(Shown(*window) == Colour::Blue, kPlayTimeout);
    QVERIFY(Seconds(panel) >= 3.8);
    // The timer moves the thumb to the play position.
    QTRY_VERIFY_WITH_TIMEOUT(panel.Slider().value() >= 3800, kPlayTimeout);

    Button(*window, "SpeedButtonStop").click();
    QVERIFY(window->Preview().ShowsDefaultPicture());
    QVERIFY(!panel.PreviewActive());
    QVERIFY(panel.PreviewStopped());
    QVERIFY(!panel.TimerPlay().isActive());
    QVERIFY(!panel.Transport().IsOpen());
    // Nothing of the closed playback shows up afterwards.
    QTest::qWait(300);
    QVERIFY(window->Preview().ShowsDefaultPicture());
    // Pause after Stop does nothing.
    Button(*window, "SpeedButtonPause").click();
    QVERIFY(!panel.PreviewPaused());
  }

  void pauseHoldsThePositionPlayResumesAndPlayingPlayReopens() {
    TestWindow window(folder_);
    StartWithClip(window);
    PreviewPanel& panel = window->Panel();
    PlayUntilShown(window);
    QTRY_VERIFY_WITH_TIMEOUT(Seconds(panel) > 1.0, kPlayTimeout);

    Button(*window, "SpeedButtonPause").click();
    QVERIFY(panel.PreviewPaused());
    QVERIFY(!panel.TimerPlay().isActive());
    QTest::qWait(200);
    const double paused_at = Seconds(panel);
    QTest::qWait(800);
    QVERIFY2(std::abs(Seconds(panel) - paused_at) < 0.05,
             qPrintable(QStringLiteral("%1 -> %2").arg(paused_at).arg(Seconds(panel))));

    // Play resumes from there: the position moves on from where it held, never further than the time since
    // the click (a resume that jumped ahead, or counted the pause as played, would be further).
    QElapsedTimer since_resume;
    since_resume.start();
    Button(*window, "SpeedButtonPlay").click();
    QVERIFY(!panel.PreviewPaused());
    QVERIFY(panel.TimerPlay().isActive());
    QTRY_VERIFY_WITH_TIMEOUT(Seconds(panel) > paused_at + 0.5, kPlayTimeout);
    const double resumed_at = Seconds(panel);
    const double elapsed = static_cast<double>(since_resume.elapsed()) / 1000.0;
    QVERIFY2(
        resumed_at < paused_at + elapsed + 0.25,
        qPrintable(
            QStringLiteral("paused at %1, %2 s later at %3").arg(paused_at).arg(elapsed).arg(resumed_at)));

    // Pause again, then Pause once more resumes too.
    Button(*window, "SpeedButtonPause").click();
    QVERIFY(panel.PreviewPaused());
    Button(*window, "SpeedButtonPause").click();
    QVERIFY(!panel.PreviewPaused());
    QTRY_VERIFY_WITH_TIMEOUT(Seconds(panel) > 2.0, kPlayTimeout);

    // Play while playing starts the file again.
    Button(*window, "SpeedButtonPlay").click();
    QVERIFY(Seconds(panel) < 0.5);
    QTRY_VERIFY_WITH_TIMEOUT(Shown(*window) == Colour::Red, kPlayTimeout);
  }

  void pauseBeforeAnythingPlayedOnlyMarksIt() {
    TestWindow window(folder_);
    StartWithClip(window);
    PreviewPanel& panel = window->Panel();
    Button(*window, "SpeedButtonPause").click();
    QVERIFY(panel.PreviewPaused());
    QVERIFY(!panel.Transport().IsOpen());
    QVERIFY(window->Preview().ShowsDefaultPicture());
    // There is nothing to resume: Play clears the mark and plays the file.
    PlayUntilShown(window);
    QVERIFY(!panel.PreviewPaused());
    QVERIFY(panel.PreviewActive());
  }

  void theEndOfTheFileBringsBackTheDefaultPicture() {
    TestWindow window(folder_);
    window.Start();
    QVERIFY(window.AddAndWait({app_test::media::ShortAvi()}));
    window->ListView1SelectItem(0);
    PreviewPanel& panel = window->Panel();
    Button(*window, "SpeedButtonPlay").click();
    QTRY_VERIFY_WITH_TIMEOUT(!window->Preview().ShowsDefaultPicture() && !window->Preview().Frame().isNull(),
                             kPlayTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(window->Preview().ShowsDefaultPicture(), kPlayTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!panel.Transport().IsOpen(), kPlayTimeout);
    // The player closes before the panel hears of the end: the end's report stops the position timer.
    QTRY_VERIFY_WITH_TIMEOUT(!panel.TimerPlay().isActive(), kPlayTimeout);
    // The thumb stays where the file ended; Play opens the file again.
    const int thumb = panel.Slider().value();
    QTest::qWait(1200);
    QCOMPARE(panel.Slider().value(), thumb);
    Button(*window, "SpeedButtonPlay").click();
    QVERIFY(panel.Transport().IsOpen());
  }

  void releasingTheSliderSeeks_data() {
    QTest::addColumn<bool>("paused");
    QTest::newRow("playing") << false;
    QTest::newRow("paused") << true;
  }
  void releasingTheSliderSeeks() {
    QFETCH(bool, paused);
    TestWindow window(folder_);
    StartWithClip(window);
    PreviewPanel& panel = window->Panel();
    PlayUntilShown(window);
    if (paused) Button(*window, "SpeedButtonPause").click();

    QSlider& slider = panel.Slider();
    const QPoint middle(slider.width() / 2, slider.height() / 2);
    QTest::mousePress(&slider, Qt::LeftButton, {}, middle);
    QVERIFY(!panel.TimerPlay().isActive());
    QVERIFY2(std::abs(slider.value() - 4000) < 400, qPrintable(QString::number(slider.value())));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, middle);
    // The file goes to where the thumb was let go: past the middle it is blue.
    const double target = slider.value() / 1000.0;
    QTRY_VERIFY_WITH_TIMEOUT(Shown(*window) == (target >= 4.0 ? Colour::Blue : Colour::Red), kPlayTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(std::abs(Seconds(panel) - target) < 0.3, kPlayTimeout);
    QCOMPARE(panel.TimerPlay().isActive(), !paused);
    if (paused) {
      QTest::qWait(600);
      QVERIFY(std::abs(Seconds(panel) - target) < 0.3);
    }
    QVERIFY(slider.toolTip().startsWith(QStringLiteral("0:0")));
    QVERIFY(slider.toolTip().endsWith(QStringLiteral(" / 0:08")));
  }

  void theVolumeMenuSetsThePreviewsVolumeOnly_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("tag");
    QTest::addColumn<int>("volume");
    QTest::newRow("Mute") << QStringLiteral("Mute") << 11 << 0;
    QTest::newRow("Half Volume") << QStringLiteral("Half Volume") << 12 << 64;
    QTest::newRow("Full Volume") << QStringLiteral("Full Volume") << 13 << 128;
  }
  void theVolumeMenuSetsThePreviewsVolumeOnly() {
    QFETCH(QString, item);
    QFETCH(int, tag);
    QFETCH(int, volume);
    TestWindow window(folder_);
    StartWithClip(window);
    PreviewPanel& panel = window->Panel();
    QStringList items;
    QAction* chosen = nullptr;
    for (QAction* action : panel.VolumeMenu().actions()) {
      items << action->text();
      if (action->text() == item) chosen = action;
    }
    QCOMPARE(items, (QStringList{"Mute", "Half Volume", "Full Volume"}));
    QVERIFY(chosen != nullptr);
    QCOMPARE(chosen->data().toInt(), tag);
    // From another setting to this one.
    panel.FullVolume1Click(tag == 13 ? 11 : 13);
    chosen->trigger();
    QCOMPARE(Player(*window).Player().AudioVolume(), volume);
    QCOMPARE(panel.VolumeTagShown(), tag);
    // The conversion's own volume is another thing.
    QCOMPARE(window->Choices().OutputVolume, 100);
  }

  void snapshotsAreSavedAsASeriesOfBitmaps() {
    TestWindow window(folder_);
    const QString output = folder_.Folder(QStringLiteral("snapshots"));
    StartWithClip(window);
    window.Dialogs().FolderAnswers.push_back(output);
    window->ButtonBrowseForFolderClick();
    PreviewPanel& panel = window->Panel();
    PlayUntilShown(window);

    Button(*window, "ButtonSnapshot").click();
    const QString first = output + QStringLiteral("/clip.bmp");
    QCOMPARE(panel.LastSnapshot(), first);
    const QImage saved(first);
    QVERIFY(!saved.isNull());
    // The picture on screen at the file's own size, the file's colour in its middle.
    const runtime::Bitmap on_screen = panel.Transport().CurrentFrame();
    QCOMPARE(saved.size(), QSize(on_screen.Width(), on_screen.Height()));
    QCOMPARE(saved.size(), QSize(320, 240));
    QCOMPARE(ColourOf(saved.pixel(saved.width() / 2, saved.height() / 2)), Colour::Red);
    QCOMPARE(saved.depth(), 32);  // Qt reads 24-bit files into 32-bit images; the file itself:
    QFile file(first);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray header = file.read(30);
    QCOMPARE(header.left(2), QByteArray("BM"));
    QCOMPARE(static_cast<int>(static_cast<unsigned char>(header[28])), 24);
    // The playback goes on after the click.
    QVERIFY(!panel.PreviewPaused());
    const double after_first = Seconds(panel);
    QTRY_VERIFY_WITH_TIMEOUT(Seconds(panel) > after_first + 0.3, kPlayTimeout);

    Button(*window, "ButtonSnapshot").click();
    QCOMPARE(panel.LastSnapshot(), output + QStringLiteral("/clip-1.bmp"));
    QVERIFY(QFileInfo(panel.LastSnapshot()).size() > 0);

    // Paused, the snapshot leaves it paused.
    Button(*window, "SpeedButtonPause").click();
    Button(*window, "ButtonSnapshot").click();
    QCOMPARE(panel.LastSnapshot(), output + QStringLiteral("/clip-2.bmp"));
    QVERIFY(panel.PreviewPaused());
    QVERIFY(window.Dialogs().Messages().isEmpty());
  }

  void aSnapshotNeedsAnExistingOutputFolder() {
    TestWindow window(folder_);
    StartWithClip(window);
    PreviewPanel& panel = window->Panel();
    PlayUntilShown(window);
    Button(*window, "ButtonSnapshot").click();
    QCOMPARE(window.Dialogs().Messages(), QStringList{"Please select an output folder!"});
    QCOMPARE(window.Dialogs().Texts(app_test::DialogCall::kChooseFolder).size(), 1);

    const QString gone = folder_.File(QStringLiteral("no such folder"));
    window.Dialogs().Calls.clear();
    window.Dialogs().FolderAnswers.push_back(gone);
    window->ButtonBrowseForFolderClick();
    window.Dialogs().Calls.clear();
    Button(*window, "ButtonSnapshot").click();
    QCOMPARE(window.Dialogs().Messages(),
             QStringList{"The output folder \"" + gone +
                         "\"\n\rdoes not exist or has been deleted!\n\rPlease choose a new output folder."});
    QCOMPARE(window.Dialogs().Texts(app_test::DialogCall::kChooseFolder).size(), 1);
    QVERIFY(panel.LastSnapshot().isEmpty());
  }

  void thePictureAreasKeys() {
    TestWindow window(folder_);
    StartWithClip(window);
    PreviewPanel& panel = window->Panel();
    app::PreviewArea& area = window->Preview();
    // Space on an idle panel plays.
    QTest::keyClick(&area, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(Shown(*window) == Colour::Red, kPlayTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Seconds(panel) > 0.3, kPlayTimeout);
    // Right jumps 5 s on, into the blue half; Left comes back.
    const double before = Seconds(panel);
    QTest::keyClick(&area, Qt::Key_Right);
    QTRY_VERIFY_WITH_TIMEOUT(Shown(*window) == Colour::Blue, kPlayTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Seconds(panel) >= before + 4.7, kPlayTimeout);
    QTest::keyClick(&area, Qt::Key_Left);
    QTRY_VERIFY_WITH_TIMEOUT(Shown(*window) == Colour::Red, kPlayTimeout);
    // Space pauses and goes on.
    QTest::keyClick(&area, Qt::Key_Space);
    QVERIFY(panel.PreviewPaused());
    QTest::keyClick(&area, Qt::Key_Space);
    QVERIFY(!panel.PreviewPaused());
    // M mutes and gives the volume back.
    panel.FullVolume1Click(PreviewPanel::kHalfVolumeTag);
    QTest::keyClick(&area, Qt::Key_M);
    QCOMPARE(Player(*window).Player().AudioVolume(), 0);
    QCOMPARE(panel.VolumeTagShown(), int{PreviewPanel::kMuteTag});
    QTest::keyClick(&area, Qt::Key_M);
    QCOMPARE(Player(*window).Player().AudioVolume(), 64);
    QCOMPARE(panel.VolumeTagShown(), int{PreviewPanel::kHalfVolumeTag});
    // A click on the picture gives it the keyboard.
    Button(*window, "SpeedButtonStop").setFocus();
    QTest::mouseClick(&area, Qt::LeftButton);
    QVERIFY(area.hasFocus());
  }

  void choosingAnotherRowOrConvertingStopsThePreview() {
    TestWindow window(folder_);
    const QString output = folder_.Folder(QStringLiteral("converted"));
    window.Start();
    const QString second =
        app_test::CopyAs(app_test::media::LongAvi(), folder_.Path(), QStringLiteral("b.avi"));
    QVERIFY(window.AddAndWait({clip_, second}));
    window.Dialogs().FolderAnswers.push_back(output);
    window->ButtonBrowseForFolderClick();
    window->ListView1SelectItem(0);
    PreviewPanel& panel = window->Panel();

    PlayUntilShown(window);
    window->ListView1SelectItem(0);  // the same row: it plays on
    QVERIFY(panel.Transport().IsOpen());
    window->ListView1SelectItem(1);
    QVERIFY(window->Preview().ShowsDefaultPicture());
    QVERIFY(!panel.PreviewActive());

    window->ListView1SelectItem(0);
    PlayUntilShown(window);
    window->Files().SetChecked(0, false);
    window->Queue().ButtonRipNowClick();
    QVERIFY(!panel.Transport().IsOpen());
    QVERIFY(!panel.PreviewActive());
    // During the run the buttons do nothing and the slider is locked.
    QTRY_VERIFY_WITH_TIMEOUT(window->Queue().Converting(), kPlayTimeout);
    for (const char* name : {"SpeedButtonPlay", "SpeedButtonPause", "SpeedButtonStop", "ButtonSnapshot"}) {
      Button(*window, name).click();
      QVERIFY2(!panel.Transport().IsOpen() && !panel.PreviewPaused(), name);
    }
    QVERIFY(!panel.Slider().isEnabled());
    window.Dialogs().ConfirmAnswers.push_back(true);
    window->Queue().ButtonStopClick();
    QTRY_VERIFY_WITH_TIMEOUT(!window->Queue().Running(), 60000);
    QVERIFY(panel.Slider().isEnabled());
  }

  void aFileThatCannotBePlayedLeavesThePanelIdle() {
    TestWindow window(folder_);
    window.Start();
    const QString broken = app_test::NotMedia(folder_.Path(), QStringLiteral("broken.mp4"));
    window->Files().Append([&] {
      app::FileRow row;
      row.Texts[app::kColumnVideoFiles] = broken;
      return row;
    }());
    window->ListView1SelectItem(0);
    PreviewPanel& panel = window->Panel();
    Button(*window, "SpeedButtonPlay").click();
    QVERIFY(window->Preview().ShowsDefaultPicture());
    QVERIFY(!panel.PreviewActive());
    QVERIFY(!panel.TimerPlay().isActive());
    QVERIFY(!panel.Transport().IsOpen());
    QVERIFY(!Player(*window).Player().LastErrorText().empty());
    // Nothing to snap.
    Button(*window, "ButtonSnapshot").click();
    QVERIFY(panel.LastSnapshot().isEmpty());
  }
};

TARVELLO_APP_TEST_MAIN(PreviewTest)
#include "preview_test.moc"
