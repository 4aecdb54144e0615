#include "app/progress_delegate.h"

#include <QApplication>
#include <QPainter>

#include "app/file_list_model.h"

namespace app {

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  const int progress = index.data(kProgressRole).toInt();
  if (progress == kNoProgress) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  QStyleOptionViewItem plain = option;
  initStyleOption(&plain, index);
  const QString text = plain.text;
  plain.text.clear();
  const QWidget* widget = option.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, widget);

  painter->save();
  const QRect bar = option.rect.adjusted(3, 3, -3, -3);
  QColor fill = option.palette.color(QPalette::Highlight);
  fill.setAlpha(110);
  painter->setPen(QPen(option.palette.color(QPalette::Mid), 1));
  painter->setBrush(option.palette.color(QPalette::Base));
  painter->drawRect(bar.adjusted(0, 0, -1, -1));
  if (progress == kBusyProgress) {
    painter->fillRect(bar.adjusted(1, 1, -1, -1), QBrush(fill, Qt::BDiagPattern));
  } else {
    QRect done = bar.adjusted(1, 1, -1, -1);
    done.setWidth(done.width() * std::clamp(progress, 0, 100) / 100);
    painter->fillRect(done, fill);
  }
  painter->setPen(option.palette.color(QPalette::Text));
  painter->drawText(option.rect, Qt::AlignCenter, text);
  painter->restore();
}

}  // namespace app
