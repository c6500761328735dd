#include "config/TextCodec.h"

namespace melvora {
namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

void appendUtf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUtf16(std::string &out, char16_t unit, bool bigEndian) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
}

// Reads one code point at `pos`, advancing it; a malformed sequence yields U+FFFD for one byte.
char32_t nextCodePoint(std::string_view utf8, std::size_t &pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    const unsigned char lead = byte(pos);
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    }
    if (length == 0 || pos + length > utf8.size()) {
        ++pos;
        return replacementCharacter;
    }
    for (int i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return replacementCharacter;
        }
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return replacementCharacter;
    }
    pos += length;
    return cp;
}

} // namespace

TextEncoding TextCodec::detect(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return TextEncoding::Utf8Bom;
    if (bytes.starts_with("\xFF\xFE"))
        return TextEncoding::Utf16LeBom;
    if (bytes.starts_with("\xFE\xFF"))
        return TextEncoding::Utf16BeBom;
    return TextEncoding::Utf8;
}

std::string_view TextCodec::byteOrderMark(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf8Bom:
        return "\xEF\xBB\xBF";
    case TextEncoding::Utf16LeBom:
        return "\xFF\xFE";
    case TextEncoding::Utf16BeBom:
        return "\xFE\xFF";
    case TextEncoding::Utf8:
        break;
    }
    return {};
}

std::size_t TextCodec::unitSize(TextEncoding encoding) {
    return encoding == TextEncoding::Utf16LeBom || encoding == TextEncoding::Utf16BeBom ? 2 : 1;
}

char16_t TextCodec::utf16Unit(std::string_view body, std::size_t index, TextEncoding encoding) {
    const auto first = static_cast<unsigned char>(body[2 * index]);
    const auto second = static_cast<unsigned char>(body[2 * index + 1]);
    return encoding == TextEncoding::Utf16BeBom ? static_cast<char16_t>(first << 8 | second)
                                                : static_cast<char16_t>(second << 8 | first);
}

std::string TextCodec::decode(std::string_view body, TextEncoding encoding) {
    std::string out;
    out.reserve(body.size());
    if (unitSize(encoding) == 1) {
        for (char c : body) {
            if (c == '\0')
                appendUtf8(out, replacementCharacter);
            else
                out += c;
        }
        return out;
    }
    const std::size_t units = body.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = utf16Unit(body, i, encoding);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const char16_t next = utf16Unit(body, i + 1, encoding);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(next) - 0xDC00));
                ++i;
                continue;
            }
        }
        const bool unusable = unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF);
        appendUtf8(out, unusable ? replacementCharacter : unit);
    }
    if (body.size() % 2 != 0)
        appendUtf8(out, replacementCharacter);
    return out;
}

std::string TextCodec::encode(std::string_view utf8, TextEncoding encoding) {
    if (unitSize(encoding) == 1)
        return std::string(utf8);
    const bool bigEndian = encoding == TextEncoding::Utf16BeBom;
    std::string out;
    out.reserve(utf8.size() * 2);
    for (std::size_t pos = 0; pos < utf8.size();) {
        const char32_t cp = nextCodePoint(utf8, pos);
        if (cp >= 0x10000) {
            appendUtf16(out, static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)), bigEndian);
            appendUtf16(out, static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)), bigEndian);
        } else {
            appendUtf16(out, static_cast<char16_t>(cp), bigEndian);
        }
    }
    return out;
}

} // namespace melvora
