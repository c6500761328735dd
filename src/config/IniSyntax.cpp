#include "config/IniSyntax.h"

#include <climits>

namespace melvora::inisyntax {
namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != text.npos;
}

} // namespace

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimLeft(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

std::string_view trim(std::string_view text) {
    text = trimLeft(text);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

std::string cutToUtf16Units(std::string_view utf8, std::size_t maxUnits) {
    std::size_t units = 0;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[pos]);
        std::size_t length = 1;
        if (lead >= 0xC0 && lead < 0xE0)
            length = 2;
        else if (lead >= 0xE0 && lead < 0xF0)
            length = 3;
        else if (lead >= 0xF0 && lead < 0xF8)
            length = 4;
        std::size_t continuation = 1;
        while (continuation < length && pos + continuation < utf8.size() &&
               (static_cast<unsigned char>(utf8[pos + continuation]) & 0xC0) == 0x80)
            ++continuation;
        if (continuation != length)
            length = 1; // malformed: counts as one unit, like its replacement character
        const std::size_t needed = length == 4 ? 2 : 1;
        if (units + needed > maxUnits)
            break;
        units += needed;
        pos += length;
    }
    return std::string(utf8.substr(0, pos));
}

std::string readableValue(std::string_view raw) {
    std::string_view value = trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return cutToUtf16Units(value);
}

int parseLeadingInteger(std::string_view text) {
    text = trimLeft(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    long long magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        if (magnitude <= static_cast<long long>(INT_MAX) + 1)
            magnitude = magnitude * 10 + (c - '0');
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool isWritableSectionName(std::string_view name) {
    return !name.empty() && trim(name) == name && name.find(']') == name.npos && !hasLineBreakOrNul(name);
}

bool isWritableKeyName(std::string_view name) {
    return !name.empty() && trim(name) == name && name.find('=') == name.npos && name.front() != '[' &&
           name.front() != ';' && name.front() != '#' && !hasLineBreakOrNul(name);
}

bool isWritableValue(std::string_view value) {
    return !hasLineBreakOrNul(value);
}

} // namespace melvora::inisyntax
