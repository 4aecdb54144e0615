// One drop-down list of the main window as a value: its entries and the selected position. The window binds
// its combo boxes to these; the command line front end and the tests use them directly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace profiles {

struct ChoiceList {
  std::vector<std::string> Entries;
  int Selected = -1;  // -1: nothing selected

  void Clear() {
    Entries.clear();
    Selected = -1;
  }
  void Add(std::string entry) { Entries.push_back(std::move(entry)); }
  int Count() const { return static_cast<int>(Entries.size()); }
  // A position the list does not have leaves it without a selection, as a drop-down list does.
  void Select(int position) { Selected = position >= 0 && position < Count() ? position : -1; }
  // The selected entry's text, or "" without a selection.
  std::string SelectedText() const {
    return Selected >= 0 && Selected < Count() ? Entries[static_cast<std::size_t>(Selected)] : std::string();
  }
  // The position of the entry equal to text, or -1.
  int IndexOf(std::string_view text) const {
    for (int at = 0; at < Count(); ++at) {
      if (Entries[static_cast<std::size_t>(at)] == text) return at;
    }
    return -1;
  }
};

}  // namespace profiles
