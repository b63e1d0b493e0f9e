// The web browsers whose holders carry window titles.
#pragma once

#include <array>
#include <string>
#include <string_view>

// Leading parts of browser bundle identifiers, in the order they are tried.
// Chromium comes last: the browser most Linux distributions ship, and a
// Chromium build on a Mac.
inline constexpr std::array<std::string_view, 10> browsers = {
    "com.google.Chrome",      "com.brave.Browser",       "com.apple.Safari",
    "company.thebrowser.Browser", "com.microsoft.edgemac", "org.mozilla.firefox",
    "company.thebrowser.dia", "com.operasoftware.Opera", "com.vivaldi.Vivaldi",
    "org.chromium.Chromium",
};

// True when bundle starts with an entry of browsers (case-sensitive).
bool isBrowserBundle(std::string_view bundle);

// bundle cut just before its third ".": its first three pieces, empty pieces
// included.
std::string bundleFamily(std::string_view bundle);
