// How a patch archive's entry names become paths below the install root.
#pragma once

#include <string>

// The entry name up to its first NUL byte, with every '/' turned into '\'.
std::string entryRelativePath(const std::string& entryName);

// False for a relative path that is empty or could lead outside the root: a leading
// '\', any ':' (drive letters, alternate streams), or a component of two or more dots
// (blanks mixed in included, since the file system drops trailing dots and blanks).
bool isSafeRelativePath(const std::string& relativePath);

bool isDirectoryEntry(bool reportedAsDirectory, const std::string& relativePath);

// Equal when only the case of the ASCII letters A-Z differs.
bool equalIgnoringAsciiCase(const std::wstring& a, const std::wstring& b);

// Everything before the last '\'; empty when there is none.
std::wstring parentFolderOf(const std::wstring& path);

// The file beside target that receives an entry before it replaces target.
std::wstring replacementPathFor(const std::wstring& target);
