#include <gtest/gtest.h>

#include "process/prompt_text.h"

namespace {

// Written with escapes so that the test does not share the source file's encoding of the
// Vietnamese letters with the code under test.
const std::wstring kPromptTail =
    L").\nC\u1EA7n \u0111\u00F3ng game \u0111\u1EC3 c\u1EADp nh\u1EADt phi\u00EAn b\u1EA3n m\u1EDBi.\n\n"
    L"Nh\u1EA5n Yes \u0111\u1EC3 \u0111\u00F3ng game v\u00E0 c\u1EADp nh\u1EADt ngay.\n"
    L"Nh\u1EA5n No \u0111\u1EC3 gi\u1EEF phi\u00EAn b\u1EA3n \u0111ang ch\u1EA1y.";

const std::wstring kPromptHead = L"Ph\u00E1t hi\u1EC7n ";
const std::wstring kPromptMiddle = L" c\u1EEDa s\u1ED5 game \u0111ang ch\u1EA1y (PID: ";

TEST(ClosePromptText, ListsTheIdsInOrderWithSeparators) {
    EXPECT_EQ(kPromptTail.size(), 120u);
    EXPECT_EQ(buildClosePromptText({612, 948}), kPromptHead + L"2" + kPromptMiddle + L"612, 948" + kPromptTail);
    EXPECT_EQ(buildClosePromptText({948, 612, 7}),
              kPromptHead + L"3" + kPromptMiddle + L"948, 612, 7" + kPromptTail);
}

TEST(ClosePromptText, OneIdHasNoSeparator) {
    const std::wstring text = buildClosePromptText({612});
    EXPECT_EQ(text.substr(0, text.find(L'\n')),
              L"Ph\u00E1t hi\u1EC7n 1 c\u1EEDa s\u1ED5 game \u0111ang ch\u1EA1y (PID: 612).");
    EXPECT_EQ(text, kPromptHead + L"1" + kPromptMiddle + L"612" + kPromptTail);
}

TEST(ClosePromptText, IdsAreUnsignedDecimalAndTheCountHasNoGrouping) {
    EXPECT_EQ(buildClosePromptText({4294967295u}), kPromptHead + L"1" + kPromptMiddle + L"4294967295" + kPromptTail);
    const std::vector<std::uint32_t> many(1000, 8);
    const std::wstring text = buildClosePromptText(many);
    EXPECT_EQ(text.substr(0, kPromptHead.size() + 4 + kPromptMiddle.size()), kPromptHead + L"1000" + kPromptMiddle);
}

TEST(ClosePromptCaption, AppendsTheUpdateWord) {
    EXPECT_EQ(buildClosePromptCaption(L"Kova Ascendant"), L"Kova Ascendant - C\u1EADp nh\u1EADt");
    EXPECT_EQ(buildClosePromptCaption(L"VORNEL LAB"), L"VORNEL LAB - C\u1EADp nh\u1EADt");
}

TEST(CloseFailureNotice, CarriesTheSixArgumentsInOrder) {
    const CloseFailureNotice notice = buildCloseFailureNotice(L"Stone Harbor");
    EXPECT_EQ(notice.title, L"Stone Harbor");
    EXPECT_EQ(notice.message,
              L"Kh\u00F4ng \u0111\u00F3ng \u0111\u01B0\u1EE3c game \u0111ang ch\u1EA1y, h\u00E3y t\u1EAFt game "
              L"r\u1ED3i m\u1EDF l\u1EA1i.");
    EXPECT_EQ(notice.appName, L"Stone Harbor");
    EXPECT_EQ(notice.logoPath, L"resource/game.ico");
    EXPECT_EQ(notice.iconPath, L"");
    EXPECT_EQ(notice.gameName, L"Stone Harbor");
}

TEST(ClosePromptResult, GoesOnOnlyWhenNothingRunsAndNotifiesOnlyWhenACopySurvived) {
    struct Case {
        CloseOutcome outcome;
        int result;
        bool notice;
    };
    const Case cases[] = {
        {CloseOutcome::NoneRunning, 0, false},   {CloseOutcome::AllClosed, 0, false},
        {CloseOutcome::Declined, 2, false},      {CloseOutcome::NotOpenable, 2, false},
        {CloseOutcome::NoLongerACopy, 2, false}, {CloseOutcome::StillRunning, 2, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(closePromptResult(c.outcome), c.result) << static_cast<int>(c.outcome);
        EXPECT_EQ(closeOutcomeNeedsNotice(c.outcome), c.notice) << static_cast<int>(c.outcome);
    }
}

}  // namespace
