#include "catalogue/table_list.h"

#include <QAbstractItemModel>
#include <QTimer>

bool TableNameLess(const QString& a, const QString& b) {
  int c = QString::compare(a, b, Qt::CaseInsensitive);
  if (c != 0) return c < 0;
  return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

TableList::TableList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Every entry is one line of text in the list's font, so one entry's size serves for all.
  // Without this the view measures every entry again each time it lays itself out, and a
  // listing that yields once per table makes a visible list lay itself out once per table: the
  // cost of relisting then grows with the square of the number of tables.
  setUniformItemSizes(true);
  // Laid out a batch at a time, so the part on screen is ready first; entries below it are
  // placed while the window idles.
  setLayoutMode(QListView::Batched);
  // Qt's own sorting compares the items' texts case-sensitively and trusts the item class of
  // each entry; the list places new entries itself instead. Connected after the view and its
  // selection model, so both have taken note of the insertion before the entry moves.
  connect(model(), &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { placeInserted(first, last); });
}

void TableList::moveEntry(int from, int to) {
  if (from == to) return;
  // The model's destination counts rows before the move.
  model()->moveRow(QModelIndex(), from, QModelIndex(), to > from ? to + 1 : to);
}

void TableList::holdRepaints() {
  // A listing adds an entry and yields, thousands of times in a row: drawing the list at every
  // yield would cost far more than the listing. The list is drawn again at most every few
  // milliseconds while entries arrive, which the eye cannot tell from every time.
  if (!isVisible() || !updatesEnabled()) return;
  setUpdatesEnabled(false);
  QTimer::singleShot(kRepaintInterval, this, [this] { setUpdatesEnabled(true); });
}

void TableList::placeInserted(int first, int last) {
  if (placing_) return;
  holdRepaints();
  placing_ = true;
  if (first == last) {
    // One new entry among sorted ones (every listing and every transfer adds one at a time):
    // its place among the others by binary search, after any equal name.
    const QString name = item(first)->text();
    // Names that arrive in order (a sorted catalogue) belong at the end: nothing to move.
    if (first == count() - 1 && (first == 0 || !TableNameLess(name, item(first - 1)->text()))) {
      placing_ = false;
      return;
    }
    int lo = 0;
    int hi = count() - 1;  // the others
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      int row = mid < first ? mid : mid + 1;
      if (TableNameLess(name, item(row)->text())) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    moveEntry(first, lo);
  } else {
    // Several at once: insertion sort over the whole list.
    for (int i = 1; i < count(); ++i) {
      const QString name = item(i)->text();
      int lo = 0;
      int hi = i;
      while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (TableNameLess(name, item(mid)->text())) {
          hi = mid;
        } else {
          lo = mid + 1;
        }
      }
      moveEntry(i, lo);
    }
  }
  placing_ = false;
}
