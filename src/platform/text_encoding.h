#pragma once
#include <string>
#include <string_view>

// Bytes taken as Latin-1 characters, re-encoded as UTF-8 (script lines).
std::string Latin1ToUtf8(std::string_view bytes);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// File names arrive as UTF-8 and are handed to the system as they are; a name
// that is not valid UTF-8 is refused with the range error "bad conversion" (a
// runtime error that callers wrapping file errors let pass as it is).
void RequireUtf8FileName(std::string_view name);
