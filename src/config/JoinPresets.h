#pragma once

#include "config/IniKey.h"

#include <array>
#include <string>
#include <vector>

namespace melvora {

// The six preset lists that the main window carries hidden.
enum class JoinList { Format, Size, Framerate, Quality, Samplerate, Audioquality };

// The hidden preset lists and their selections, stored in section JOIN of setting.ini. Nothing
// uses the selections; they are carried from one run to the next: a stored position inside its
// list is selected at start-up, anything else leaves the list without a selection, which is
// written back as -1 at close.
class JoinPresets {
public:
    static constexpr int noSelection = -1;
    static constexpr std::array allLists{JoinList::Format,  JoinList::Size,       JoinList::Framerate,
                                         JoinList::Quality, JoinList::Samplerate, JoinList::Audioquality};

    // The "same as source" entry heading three of the lists is the language text JIEMIAN/ywjyy.
    JoinPresets();
    explicit JoinPresets(std::string sameAsSourceText);

    const std::vector<std::string> &entries(JoinList list) const;
    static IniKey settingKey(JoinList list);

    int selection(JoinList list) const;
    // A position outside the list clears the selection.
    void select(JoinList list, int position);

    // Start-up: reads format, size, framerate, quality, samplerate, audioquality in that order.
    void loadFromSettings();
    // Close: writes quality, size, framerate, audioquality, samplerate in that order; format is
    // never written. False when a write failed (the others are still attempted).
    bool saveToSettings() const;

private:
    static std::size_t index(JoinList list) { return static_cast<std::size_t>(list); }

    std::array<std::vector<std::string>, allLists.size()> m_entries;
    std::array<int, allLists.size()> m_selection{};
};

} // namespace melvora
