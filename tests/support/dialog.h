// Finds a message box by its caption and answers it through window messages, so
// tests read the exact texts and never depend on screen positions.
#pragma once

#include <windows.h>

#include <string>

struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
};

// Waits up to timeoutMs for a top-level dialog with exactly this caption.
bool waitForMessageBox(const std::wstring& caption, DWORD timeoutMs, MessageBoxSeen& seen);
// Clicks the button with this id (IDOK, IDYES, IDNO) of a message box.
bool clickMessageBoxButton(const MessageBoxSeen& seen, int buttonId);
// Counts the top-level dialogs with this caption right now.
int countMessageBoxes(const std::wstring& caption);
