// What the close prompt shows and how its outcome is reported, without system calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::wstring buildClosePromptText(const std::vector<std::uint32_t>& processIds);
std::wstring buildClosePromptCaption(const std::wstring& displayName);

// The arguments of the notification sent when a copy is still running after closing.
struct CloseFailureNotice {
    std::wstring title;
    std::wstring message;
    std::wstring appName;
    std::wstring logoPath;
    std::wstring iconPath;
    std::wstring gameName;
};
CloseFailureNotice buildCloseFailureNotice(const std::wstring& displayName);

// How one prompt ended.
enum class CloseOutcome {
    NoneRunning,    // nothing found: no prompt
    Declined,       // any answer but Yes, or the message box failed
    NotOpenable,    // a listed id could not be opened for closing
    NoLongerACopy,  // a listed id now belongs to a process that is not a copy of the game
    StillRunning,   // closed, but a copy was found again after the pause
    AllClosed,      // closed, and none was found again
};

// 0: go on with the patch; 2: stop.
int closePromptResult(CloseOutcome outcome);
bool closeOutcomeNeedsNotice(CloseOutcome outcome);
