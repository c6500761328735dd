#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Small text rules shared by the INI reader and writer, so that both agree on what a name or a
// value is.
namespace melvora::inisyntax {

// Values arrive cut to this many UTF-16 code units, as through a 1000-character buffer.
inline constexpr std::size_t maxValueUnits = 999;

bool isBlank(char c);
std::string_view trim(std::string_view text);
std::string_view trimLeft(std::string_view text);
// Section and key names compare without regard to ASCII case.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Cuts UTF-8 text to at most `maxUnits` UTF-16 code units without splitting a character.
std::string cutToUtf16Units(std::string_view utf8, std::size_t maxUnits = maxValueUnits);

// A raw value as a reader returns it: blanks trimmed, one pair of matching single or double
// quotes around the whole value removed, and cut to `maxValueUnits`.
std::string readableValue(std::string_view raw);

// Integer reading of a value: blanks, an optional sign and the leading decimal digits; no digits
// gives 0, and values beyond the int range are clamped.
int parseLeadingInteger(std::string_view text);

// Whether a name can be written so that it reads back as itself on a single line.
bool isWritableSectionName(std::string_view name);
bool isWritableKeyName(std::string_view name);
bool isWritableValue(std::string_view value);

} // namespace melvora::inisyntax
