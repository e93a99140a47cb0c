// The names a document may not have on Windows. Built on every platform, so that the tests check
// them on Linux too; only the Windows build applies them.
#pragma once

#include <string_view>

// The characters that separate the folders of a Windows path.
inline constexpr std::string_view kWindowsPathSeparators = "/\\";

// Whether Windows would not open one component of a path as a file of the program's own:
// - a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$), whatever
//   its case, extension or trailing spaces: the text would go to a printer port or nowhere;
// - a name with a colon, which names a stream inside a file, where the text would go unseen, or
//   a drive.
bool IsRefusedWindowsName(std::string_view component);
