// The one table that maps the names browsers go by on Linux onto the bundle
// identifiers of the browser table, so a reader of the stream recognises a
// browser the same way on every system.
#pragma once

#include <string>
#include <string_view>

namespace linux_source {

// The bundle identifier for a name a known browser goes by on Linux (an
// application ID, desktop ID, Flatpak ID, snap name, executable name, or the
// ID a sound stream declares), or nothing.
std::string_view browserBundleFor(std::string_view linuxName);

// Whether an ID would pass for a known browser: one of its names, or an ID
// that begins with one of the bundle identifiers the names map onto (and so
// falls in that browser's family when titles are gathered).
bool namesBrowser(std::string_view id);

}  // namespace linux_source
