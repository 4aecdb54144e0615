#include "app/open_dialog_filter.h"

#include <array>
#include <utility>

namespace app {
namespace {

// The patterns keep the spaces after some semicolons as they have always been written.
constexpr std::array<std::pair<const char*, const char*>, 24> kEntries = {{
    {"All Supported Files",
     "*.avi;*.mpeg;*.mpg;*.mpa;*.m1v;*.mv2;*.wma;*.wmv;*.asf;*.asx;*.mov; *.qt;*.3gp;*.3g2;*.mp3;*.mp2;*.ogg;"
     "*.aac;*.mp4;*.m4a;*.rm;*.rmvb;*.ram;*.ra;*.vob; *.dat;*.cda;*.dv; *.dif;*.wav; *.au; *.aiff;*.mjpg; "
     "*.mjpeg;*.ac3; *.gif; *.swf; *.flv; *.mkv"},
    {"3GPP Files (*.3gp)", "*.3gp"},
    {"3GPP2 Files (*.3g2)", "*.3g2"},
    {"AAC Files (*.aac)", "*.aac"},
    {"AC3 Files (*.ac3)", "*.ac3"},
    {"AVI Files (*.avi)", "*.avi"},
    {"DV Video Files (*.dv, *.dif)", "*.dv;*.dif"},
    {"DVD VOB Files (*.vob)", "*.vob"},
    {"GIF Animated Files (*.gif)", "*.gif"},
    {"Macromedia Flash Files (*.flv, *.swf)", "*.flv; *.swf"},
    {"Matroska Video (*.mkv)", "*.mkv"},
    {"Monkey Audio Files (*.ape, *.cue)", "*.ape;*.cue"},
    {"MJpeg Video Files (*.mjpg, *.mjpeg)", "*.mjpg; *.mjpeg"},
    {"MP2 Files (*.mp2)", "*.mp2"},
    {"MP3 Files (*.mp3)", "*.mp3"},
    {"MPEG Files (*.mpeg, *.mpg, *.mpa, *.m1v, *.mv2)", "*.mpeg;*.mpg;*.mpa;*.m1v;*.mv2"},
    {"MPEG-4 Files (*.mp4)", "*.mp4"},
    {"MPEG-4 Audio Files (*.m4a, *.mp4)", "*.m4a; *.mp4"},
    {"Ogg Vorbis Files (*.ogg)", "*.ogg"},
    {"RealMedia Files (*.rm, *.rmvb, *.ram, *.ra)", "*.rm; *.rmvb; *.ram; *.ra"},
    {"QuickTime Files (*.mov, *.qt)", "*.mov; *.qt"},
    {"VCD DAT Files (*.dat)", "*.dat"},
    {"WAV Files (*.wav, *.au, *.aiff)", "*.wav; *.au; *.aiff"},
    {"Windows Media Files(*.wma, *.wmv, *.asf, *.asx)", "*.wma;*.wmv;*.asf;*.asx"},
}};

}  // namespace

QString OpenDialogFilter() {
  QString filter;
  for (const auto& [description, patterns] : kEntries) {
    filter += QLatin1String(description) + QLatin1Char('|') + QLatin1String(patterns) + QLatin1Char('|');
  }
  return filter;
}

QStringList SupportedFilePatterns() {
  QStringList patterns;
  for (const QString& pattern : QString::fromLatin1(kEntries[0].second).split(QLatin1Char(';'))) {
    patterns << pattern.trimmed();
  }
  return patterns;
}

}  // namespace app
