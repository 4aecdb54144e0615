// Paints the "Progress" cell: a bar behind the percentage while a job runs, a hatched bar when the job's
// length is unknown, and the plain text otherwise.
#pragma once

#include <QStyledItemDelegate>

namespace app {

class ProgressDelegate final : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace app
