// Unpacking of a patch archive held in memory into a root folder.
#pragma once

#include <string>
#include <vector>

#ifdef _WIN32
// root must end with a backslash: entry names are appended to it. True when every
// entry was handled and at least one was. The launcher's own executable is handed to
// the self-update instead of being written.
bool extractPatchArchive(const std::vector<unsigned char>& archive, const std::wstring& root);
#endif
