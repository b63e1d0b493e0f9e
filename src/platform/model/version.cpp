#include <string>
#include <tuple>

#include "platform/model/model.h"
#include "platform/model/objects.h"
#include "platform/model/version_names.h"

namespace model {

bool operatingSystemAtLeast(int major, int minor, int patch) {
  if (recording())
    noteCall("operatingSystemAtLeast(" + std::to_string(major) + "." + std::to_string(minor) + "." +
             std::to_string(patch) + ")");
  const OperatingSystemVersion& v = scene().version;
  return std::tie(v.major, v.minor, v.patch) >= std::tie(major, minor, patch);
}

}  // namespace model
