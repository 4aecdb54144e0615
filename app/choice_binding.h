// Binds the window's drop-down lists to the choices snapshot: the lists show the snapshot's entries and
// selections, and a user's choice updates the snapshot and runs the change handler that the list has.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

#include "profiles/window_choices.h"

class QComboBox;

namespace app {

class ChoiceBinding final : public QObject {
  Q_OBJECT
 public:
  // on_format_changed runs after a user's change of the output format that took effect.
  ChoiceBinding(profiles::WindowChoices& choices, std::function<void()> on_format_changed);

  // Binds a combo box to one list of the snapshot (a member of WindowChoices).
  void Bind(QComboBox* box, profiles::ChoiceList profiles::WindowChoices::*list);
  // Shows the snapshot in every bound box; no change handler runs.
  void Refresh();
  // What a user's choice of position in the list does (public for tests and the keyboard).
  void UserChose(profiles::ChoiceList profiles::WindowChoices::*list, int position);

 private:
  struct Bound {
    QComboBox* Box;
    profiles::ChoiceList profiles::WindowChoices::*List;
  };
  profiles::WindowChoices& choices_;
  std::function<void()> on_format_changed_;
  std::vector<Bound> bound_;
};

}  // namespace app
