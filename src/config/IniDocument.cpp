#include "config/IniDocument.h"

#include "config/IniSyntax.h"

// Only the char-based, case-insensitive reader is used; we convert encodings ourselves.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <vector>

namespace melvora {

struct IniDocument::Parsed {
    CSimpleIniA ini{true, true, false}; // UTF-8, duplicate keys kept (the first one is read), no multi-line values
};

namespace {

using namespace inisyntax;

struct RawLine {
    std::size_t begin = 0;      // byte offsets into the whole file
    std::size_t contentEnd = 0; // where the line break starts
    std::size_t end = 0;        // after the line break
};

struct LineMeaning {
    enum class Kind { Other, Section, BrokenSection, Key };
    Kind kind = Kind::Other;
    std::string_view name;
};

void setError(std::string *error, std::string text) {
    if (error)
        *error = std::move(text);
}

char16_t unitAt(std::string_view bytes, std::size_t offset, TextEncoding encoding) {
    if (TextCodec::unitSize(encoding) == 1)
        return static_cast<unsigned char>(bytes[offset]);
    return TextCodec::utf16Unit(bytes.substr(offset, 2), 0, encoding);
}

// Lines end at "\r\n", "\n" or a lone "\r", as the reader sees them.
std::vector<RawLine> splitLines(std::string_view bytes, TextEncoding encoding) {
    const std::size_t unit = TextCodec::unitSize(encoding);
    std::vector<RawLine> lines;
    RawLine line;
    line.begin = TextCodec::byteOrderMark(encoding).size();
    std::size_t pos = line.begin;
    while (pos + unit <= bytes.size()) {
        const char16_t c = unitAt(bytes, pos, encoding);
        if (c != '\n' && c != '\r') {
            pos += unit;
            continue;
        }
        line.contentEnd = pos;
        pos += unit;
        if (c == '\r' && pos + unit <= bytes.size() && unitAt(bytes, pos, encoding) == '\n')
            pos += unit;
        line.end = pos;
        lines.push_back(line);
        line = RawLine{pos, pos, pos};
    }
    if (line.begin < bytes.size()) {
        line.contentEnd = line.end = bytes.size();
        lines.push_back(line);
    }
    return lines;
}

// The same reading of one line that the parser applies: comments start with ';' or '#', a
// section header runs from '[' to the first ']', a key line needs a non-empty key before '='.
LineMeaning classify(std::string_view text) {
    text = trimLeft(text);
    if (text.empty() || text.front() == ';' || text.front() == '#')
        return {};
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == text.npos)
            return {LineMeaning::Kind::BrokenSection, {}};
        return {LineMeaning::Kind::Section, trim(text.substr(1, close - 1))};
    }
    const std::size_t equals = text.find('=');
    if (equals == text.npos || equals == 0)
        return {};
    return {LineMeaning::Kind::Key, trim(text.substr(0, equals))};
}

} // namespace

IniDocument::IniDocument() : m_encoding(TextEncoding::Utf8), m_parsed(std::make_unique<Parsed>()) {}

IniDocument::IniDocument(std::string bytes)
    : m_bytes(std::move(bytes)), m_encoding(TextCodec::detect(m_bytes)), m_parsed(std::make_unique<Parsed>()) {
    const std::string_view body = std::string_view(m_bytes).substr(TextCodec::byteOrderMark(m_encoding).size());
    const std::string text = TextCodec::decode(body, m_encoding);
    // A failed load (out of memory) leaves the reader empty: every key then reads as missing.
    m_parsed->ini.LoadData(text.data(), text.size());
}

IniDocument::IniDocument(IniDocument &&) noexcept = default;
IniDocument &IniDocument::operator=(IniDocument &&) noexcept = default;
IniDocument::~IniDocument() = default;

std::optional<std::string> IniDocument::value(std::string_view section, std::string_view key) const {
    if (section.empty() || key.empty())
        return std::nullopt;
    const char *raw = m_parsed->ini.GetValue(std::string(section).c_str(), std::string(key).c_str(), nullptr);
    if (!raw)
        return std::nullopt;
    return readableValue(raw);
}

