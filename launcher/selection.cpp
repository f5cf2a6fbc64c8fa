#include "launcher/selection.h"

#include <vector>

#include "launcher/display_names.h"

namespace {

struct SelectionRow {
    std::vector<const char*> keywords;
    const char* gameId;
    const wchar_t* displayName;
};

// Tried in order; a folder path holding keywords of two games selects the earlier row.
const std::vector<SelectionRow>& selectionTable() {
    static const std::vector<SelectionRow> table = {
        {{"kova", "emberhollows", "greatrivermoon", "brindlestudio"}, "kova", kDisplayNameKova},
        {{"belu", "tavisk", "quimbel", "zephyn"}, "belu", kDisplayNameBelu},
        {{"stoneharbor", "harborshadow"}, "stoneharbor", kDisplayNameStoneHarbor},
    };
    return table;
}

}  // namespace

GameSelection selectGame(const std::string& selectionKey) {
    for (const SelectionRow& row : selectionTable()) {
        for (const char* keyword : row.keywords) {
            if (selectionKey.find(keyword) != std::string::npos) return {row.gameId, row.displayName};
        }
    }
    return {"kova", kDefaultDisplayName};
}

std::wstring directoryOfPath(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return path;
    return path.substr(0, separator);
}
