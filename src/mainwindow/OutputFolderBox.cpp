#include "mainwindow/OutputFolderBox.h"

#include <QLineEdit>
#include <QMouseEvent>

namespace melvora {

OutputFolderBox::OutputFolderBox(QWidget *parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setDuplicatesEnabled(true);
    // Only the edit line shows: the arrow would open a list that never drops down.
    setStyleSheet(QStringLiteral("QComboBox { padding-right: 0px; }"
                                 "QComboBox::drop-down { width: 0px; border: none; }"
                                 "QComboBox::down-arrow { image: none; width: 0px; height: 0px; }"));
}

int OutputFolderBox::addFolder(const QString &folder) {
    int index = 0;
    while (index < count() && QString::compare(itemText(index), folder, Qt::CaseInsensitive) <= 0)
        ++index;
    // Inserting into an editable box may replace what the user typed: keep it.
    const QString typed = currentText();
    insertItem(index, folder);
    setEditText(typed);
    return index;
}

void OutputFolderBox::mousePressEvent(QMouseEvent *event) {
    QComboBox::mousePressEvent(event);
    event->accept();
}

} // namespace melvora
