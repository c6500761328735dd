#pragma once

#include "platform/DesktopServices.h"

namespace melvora {

// The real desktop: Qt's message boxes and file dialogs, and
// QDesktopServices for opening folders and addresses.
class QtDesktop : public DesktopServices {
public:
    void messageBox(const QString &text, MessageIcon icon) override;
    QStringList openFileNames(QWidget *owner, const QString &barFilter) override;
    std::optional<QString> pickFolder(const QString &title) override;
    int openInDesktop(const QString &target) override;
    void beep() override;
};

} // namespace melvora
