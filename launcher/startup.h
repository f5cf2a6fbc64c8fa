#pragma once

// The launcher's whole run for one command-line tail; returns the exit code when the
// run comes back at all (most runs end the process earlier).
int runLauncher(const wchar_t* commandLineTail);

extern const wchar_t* const kLoadingMessage;
