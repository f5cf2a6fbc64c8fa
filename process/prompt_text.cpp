#include "process/prompt_text.h"

std::wstring buildClosePromptText(const std::vector<std::uint32_t>& processIds) {
    std::wstring text = L"Phát hiện " + std::to_wstring(processIds.size()) +
                        L" cửa sổ game đang chạy (PID: ";
    for (std::size_t i = 0; i < processIds.size(); ++i) {
        if (i > 0) text += L", ";
        text += std::to_wstring(static_cast<unsigned long>(processIds[i]));
    }
    text += L").\nCần đóng game để cập nhật phiên bản mới.\n\n"
            L"Nhấn Yes để đóng game và cập nhật ngay.\nNhấn No để giữ phiên bản đang chạy.";
    return text;
}

std::wstring buildClosePromptCaption(const std::wstring& displayName) {
    return displayName + L" - Cập nhật";
}

CloseFailureNotice buildCloseFailureNotice(const std::wstring& displayName) {
    return {displayName, L"Không đóng được game đang chạy, hãy tắt game rồi mở lại.", displayName,
            L"resource/game.ico", L"", displayName};
}

int closePromptResult(CloseOutcome outcome) {
    return (outcome == CloseOutcome::NoneRunning || outcome == CloseOutcome::AllClosed) ? 0 : 2;
}

bool closeOutcomeNeedsNotice(CloseOutcome outcome) {
    return outcome == CloseOutcome::StillRunning;
}
