#pragma once

#include "config/IniKey.h"

#include <QRect>
#include <QSize>

#include <array>
#include <span>

namespace melvora {

// The controls the main window shows, as its dialog template lays them out.
struct MainWindowTemplate {
    enum class Kind { GroupBox, Edit, PushButton, StaticText, HyperLink, BitmapButton, ComboBox };

    struct Control {
        int id;             // 0 for the frames and hints, which nothing addresses
        Kind kind;
        QRect dialogUnits;  // x, y, width, height
        const char *text;   // UTF-8; shown as it stands unless the language file has a caption
        const char *name;   // object name of a control without id; others are named by their id
        const IniKey *caption = nullptr; // the language file's text for it, when it has one
    };

    // Client area of the window, in dialog units.
    static constexpr QSize size{362, 205};
    // Font the dialog units are measured in: the template asks for the
    // desktop's dialog face at 9 points, which for these Chinese texts is a
    // CJK sans-serif. Noto Sans CJK SC is that face here; the second name
    // lets a desktop that maps the dialog face itself have its way.
    static constexpr std::array<const char *, 2> fontFamilies{"Noto Sans CJK SC", "MS Shell Dlg"};
    static constexpr int fontPointSize = 9;

    // In template order; the tab order is set separately.
    static std::span<const Control> controls();
};

} // namespace melvora
