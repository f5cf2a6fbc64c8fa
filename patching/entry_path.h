// How a patch archive's entry names become paths below the install root.
#pragma once

#include <string>

// The entry name up to its first NUL byte, with every '/' turned into '\'.
std::string entryRelativePath(const std::string& entryName);

// False for a relative path that is empty, could lead outside the root, or names some
// other file than it seems to: a leading '\', any ':' (drive letters, alternate
// streams), an empty or "." component, a component ending in a period or blank (the
// file system drops those, so ". ." climbs and "game.exe." is "game.exe"), or a reserved
// device name such as CON or nul.txt. A final '\' (a directory entry) is allowed.
bool isSafeRelativePath(const std::string& relativePath);

bool isDirectoryEntry(bool reportedAsDirectory, const std::string& relativePath);

// Equal when only the case of the ASCII letters A-Z differs.
bool equalIgnoringAsciiCase(const std::wstring& a, const std::wstring& b);

// Everything before the last '\'; empty when there is none.
std::wstring parentFolderOf(const std::wstring& path);

// The file beside target that receives an entry before it replaces target.
std::wstring replacementPathFor(const std::wstring& target);
