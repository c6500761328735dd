#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace melvora {

enum class MessageIcon { None, Exclamation };

// Everything the windows ask of the desktop: message boxes, the file and
// folder pickers, opening a folder or an address. The windows reach it only
// through desktop(), so a test installs a scripted replacement and drives a
// whole workflow without a modal box blocking it.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // OK-only box captioned with applicationTitle(); returns once dismissed.
    virtual void messageBox(const QString &text, MessageIcon icon = MessageIcon::None) = 0;

    // The open-file dialog. barFilter is "name|patterns|name|patterns|"
    // (see qtFileFilters). Several files may be selected; an empty list
    // means the user cancelled.
    virtual QStringList openFileNames(QWidget *owner, const QString &barFilter) = 0;

    // The folder picker; std::nullopt when the user cancelled.
    virtual std::optional<QString> pickFolder(const QString &title) = 0;

    // Opens a folder, file or web address with the desktop's default
    // handler. Returns an OpenResult code: above 32 on success.
    virtual int openInDesktop(const QString &target) = 0;

    // The short warning sound that goes with a failure report.
    virtual void beep() = 0;

    // A desktop notification (the desktop's notification service); nothing happens when the
    // desktop has none.
    virtual void notify(const QString &summary, const QString &body) = 0;

    // Shows a file selected in the desktop's file manager; where the file manager cannot do that,
    // opens the folder with openInDesktop and returns its code.
    virtual int showInFileManager(const QString &filePath, const QString &folder) = 0;
};

// The installed services: the Qt ones unless a test installed others.
DesktopServices &desktop();

// Installs services (not owned) and returns the ones installed before;
// nullptr brings back the Qt implementation.
DesktopServices *installDesktop(DesktopServices *services);

// Caption of every message box: the executable's file name without its
// extension, so renaming the program renames its boxes.
QString applicationTitle();

} // namespace melvora
