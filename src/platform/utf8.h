#pragma once
// UTF-8 encoding of single code points, shared by the code page and byte-order-mark readers.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kelvad::platform::utf8 {

// Appends the UTF-8 form of one code point (below 0x110000).
inline void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// How many bytes from the start are ASCII, which every 8-bit code page and UTF-8 keep as they
// are. A result file is ASCII all but throughout: eight bytes are tested at a time.
inline std::size_t ascii_run_length(std::string_view bytes) {
    std::size_t i = 0;
    for (std::uint64_t word; bytes.size() - i >= 8; i += 8) {
        std::memcpy(&word, bytes.data() + i, 8);
        if (word & 0x8080808080808080u) break;
    }
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
    return i;
}

}  // namespace kelvad::platform::utf8
