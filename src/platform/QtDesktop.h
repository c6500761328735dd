#pragma once

#include "platform/DesktopServices.h"

namespace melvora {

// The real desktop: Qt's message boxes and file dialogs, QDesktopServices
// for opening folders and addresses, and the freedesktop.org D-Bus services
// for notifications and for showing a file in the file manager.
class QtDesktop : public DesktopServices {
public:
    void messageBox(const QString &text, MessageIcon icon) override;
    QStringList openFileNames(QWidget *owner, const QString &barFilter) override;
    std::optional<QString> pickFolder(const QString &title) override;
    int openInDesktop(const QString &target) override;
    void beep() override;
    void notify(const QString &summary, const QString &body) override;
    int showInFileManager(const QString &filePath, const QString &folder) override;
};

} // namespace melvora
