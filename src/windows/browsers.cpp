#include "windows/browsers.h"

bool isBrowserBundle(std::string_view bundle) {
  for (const std::string_view entry : browsers) {
    if (bundle.substr(0, entry.size()) == entry) return true;
  }
  return false;
}

std::string bundleFamily(std::string_view bundle) {
  std::size_t cut = 0;
  for (int dots = 0; dots < 3; ++dots) {
    cut = bundle.find('.', dots == 0 ? 0 : cut + 1);
    if (cut == std::string_view::npos) return std::string(bundle);
  }
  return std::string(bundle.substr(0, cut));
}
