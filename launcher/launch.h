// Start of the game's bundled Java runtime, hidden, after which the launcher ends.
#pragma once

#include <string>

// Returns only when the game could not be started (no catalogue row, no runtime, or
// process creation failed); after a successful start the process ends with code 0.
void launchGame();

std::wstring javaRuntimePathIn(const std::wstring& gameFolder);
std::wstring buildJavaCommandLine(const std::wstring& runtimePath, const std::wstring& mainClass);
std::wstring buildLaunchFailureText(unsigned long errorCode);
