#pragma once
// UTF-8 texts of the program to and from the UTF-16 of the Win32 calls.

#include <string>
#include <string_view>

namespace kelvad::ui::win32 {

std::wstring to_utf16(std::string_view text);
std::string to_utf8(std::wstring_view text);

}  // namespace kelvad::ui::win32
