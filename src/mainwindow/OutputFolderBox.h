#pragma once

#include <QComboBox>

namespace melvora {

// The output-folder box: an edit line with a sorted list of the folders
// chosen before, and no drop-down. The list is reached with the Up and Down
// keys only; typing never adds to it.
class OutputFolderBox : public QComboBox {
    Q_OBJECT

public:
    explicit OutputFolderBox(QWidget *parent = nullptr);

    // Adds a folder at its sorted place (case-insensitive); the same folder
    // may be listed more than once. Returns its index.
    int addFolder(const QString &folder);

    // There is no drop-down list to show.
    void showPopup() override {}

protected:
    // A press on the frame belongs to the box, not to the window behind it.
    void mousePressEvent(QMouseEvent *event) override;
};

} // namespace melvora
