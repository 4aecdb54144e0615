// The window's settings reader on settings files of arbitrary bytes: the bytes are the store's file in a
// private configuration folder and are read through the store as at start-up. Whatever was read, what the
// window then writes must read back to the same choices.
#include <fcntl.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QSettings>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>

#include "app/settings_store.h"
#include "app/skins.h"
#include "fuzz/fuzz_support.h"
#include "profiles/parameter_lists.h"

namespace {

std::filesystem::path StoreFile() {
  return fuzz_support::PrivateFolder() / "config" / app::SettingsOrganisation().toStdString() /
         (app::SettingsApplication().toStdString() + ".conf");
}

// The store caches what it read per file and reads again only when the file's time or size changed: each
// input gets a time of its own, so that two inputs of one size within one clock tick are both read.
void StampAsNewest(const std::filesystem::path& file) {
  static std::time_t next = 1000000000;
  const timespec times[2] = {{next, 0}, {next, 0}};
  ++next;
  if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) {
    std::perror("utimensat");
    std::abort();
  }
}

struct ReadState {
  profiles::WindowChoices choices;
  app::ShellState shell;
  ReadState() {
    profiles::FillOutputFormatList(choices);
    profiles::FillPreferenceLists(choices);
    shell.Choices = &choices;
  }
  bool Load() {
    QSettings store(app::SettingsFormat(), QSettings::UserScope, app::SettingsOrganisation(),
                    app::SettingsApplication());
    return app::LoadSettings(store, shell, &app::IsKnownSkin);
  }
};

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "settings read back differ: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static const std::unique_ptr<QCoreApplication> application = [&] {
    const std::filesystem::path config = fuzz_support::PrivateFolder() / "config";
    std::filesystem::create_directories(config / app::SettingsOrganisation().toStdString());
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("HOME", fuzz_support::PrivateFolder().c_str(), 1);
    return std::make_unique<QCoreApplication>(*argc, *argv);
  }();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path file = StoreFile();
  fuzz_support::WriteInput(file.lexically_relative(fuzz_support::PrivateFolder()).string(), data, size);
  StampAsNewest(file);

  ReadState first;
  first.Load();
  // Where the window stands once it is shown: where it was restored.
  first.shell.WindowTop = first.shell.SavedTop;
  first.shell.WindowLeft = first.shell.SavedLeft;
  {
    QSettings store(app::SettingsFormat(), QSettings::UserScope, app::SettingsOrganisation(),
                    app::SettingsApplication());
    app::SaveSettings(store, first.shell);
  }
  StampAsNewest(file);

  ReadState second;
  Check(second.Load(), "what was written is not readable");
  const profiles::WindowChoices& a = first.choices;
  const profiles::WindowChoices& b = second.choices;
  Check(a.ComboOutputFormat.Selected == b.ComboOutputFormat.Selected, "output format");
  Check(a.OutputFolder == b.OutputFolder, "output folder");
  Check(a.Overwrite == b.Overwrite, "overwrite");
  Check(a.ComboBoxLetterbox.Selected == b.ComboBoxLetterbox.Selected, "letterbox");
  Check(a.ComboVideoQuality.Selected == b.ComboVideoQuality.Selected, "video quality");
  Check(a.ComboAudioQuality.Selected == b.ComboAudioQuality.Selected, "audio quality");
  Check(first.shell.SkinsOn == second.shell.SkinsOn && first.shell.SkinName == second.shell.SkinName, "skin");
  Check(first.shell.ActiveTab == second.shell.ActiveTab, "tab");
  Check(first.shell.SavedTop == second.shell.SavedTop && first.shell.SavedLeft == second.shell.SavedLeft,
        "window position");
  return 0;
}
