#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/handles.h"
#include "launcher/catalogue.h"
#include "notify/gate.h"
#include "process/close_copies.h"
#include "process/detection.h"
#include "process/prompt.h"
#include "process/prompt_text.h"

CloseOutcome askAndCloseRunningCopies(const GameEntry& entry) {
    std::vector<std::uint32_t> processIds;
    if (!findRunningGameProcesses(entry.mainClass, processIds)) return CloseOutcome::NoneRunning;

    const std::wstring text = buildClosePromptText(processIds);
    const std::wstring caption = buildClosePromptCaption(g_appDisplayName);
    if (MessageBoxW(nullptr, text.c_str(), caption.c_str(),
                    MB_YESNO | MB_ICONQUESTION | MB_TOPMOST) != IDYES)
        return CloseOutcome::Declined;

    for (std::uint32_t processId : processIds) {
        // The answer may come long after the search, and by then an id may belong to
        // another process. The handle pins the process while it is checked and
        // terminated, so what is checked is what gets terminated.
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE |
                                             PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                                         FALSE, processId));
        if (!process) return CloseOutcome::NotOpenable;
        if (!isRunningCopyOfGame(process.get(), entry.mainClass)) return CloseOutcome::NoLongerACopy;
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), 5000);
    }

    Sleep(500);
    std::vector<std::uint32_t> stillRunning;
    if (findRunningGameProcesses(entry.mainClass, stillRunning)) return CloseOutcome::StillRunning;
    return CloseOutcome::AllClosed;
}

int promptCloseRunningGame(const GameEntry& entry) {
    const CloseOutcome outcome = askAndCloseRunningCopies(entry);
    if (closeOutcomeNeedsNotice(outcome)) {
        const CloseFailureNotice notice = buildCloseFailureNotice(g_appDisplayName);
        showNotification(notice.title, notice.message, notice.appName, notice.logoPath,
                         notice.iconPath, notice.gameName);
    }
    return closePromptResult(outcome);
}
