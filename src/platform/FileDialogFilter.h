#pragma once

#include <QString>
#include <QStringList>

namespace melvora {

// Translates a bar-separated filter text, "name|patterns|name|patterns|",
// into Qt's filter entries such as "Video files (*.mp4 *.mkv)".
// The text is read as a list of strings ending at the first empty one,
// taken in pairs of a name and a pattern list: an empty name (or an empty
// pattern list) ends the filters, so an empty first name gives no filter at
// all, and a name left without its patterns is dropped. Patterns separated
// by ";" become space-separated; "*.*" becomes "*" so that files without an
// extension still match "all files".
QStringList qtFileFilters(const QString &barText);

// The same entries joined with ";;", as QFileDialog takes them; empty when
// there is no filter.
QString qtFileFilterString(const QString &barText);

} // namespace melvora
