#include "platform/linux/windows/bus_replies.h"

#include <dbus/dbus.h>

namespace linux_source {
namespace {

bool firstArgument(DBusMessage* reply, DBusMessageIter& at, int type) {
  if (reply == nullptr || !dbus_message_iter_init(reply, &at)) return false;
  if (dbus_message_iter_get_arg_type(&at) == DBUS_TYPE_VARIANT) {
    DBusMessageIter inside;
    dbus_message_iter_recurse(&at, &inside);
    at = inside;
  }
  return dbus_message_iter_get_arg_type(&at) == type;
}

}  // namespace

std::optional<bool> booleanIn(DBusMessage* reply) {
  DBusMessageIter at;
  if (!firstArgument(reply, at, DBUS_TYPE_BOOLEAN)) return std::nullopt;
  dbus_bool_t value = FALSE;
  dbus_message_iter_get_basic(&at, &value);
  return value != FALSE;
}

std::optional<std::uint32_t> numberIn(DBusMessage* reply) {
  DBusMessageIter at;
  if (!firstArgument(reply, at, DBUS_TYPE_UINT32)) return std::nullopt;
  dbus_uint32_t value = 0;
  dbus_message_iter_get_basic(&at, &value);
  return value;
}

std::optional<std::string> textIn(DBusMessage* reply) {
  DBusMessageIter at;
  if (!firstArgument(reply, at, DBUS_TYPE_STRING)) return std::nullopt;
  const char* value = nullptr;
  dbus_message_iter_get_basic(&at, &value);
  return std::string(value);
}

std::optional<std::vector<AccessibleReference>> referencesIn(DBusMessage* reply, std::size_t most) {
  DBusMessageIter at;
  if (!firstArgument(reply, at, DBUS_TYPE_ARRAY)) return std::nullopt;
  std::vector<AccessibleReference> references;
  DBusMessageIter element;
  dbus_message_iter_recurse(&at, &element);
  for (; dbus_message_iter_get_arg_type(&element) == DBUS_TYPE_STRUCT && references.size() < most;
       dbus_message_iter_next(&element)) {
    DBusMessageIter field;
    dbus_message_iter_recurse(&element, &field);
    if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_STRING) continue;
    const char* name = nullptr;
    dbus_message_iter_get_basic(&field, &name);
    if (!dbus_message_iter_next(&field) || dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_OBJECT_PATH) continue;
    const char* path = nullptr;
    dbus_message_iter_get_basic(&field, &path);
    references.push_back(AccessibleReference{name, path});
  }
  return references;
}

std::string cutAtCharacter(std::string text, std::size_t most) {
  if (text.size() <= most) return text;
  std::size_t end = most;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;  // a continuation byte
  text.resize(end);
  return text;
}

bool validReference(const AccessibleReference& reference) {
  return dbus_validate_bus_name(reference.busName.c_str(), nullptr) &&
         dbus_validate_path(reference.path.c_str(), nullptr);
}

}  // namespace linux_source
