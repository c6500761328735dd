#include "config/JoinPresets.h"

#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"

namespace melvora {

JoinPresets::JoinPresets() : JoinPresets(LanguageTexts::instance().text(languagekeys::sameAsSource)) {}

JoinPresets::JoinPresets(std::string sameAsSourceText) {
    m_entries[index(JoinList::Format)] = {"MP4 - (H264 AAC) AVC(*.mp4)"};
    m_entries[index(JoinList::Size)] = {sameAsSourceText, "640*480",  "720*480",   "720*576",   "960*540",
                                        "1024*768",       "1280*720", "1920*1080", "2880*1440", "3840*2160",
                                        "540*960",        "720*1280", "1080*1920"};
    m_entries[index(JoinList::Framerate)] = {sameAsSourceText, "8.0 fps",    "10.0 fps", "15.0 fps",
                                             "20.0 fps",       "23.975 fps", "24.0 fps", "25.0 fps",
                                             "29.97 fps",      "30.0 fps",   "50.0 fps", "60.0 fps"};
    m_entries[index(JoinList::Quality)] = {sameAsSourceText, "500 kbps",   "1000 kbps",  "2000 kbps",  "3000 kbps",
                                           "4000 kbps",      "5000 kbps",  "6000 kbps",  "8000 kbps",  "12000 kbps",
                                           "16000 kbps",     "20000 kbps", "30000 kbps", "40000 kbps", "50000 kbps",
                                           "60000 kbps",     "70000 kbps", "80000 kbps", "90000 kbps", "100000 kbps"};
    m_entries[index(JoinList::Samplerate)] = {"44100 Hz", "48000 Hz", "22050 Hz", "32000 Hz"};
    m_entries[index(JoinList::Audioquality)] = {"64 kbps",  "96 kbps",  "128 kbps", "160 kbps",
                                                "192 kbps", "256 kbps", "320 kbps"};
}

const std::vector<std::string> &JoinPresets::entries(JoinList list) const {
    return m_entries[index(list)];
}

IniKey JoinPresets::settingKey(JoinList list) {
    switch (list) {
    case JoinList::Format:
        return {settingkeys::joinSection, "format"};
    case JoinList::Size:
        return {settingkeys::joinSection, "size"};
    case JoinList::Framerate:
        return {settingkeys::joinSection, "framerate"};
    case JoinList::Quality:
        return {settingkeys::joinSection, "quality"};
    case JoinList::Samplerate:
        return {settingkeys::joinSection, "samplerate"};
    case JoinList::Audioquality:
        break;
    }
    return {settingkeys::joinSection, "audioquality"};
}

int JoinPresets::selection(JoinList list) const {
    return m_selection[index(list)];
}

void JoinPresets::select(JoinList list, int position) {
    const bool inList = position >= 0 && static_cast<std::size_t>(position) < entries(list).size();
    m_selection[index(list)] = inList ? position : noSelection;
}

void JoinPresets::loadFromSettings() {
    for (JoinList list : {JoinList::Format, JoinList::Size, JoinList::Framerate, JoinList::Quality,
                          JoinList::Samplerate, JoinList::Audioquality})
        select(list, Settings::readInt(settingKey(list)));
}

bool JoinPresets::saveToSettings() const {
    bool allStored = true;
    for (JoinList list :
         {JoinList::Quality, JoinList::Size, JoinList::Framerate, JoinList::Audioquality, JoinList::Samplerate}) {
        if (!Settings::writeInt(settingKey(list), selection(list)))
            allStored = false;
    }
    return allStored;
}

} // namespace melvora
