#include "platform/linux/windows/window_sources.h"

#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include <memory>

#include "platform/linux/windows/bus_address.h"
#include "platform/linux/windows/bus_connection.h"
#include "platform/linux/windows/bus_replies.h"
#include "platform/linux/windows/x_display.h"

namespace {

using linux_source::AccessibleApplication;
using linux_source::AccessibleChild;
using linux_source::AccessibleReference;
using linux_source::ClientWindow;

// AT-SPI's role numbers, as applications send them.
constexpr std::uint32_t kAlert = 2, kDialog = 16, kFileChooser = 19, kFrame = 23, kWindow = 69, kNotification = 101;

std::string describe(const std::vector<model::Window>& windows) {
  std::string out;
  for (const model::Window& window : windows)
    out += window.titleStatus == kAXErrorSuccess ? "[" + window.title + "]" : "<no title>";
  return out;
}

TEST(FrameSelection, OnlyNamedFramesAreWindows) {
  // Firefox in a call lists its page's frame and the sharing indicator, an
  // alert; Chromium lists two nameless frames after each of its windows.
  const std::vector<AccessibleChild> children = {
      {kFrame, "Weekly sync \xE2\x80\x94 Mozilla Firefox"},
      {kAlert, "Firefox \xE2\x80\x94 Sharing Indicator"},
      {kDialog, "Save As"},
      {kFileChooser, "Open File"},
      {kWindow, "menu"},
      {kNotification, "Download finished"},
      {kFrame, ""},
      {kFrame, std::nullopt},
      {kFrame, "Second page"},
  };
  EXPECT_EQ(describe(linux_source::windowsOfChildren(children)),
            "[Weekly sync \xE2\x80\x94 Mozilla Firefox]<no title>[Second page]");
  EXPECT_TRUE(linux_source::windowsOfChildren({}).empty());
}

TEST(FrameSelection, ChromiumsNamelessFramesLeaveTheWindowsTheirPlaces) {
  // Seven Chromium windows as the bus lists them: each window's frame, then
  // two nameless ones. All seven are windows, and no more.
  std::vector<AccessibleChild> children;
  std::string expected;
  for (int i = 1; i <= 7; ++i) {
    const std::string name = "Tab " + std::to_string(i) + " - Chromium";
    children.push_back({kFrame, name});
    children.push_back({kFrame, ""});
    children.push_back({kFrame, ""});
    expected += "[" + name + "]";
  }
  EXPECT_EQ(describe(linux_source::windowsOfChildren(children)), expected);
}

TEST(FrameSelection, ClientWindowsOfOnePid) {
  const std::vector<ClientWindow> windows = {{10, "a"}, {11, "other"}, {10, std::nullopt}, {10, "b"}};
  EXPECT_EQ(describe(linux_source::windowsOfClients(windows, 10)), "[a]<no title>[b]");
  EXPECT_EQ(describe(linux_source::windowsOfClients(windows, 12)), "");
}

AccessibleApplication onBus(pid_t pid, const std::string& name) {
  return AccessibleApplication{AccessibleReference{name, "/org/a11y/atspi/accessible/root"}, pid};
}

TEST(OneSourcePerApplication, XWindowsWinAndTheBusFillsIn) {
  struct Case {
    const char* what;
    std::vector<ClientWindow> x;
    std::vector<AccessibleApplication> bus;
    std::string owners;  // pid, then "x" or the bus name
  };
  const std::vector<Case> cases = {
      {"X clients only, in the order of their first window", {{11, "a"}, {10, "b"}, {11, "c"}}, {}, "11:x 10:x"},
      {"native Wayland clients only, in the registry's order", {}, {onBus(21, ":1.7"), onBus(20, ":1.4")},
       "21::1.7 20::1.4"},
      {"an X client on the bus as well is read from X",
       {{10, "a"}},
       {onBus(10, ":1.3"), onBus(20, ":1.4")},
       "10:x 20::1.4"},
      {"an untitled X window still makes X the source", {{10, std::nullopt}}, {onBus(10, ":1.3")}, "10:x"},
      {"two connections of one process count once", {}, {onBus(30, ":1.5"), onBus(30, ":1.6")}, "30::1.5"},
      {"neither", {}, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string owners;
    for (const linux_source::WindowOwner& owner : linux_source::windowOwners(c.x, c.bus)) {
      if (!owners.empty()) owners += ' ';
      owners += std::to_string(owner.pid) + ":" + (owner.onBus ? owner.onBus->busName : "x");
    }
    EXPECT_EQ(owners, c.owners);
  }
}

TEST(NormalWindows, TypeOrTransienceDecides) {
  // Atoms as a server might number them: NORMAL, DIALOG, UTILITY are known.
  const std::vector<std::uint32_t> known = {300, 301, 302};
  constexpr std::uint32_t kNormal = 300, kDialogType = 301, kUtility = 302, kVendorType = 999;
  struct Case {
    const char* what;
    std::vector<std::uint32_t> types;
    bool transient;
    bool normal;
  };
  const std::vector<Case> cases = {
      {"no type, not transient", {}, false, true},
      {"no type, transient for another window: a dialog", {}, true, false},
      {"normal", {kNormal}, false, true},
      {"normal wins over transience", {kNormal}, true, true},
      {"dialog (Firefox's sharing indicator)", {kDialogType}, false, false},
      {"utility", {kUtility}, false, false},
      {"a vendor's type first, then normal", {kVendorType, kNormal}, false, true},
      {"a vendor's type first, then dialog, then normal", {kVendorType, kDialogType, kNormal}, false, false},
      {"only a vendor's type", {kVendorType}, false, true},
      {"only a vendor's type, transient", {kVendorType}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(linux_source::isNormalWindow(c.types, c.transient, known), c.normal);
  }
}

struct MessageUnref {
  void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Reply = std::unique_ptr<DBusMessage, MessageUnref>;

// A reply as a peer could send it, with the arguments append writes.
template <typename Append>
Reply replyWith(Append append) {
  Reply reply(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
  DBusMessageIter at;
  dbus_message_iter_init_append(reply.get(), &at);
  append(at);
  return reply;
}

void appendVariant(DBusMessageIter& at, int type, const char* signature, const void* value) {
  DBusMessageIter inside;
  dbus_message_iter_open_container(&at, DBUS_TYPE_VARIANT, signature, &inside);
  dbus_message_iter_append_basic(&inside, type, value);
  dbus_message_iter_close_container(&at, &inside);
}

void appendReference(DBusMessageIter& array, const char* name, const char* path) {
  DBusMessageIter member;
  dbus_message_iter_open_container(&array, DBUS_TYPE_STRUCT, nullptr, &member);
  dbus_message_iter_append_basic(&member, DBUS_TYPE_STRING, &name);
  dbus_message_iter_append_basic(&member, DBUS_TYPE_OBJECT_PATH, &path);
  dbus_message_iter_close_container(&array, &member);
}

TEST(BusReplies, ValuesOfTheExpectedTypeOnly) {
  const char* text = "Weekly sync";
  const dbus_uint32_t number = 23;
  const dbus_bool_t yes = TRUE;
  const Reply plainText = replyWith([&](DBusMessageIter& at) { dbus_message_iter_append_basic(&at, DBUS_TYPE_STRING, &text); });
  const Reply variantText = replyWith([&](DBusMessageIter& at) { appendVariant(at, DBUS_TYPE_STRING, "s", &text); });
  const Reply plainNumber = replyWith([&](DBusMessageIter& at) { dbus_message_iter_append_basic(&at, DBUS_TYPE_UINT32, &number); });
  const Reply variantBoolean = replyWith([&](DBusMessageIter& at) { appendVariant(at, DBUS_TYPE_BOOLEAN, "b", &yes); });
  const Reply empty = replyWith([](DBusMessageIter&) {});

  EXPECT_EQ(linux_source::textIn(plainText.get()), "Weekly sync");
  EXPECT_EQ(linux_source::textIn(variantText.get()), "Weekly sync");
  EXPECT_EQ(linux_source::numberIn(plainNumber.get()), 23u);
  EXPECT_EQ(linux_source::booleanIn(variantBoolean.get()), true);
  // Another type, no argument or no reply is no answer, never a crash.
  for (DBusMessage* other : {plainNumber.get(), variantBoolean.get(), empty.get(), static_cast<DBusMessage*>(nullptr)})
    EXPECT_EQ(linux_source::textIn(other), std::nullopt);
  EXPECT_EQ(linux_source::numberIn(plainText.get()), std::nullopt);
  EXPECT_EQ(linux_source::booleanIn(plainNumber.get()), std::nullopt);
  EXPECT_EQ(linux_source::referencesIn(plainText.get(), 10), std::nullopt);
}

TEST(BusReplies, ReferencesOfTheRightShapeUpToTheLimit) {
  const Reply children = replyWith([](DBusMessageIter& at) {
    DBusMessageIter array;
    dbus_message_iter_open_container(&at, DBUS_TYPE_ARRAY, "(so)", &array);
    appendReference(array, ":1.7", "/org/a11y/atspi/accessible/1");
    appendReference(array, ":1.7", "/org/a11y/atspi/accessible/2");
    appendReference(array, ":1.7", "/org/a11y/atspi/accessible/3");
    dbus_message_iter_close_container(&at, &array);
  });
  const auto all = linux_source::referencesIn(children.get(), 10);
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 3u);
  EXPECT_EQ((*all)[2].path, "/org/a11y/atspi/accessible/3");
  EXPECT_EQ(linux_source::referencesIn(children.get(), 2)->size(), 2u);

  // An array of another shape gives no reference.
  const Reply strings = replyWith([](DBusMessageIter& at) {
    DBusMessageIter array;
    dbus_message_iter_open_container(&at, DBUS_TYPE_ARRAY, "s", &array);
    const char* name = ":1.7";
    dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &name);
    dbus_message_iter_close_container(&at, &array);
  });
  EXPECT_EQ(linux_source::referencesIn(strings.get(), 10)->size(), 0u);
}

TEST(BusReplies, OnlyWellFormedReferencesAreAsked) {
  struct Case {
    AccessibleReference reference;
    bool valid;
  };
  const std::vector<Case> cases = {
      {{":1.7", "/org/a11y/atspi/accessible/root"}, true},
      {{"org.example.App", "/"}, true},
      {{"", "/org/a11y"}, false},
      {{"not a name", "/org/a11y"}, false},
      {{":1.7", "relative/path"}, false},
      {{":1.7", "/trailing/"}, false},
      {{":1.7", ""}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reference.busName + " " + c.reference.path);
    EXPECT_EQ(linux_source::validReference(c.reference), c.valid);
  }
}

}  // namespace

namespace {

TEST(BusReplies, LongNamesAreCutBetweenCharacters) {
  struct Case {
    std::string text;
    std::size_t most;
    std::string cut;
  };
  const std::vector<Case> cases = {
      {"short", 10, "short"},
      {"exactly", 7, "exactly"},
      {"abcdef", 3, "abc"},
      {"a\xC3\xA9" "b", 2, "a"},                      // é would be split
      {"a\xC3\xA9" "b", 3, "a\xC3\xA9"},
      {"\xF0\x9F\x8E\x99x", 3, ""},                   // a four-byte character
      {"\xF0\x9F\x8E\x99x", 4, "\xF0\x9F\x8E\x99"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " at " + std::to_string(c.most));
    EXPECT_EQ(linux_source::cutAtCharacter(c.text, c.most), c.cut);
  }
}

TEST(BusAddresses, OnlySocketsThatAlreadyListen) {
  struct Case {
    const char* address;
    const char* endpoints;  // kind and place of each, in order
  };
  const std::vector<Case> cases = {
      {"unix:path=/run/user/1000/bus", "path:/run/user/1000/bus"},
      {"unix:path=/run/user/1000/bus,guid=0123", "path:/run/user/1000/bus"},
      {"unix:abstract=/tmp/dbus-x,guid=1", "abstract:/tmp/dbus-x"},
      {"unix:path=/tmp/with%20space", "path:/tmp/with space"},
      {"autolaunch:", ""},
      {"autolaunch:scope=*user", ""},
      {"unixexec:path=/bin/sleep,argv1=300", ""},
      {"launchd:env=DBUS_LAUNCHD_SESSION_BUS_SOCKET", ""},
      {"systemd:", ""},
      {"nonce-tcp:host=127.0.0.1,port=1,noncefile=/tmp/n", ""},
      {"someday:path=/tmp/a", ""},
      {"unix:dir=/tmp", ""},
      {"unix:tmpdir=/tmp", ""},
      {"unix:runtime=yes", ""},
      {"unix:path=/tmp/a,abstract=b", ""},
      {"tcp:host=127.0.0.1,port=4000", "tcp:127.0.0.1:4000"},
      {"tcp:host=%3a%3a1,port=4000,family=ipv6", "tcp:::1:4000"},
      {"tcp:host=localhost,port=4000", "tcp:localhost:4000"},
      {"tcp:port=4000", "tcp:localhost:4000"},
      {"tcp:host=bus.example.org,port=4000", ""},  // a name lookup has no bound
      {"tcp:host=127.0.0.1", ""},
      {"tcp:host=127.0.0.1,port=0", ""},
      {"unixexec:path=/bin/sh;unix:path=/tmp/a;autolaunch:", "path:/tmp/a"},
      {"unix:path=/tmp/a;tcp:host=127.0.0.1,port=1", "path:/tmp/a tcp:127.0.0.1:1"},
      {"unix:path=/tmp/a;;tcp:host=127.0.0.1,port=1", ""},  // malformed as a whole, as libdbus reads it
      {"not an address", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    std::string endpoints;
    for (const linux_source::BusEndpoint& endpoint : linux_source::busEndpoints(c.address)) {
      if (!endpoints.empty()) endpoints += ' ';
      switch (endpoint.kind) {
        case linux_source::BusEndpoint::Kind::unixPath: endpoints += "path:" + endpoint.where; break;
        case linux_source::BusEndpoint::Kind::unixAbstract: endpoints += "abstract:" + endpoint.where; break;
        case linux_source::BusEndpoint::Kind::tcp: endpoints += "tcp:" + endpoint.where + ":" + endpoint.port; break;
      }
    }
    EXPECT_EQ(endpoints, c.endpoints);
  }
}

}  // namespace
