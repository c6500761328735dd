#pragma once

#include <QString>
#include <QUrl>

namespace melvora {

// What openInDesktop will hand to the desktop for a target text: a web or
// other address with a scheme, or a local file or folder as a file URL.
// Local targets are checked first because the desktop's opener reports a
// missing file only after it has started, too late to tell the user why.
struct DesktopTarget {
    QUrl url;            // empty when the target cannot be opened
    int failureCode = 0; // the OpenResult code when url is empty
    bool isLocalFile = false;

    bool isOpenable() const { return !url.isEmpty(); }
};

// Rules: an empty target is a missing file; a text with a scheme ("https:",
// "mailto:", "file:") is an address; a text starting with "www." that names
// no local file is a web address; anything else is a path, relative ones
// taken from the working folder. A missing path gives FileNotFound when its
// folder exists and PathNotFound otherwise; an unreadable one AccessDenied.
DesktopTarget resolveDesktopTarget(const QString &target);

// The language files name the help page relative to the program's data
// folder ("help/index.html"), so that it works wherever the program is
// installed: a relative path becomes that file in dataFolder(). Addresses
// with a scheme, "www." addresses, absolute paths and "" stay as they are.
QString addressInDataFolder(const QString &address);

} // namespace melvora