bool IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value, std::string *error) {
    if (!isWritableSectionName(section) || !isWritableKeyName(key)) {
        setError(error, "Invalid section or key name");
        return false;
    }
    if (!isWritableValue(value)) {
        setError(error, "A value cannot contain a line break");
        return false;
    }
    const std::size_t unit = TextCodec::unitSize(m_encoding);
    const std::size_t bomSize = TextCodec::byteOrderMark(m_encoding).size();
    if ((m_bytes.size() - bomSize) % unit != 0) {
        setError(error, "The file ends in the middle of a character");
        return false;
    }

    const std::vector<RawLine> lines = splitLines(m_bytes, m_encoding);
    const auto encode = [&](std::string_view utf8) { return TextCodec::encode(utf8, m_encoding); };
    const auto content = [&](const RawLine &line) {
        return TextCodec::decode(std::string_view(m_bytes).substr(line.begin, line.contentEnd - line.begin),
                                 m_encoding);
    };

    // New lines take the file's own line ending.
    std::string lineEnd = "\n";
    for (const RawLine &line : lines) {
        if (line.end != line.contentEnd) {
            lineEnd = TextCodec::decode(std::string_view(m_bytes).substr(line.contentEnd, line.end - line.contentEnd),
                                        m_encoding);
            break;
        }
    }

    std::string updated;
    bool replaced = false;
    bool inSection = false;
    bool inFirstSection = false;
    bool sawSection = false;
    std::size_t insertAfter = lines.size();
    for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
        const std::string text = content(lines[i]);
        const LineMeaning meaning = classify(text);
        switch (meaning.kind) {
        case LineMeaning::Kind::Section:
            inSection = equalsIgnoringCase(meaning.name, section);
            inFirstSection = inSection && !sawSection;
            if (inFirstSection) {
                sawSection = true;
                insertAfter = i;
            }
            break;
        case LineMeaning::Kind::BrokenSection:
            inSection = inFirstSection = false;
            break;
        case LineMeaning::Kind::Key:
            if (inSection && equalsIgnoringCase(meaning.name, key)) {
                // Keep the key and everything up to the value's first character as they are.
                std::size_t valueStart = lines[i].begin;
                while (unitAt(m_bytes, valueStart, m_encoding) != '=')
                    valueStart += unit;
                valueStart += unit;
                while (valueStart < lines[i].contentEnd && (unitAt(m_bytes, valueStart, m_encoding) == ' ' ||
                                                            unitAt(m_bytes, valueStart, m_encoding) == '\t'))
                    valueStart += unit;
                updated = m_bytes.substr(0, valueStart) + encode(value) + m_bytes.substr(lines[i].contentEnd);
                replaced = true;
            } else if (inFirstSection) {
                insertAfter = i;
            }
            break;
        case LineMeaning::Kind::Other:
            break;
        }
    }

    const std::string newKeyLine = std::string(key) + "=" + std::string(value) + lineEnd;
    if (replaced) {
        // done in place above
    } else if (sawSection) {
        const RawLine &line = lines[insertAfter];
        const std::string breakIfMissing = line.end == line.contentEnd ? encode(lineEnd) : std::string();
        updated = m_bytes.substr(0, line.end) + breakIfMissing + encode(newKeyLine) + m_bytes.substr(line.end);
    } else {
        std::string tail;
        if (!lines.empty()) {
            const RawLine &last = lines.back();
            if (last.end == last.contentEnd)
                tail += lineEnd;
            if (!trim(content(last)).empty())
                tail += lineEnd; // a blank line between sections
        }
        tail += "[" + std::string(section) + "]" + lineEnd + newKeyLine;
        updated = m_bytes + encode(tail);
    }

    // The reader must find exactly what was written; an odd file that it would read differently
    // is left alone rather than reported as saved.
    IniDocument candidate(std::move(updated));
    if (candidate.value(section, key) != readableValue(value)) {
        setError(error, "The file's layout does not allow the value to be stored");
        return false;
    }
    *this = std::move(candidate);
    return true;
}

} // namespace melvora
