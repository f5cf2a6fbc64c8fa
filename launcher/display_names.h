// The games' display names. Game selection writes them into g_appDisplayName and the
// notification identity compares against them literally, so both use these constants.
#pragma once

inline constexpr const wchar_t* kDisplayNameKova = L"Kova Ascendant";
inline constexpr const wchar_t* kDisplayNameBelu = L"Belu Ascendant";
inline constexpr const wchar_t* kDisplayNameStoneHarbor = L"Stone Harbor";
inline constexpr const wchar_t* kDefaultDisplayName = L"VORNEL LAB";
