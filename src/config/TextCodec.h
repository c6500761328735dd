#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace melvora {

// How an INI file's bytes are laid out. Files written by Windows tools come as UTF-16 with a
// byte-order mark or as UTF-8 with or without one; all are kept in their own form on rewrite.
enum class TextEncoding { Utf8, Utf8Bom, Utf16LeBom, Utf16BeBom };

// Converts between the bytes of a file body (without its byte-order mark) and UTF-8 text.
class TextCodec {
public:
    static TextEncoding detect(std::string_view bytes);
    static std::string_view byteOrderMark(TextEncoding encoding);
    // 1 for UTF-8, 2 for UTF-16.
    static std::size_t unitSize(TextEncoding encoding);
    // Code unit `index` of a UTF-16 body (the caller keeps index within the body).
    static char16_t utf16Unit(std::string_view body, std::size_t index, TextEncoding encoding);

    // Body to UTF-8. NUL characters, lone surrogates and a stray last byte become U+FFFD so that
    // a reader never stops early; invalid UTF-8 bytes pass through untouched.
    static std::string decode(std::string_view body, TextEncoding encoding);
    // UTF-8 to body bytes. For UTF-16 an invalid UTF-8 byte becomes U+FFFD.
    static std::string encode(std::string_view utf8, TextEncoding encoding);
};

} // namespace melvora
