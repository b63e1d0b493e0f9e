// Flatpak connects an application to the accessibility bus through a bus
// proxy (xdg-dbus-proxy), which it runs in a sandbox of its own that carries
// the application's /.flatpak-info. The bus knows the proxy's pid; the
// frames registered through it are the application's.
#pragma once

#include <sys/types.h>

#include <string>

namespace linux_source {

// The application that the bus proxy pid serves: the first process of the
// same Flatpak instance (its /.flatpak-info names the same instance-id) that
// is neither a proxy nor bubblewrap and whose parent is not of the instance.
// pid itself when it is no proxy, or when no such process is found. Reads go
// below root.
pid_t applicationBehindProxy(const std::string& root, pid_t pid);

}  // namespace linux_source
