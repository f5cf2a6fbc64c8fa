// Which game this launcher serves, from the words in its own folder path.
#pragma once

#include <string>

struct GameSelection {
    std::string gameId;
    std::wstring displayName;
};

// selectionKey: the launcher's folder path in UTF-8, lower-cased (ASCII letters).
GameSelection selectGame(const std::string& selectionKey);

// The part of path before its last '\' or '/'; the whole path when it has neither.
std::wstring directoryOfPath(const std::wstring& path);
