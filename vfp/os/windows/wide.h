// UTF-8 <-> UTF-16 for the Win32 calls: the engine's strings are UTF-8, Windows' are wide.
#pragma once

#include <string>
#include <string_view>

namespace vfp::os {

// Malformed UTF-8 comes out as U+FFFD; unpaired surrogates the same way in the other direction.
std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

}  // namespace vfp::os
