// libFuzzer targets for the text a user or a stored file hands the program:
// fuzz_ini, an INI file's bytes read and edited as the settings are;
// fuzz_mix_value, a mix-control value as typed on the command line or in
// the dialog.

#include "config/IniDocument.h"
#include "engine/MixSettings.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
#ifdef MELVORA_FUZZ_INI
    melvora::IniDocument document(bytes);
    for (const char *section : {"LANGUAGE", "MIX", "JOIN", "CAPTIONS"})
        for (const char *key : {"file", "music_gain", "size", "start"})
            (void)document.value(section, key);
    // An edit that is taken must read back as written.
    if (document.setValue("MIX", "music_gain", "-6") && document.value("MIX", "music_gain") != "-6")
        std::abort();
#else
    for (const melvora::MixControlInfo &info : melvora::mixControls()) {
        double value = 0;
        std::string error;
        if (melvora::parseMixControlValue(info.control, bytes, value, error) && !std::isfinite(value))
            std::abort(); // a value taken is a number
    }
#endif
    return 0;
}
