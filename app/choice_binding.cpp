#include "app/choice_binding.h"

#include <QComboBox>
#include <QSignalBlocker>

#include "profiles/parameter_lists.h"

namespace app {
namespace {

using profiles::WindowChoices;

constexpr int kFirstDropDownRows = 35;
constexpr int kDropDownRows = 28;

}  // namespace

ChoiceBinding::ChoiceBinding(WindowChoices& choices, std::function<void()> on_format_changed)
    : choices_(choices), on_format_changed_(std::move(on_format_changed)) {}

void ChoiceBinding::Bind(QComboBox* box, profiles::ChoiceList WindowChoices::*list) {
  bound_.push_back(Bound{box, list});
  if (list == &WindowChoices::ComboOutputFormat) box->setMaxVisibleItems(kFirstDropDownRows);
  // activated is the user's choice only; selecting from code raises nothing.
  connect(box, &QComboBox::activated, this, [this, list](int position) { UserChose(list, position); });
}

void ChoiceBinding::Refresh() {
  for (const Bound& bound : bound_) {
    const profiles::ChoiceList& list = choices_.*(bound.List);
    const QSignalBlocker quiet(bound.Box);
    bool same = bound.Box->count() == list.Count();
    for (int at = 0; same && at < list.Count(); ++at) {
      same = bound.Box->itemText(at).toStdString() == list.Entries[static_cast<std::size_t>(at)];
    }
    if (!same) {
      bound.Box->clear();
      for (const std::string& entry : list.Entries)
        bound.Box->addItem(QString::fromStdString(entry));
    }
    bound.Box->setCurrentIndex(list.Selected);
  }
}

void ChoiceBinding::UserChose(profiles::ChoiceList WindowChoices::*list, int position) {
  (choices_.*list).Select(position);
  if (list == &WindowChoices::ComboOutputFormat) {
    if (profiles::ComboOutputFormatChange(choices_)) {
      for (const Bound& bound : bound_) {
        if (bound.List == list) bound.Box->setMaxVisibleItems(kDropDownRows);
      }
      if (on_format_changed_) on_format_changed_();
    }
  } else if (list == &WindowChoices::ComboVideoQuality) {
    profiles::ComboVideoQualityChange(choices_, profiles::QualityControl::kVideoQuality);
  } else if (list == &WindowChoices::ComboAudioQuality) {
    profiles::ComboVideoQualityChange(choices_, profiles::QualityControl::kAudioQuality);
  } else if (list == &WindowChoices::ComboVideoBitrate) {
    profiles::ComboVideoQualityChange(choices_, profiles::QualityControl::kVideoBitrate);
  } else if (list == &WindowChoices::ComboAudioBitrate) {
    profiles::ComboVideoQualityChange(choices_, profiles::QualityControl::kAudioBitrate);
  } else if (list == &WindowChoices::ComboVideoFrameRate) {
    profiles::ComboVideoFrameRateChange(choices_);
  } else if (list == &WindowChoices::ComboVideoSize) {
    profiles::ComboVideoSizeChange(choices_, false);
  } else if (list == &WindowChoices::ComboVideoSize1) {
    profiles::ComboVideoSizeChange(choices_, true);
  }
  Refresh();
}

}  // namespace app
