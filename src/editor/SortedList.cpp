#include "editor/SortedList.h"

#include <QComboBox>

namespace tonvero {

int insertSorted(QComboBox& list, const QString& text) {
    int position = list.count();
    for (int i = 0; i < list.count(); ++i) {
        if (QString::compare(text, list.itemText(i), Qt::CaseInsensitive) < 0) {
            position = i;
            break;
        }
    }
    // A combo box selects the first entry added to an empty list; a list
    // control does not, so an empty selection stays empty.
    const bool nothingSelected = list.currentIndex() < 0;
    list.insertItem(position, text);
    if (nothingSelected) list.setCurrentIndex(-1);
    return position;
}

int selectByPrefix(QComboBox& list, const QString& text) {
    for (int i = 0; i < list.count(); ++i) {
        if (list.itemText(i).startsWith(text, Qt::CaseInsensitive)) {
            list.setCurrentIndex(i);
            return i;
        }
    }
    return -1;
}

QString selectedText(const QComboBox& list) {
    return list.currentIndex() < 0 ? QString() : list.itemText(list.currentIndex());
}

}  // namespace tonvero
