#include "platform/linux/windows/window_sources.h"

#include <algorithm>
#include <cstdlib>

namespace linux_source {

bool isApplicationWindow(std::uint32_t role) {
  return role == kRoleFrame;
}

std::vector<model::Window> windowsOfChildren(const std::vector<AccessibleChild>& children) {
  std::vector<model::Window> windows;
  for (const AccessibleChild& child : children) {
    if (!isApplicationWindow(child.role) || (child.name && child.name->empty())) continue;
    if (child.name) windows.push_back(model::Window{kAXErrorSuccess, model::ValueKind::expected, *child.name});
    else windows.push_back(model::Window{kAXErrorNoValue, model::ValueKind::expected, {}});
  }
  return windows;
}

std::vector<model::Window> windowsOfClients(const std::vector<ClientWindow>& windows, pid_t pid) {
  std::vector<model::Window> out;
  for (const ClientWindow& window : windows) {
    if (window.pid != pid) continue;
    if (window.title) out.push_back(model::Window{kAXErrorSuccess, model::ValueKind::expected, *window.title});
    else out.push_back(model::Window{kAXErrorNoValue, model::ValueKind::expected, {}});
  }
  return out;
}

std::vector<WindowOwner> windowOwners(const std::vector<ClientWindow>& xWindows,
                                      const std::vector<AccessibleApplication>& busApplications) {
  std::vector<WindowOwner> owners;
  const auto known = [&](pid_t pid) {
    return std::any_of(owners.begin(), owners.end(), [pid](const WindowOwner& owner) { return owner.pid == pid; });
  };
  for (const ClientWindow& window : xWindows)
    if (!known(window.pid)) owners.push_back(WindowOwner{window.pid, std::nullopt});
  for (const AccessibleApplication& application : busApplications)
    if (!known(application.pid)) owners.push_back(WindowOwner{application.pid, application.root});
  return owners;
}

bool WindowSources::titlesReadable() {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland != nullptr && *wayland != '\0') return bus_.readable();
  return x_.reachable();
}

std::vector<AccessibleApplication> WindowSources::busApplications() {
  // The accessibility bus is asked only once accessibility is on: until then
  // no application has registered on it.
  if (!bus_.switchedOn()) return {};
  return bus_.applications().value_or(std::vector<AccessibleApplication>{});
}

namespace {

// The X listing where there is one, without a copy.
const std::vector<ClientWindow>& listedOrNone(const std::optional<std::vector<ClientWindow>>& listed) {
  static const std::vector<ClientWindow> none;
  return listed ? *listed : none;
}

}  // namespace

std::vector<WindowOwner> WindowSources::owners() {
  return windowOwners(listedOrNone(x_.clientWindows()), busApplications());
}

std::optional<std::vector<model::Window>> WindowSources::windowsOf(pid_t pid) {
  const std::vector<ClientWindow>& xWindows = listedOrNone(x_.clientWindows());
  for (const WindowOwner& owner : windowOwners(xWindows, busApplications())) {
    if (owner.pid != pid) continue;
    if (!owner.onBus) return windowsOfClients(xWindows, pid);
    const auto children = bus_.children(*owner.onBus);
    if (!children) return std::nullopt;
    return windowsOfChildren(*children);
  }
  return std::nullopt;
}

}  // namespace linux_source
