"""Peers on the desktop's buses, written on GLib's own D-Bus client (run with
Debian's /usr/bin/python3, which has PyGObject, or a copy of it under a
browser's name):

  bus_peers.py application [--title TEXT]... [--nameless N] [--delay SECONDS] [--record SOURCE]
      An application on the accessibility bus, registered with its registry
      as a toolkit registers one: a frame per title, each followed by N frames
      with empty names (as Chromium's toolkit lists them), answering every
      question after the delay. With --record, a recording from the sound
      server on this process's own connection, as a browser's own process
      records.
  bus_peers.py recorder --record SOURCE
      Only the recording, from a process on no bus.
  bus_peers.py flooder
      A client of the accessibility bus that sends every peer it sees asking
      a question there a stream of large messages, as fast as it can, until
      that peer leaves.
  bus_peers.py forger (--session | --accessibility)
      A client that eavesdrops on the bus and answers the questions it sees
      asked of another peer at once: a frame's role and name, whether
      accessibility is on, and where the accessibility bus is.

Each writes "ready" on standard output once it is in place."""

import ctypes
import os
import sys
import threading

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

ROOT = "/org/a11y/atspi/accessible/root"
ACCESSIBLE = "org.a11y.atspi.Accessible"
ROLE_FRAME = 23
FORGED_TITLE = "Forged by a peer"


def session_bus():
    return Gio.DBusConnection.new_for_address_sync(
        os.environ["DBUS_SESSION_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)


def accessibility_bus():
    # Given, as Flatpak gives an application its proxy's address.
    address = os.environ.get("AT_SPI_BUS_ADDRESS") or session_bus().call_sync(
        "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None, GLib.VariantType("(s)"),
        Gio.DBusCallFlags.NONE, 10000, None).unpack()[0]
    return Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)


def options(argv):
    found = {"title": [], "nameless": "0", "delay": "0", "record": None, "bus": None}
    i = 0
    while i < len(argv):
        if argv[i] in ("--session", "--accessibility"):
            found["bus"] = argv[i][2:]
            i += 1
        else:
            key = argv[i][2:]
            if isinstance(found.get(key), list):
                found[key].append(argv[i + 1])
            else:
                found[key] = argv[i + 1]
            i += 2
    return found


class Application:
    def __init__(self, titles, nameless, delay):
        self.frames = []
        for title in titles:
            self.frames.append(title)
            self.frames.extend([""] * nameless)
        self.delay = delay
        self.bus = accessibility_bus()
        self.bus.add_filter(self.filter)

    def answer(self, call):
        member = call.get_member()
        path = call.get_path()
        body = call.get_body()
        if member == "GetChildren" and path == ROOT:
            children = [(self.bus.get_unique_name(), "/org/a11y/atspi/accessible/%d" % (i + 1))
                        for i in range(len(self.frames))]
            return GLib.Variant("(a(so))", (children,))
        if member == "GetRole":
            return GLib.Variant("(u)", (ROLE_FRAME,))
        if member == "Get" and body is not None and body.unpack()[1] == "Name":
            name = "Browser" if path == ROOT else self.frames[int(path.rsplit("/", 1)[1]) - 1]
            return GLib.Variant("(v)", (GLib.Variant("s", name),))
        return None

    def reply(self, call):
        body = self.answer(call)
        if body is None:
            reply = call.new_method_error_literal("org.freedesktop.DBus.Error.UnknownMethod", "not here")
        else:
            reply = call.new_method_reply()
            reply.set_body(body)
        try:
            self.bus.send_message(reply, Gio.DBusSendMessageFlags.NONE)
        except GLib.Error:
            pass

    def filter(self, bus, message, incoming):
        if not incoming or message.get_message_type() != Gio.DBusMessageType.METHOD_CALL:
            return message
        if self.delay > 0:
            threading.Timer(self.delay, self.reply, (message,)).start()
        else:
            self.reply(message)
        return None

    def register(self):
        # As a toolkit does: the registry lists the applications embedded in its root.
        self.bus.call_sync("org.a11y.atspi.Registry", ROOT, "org.a11y.atspi.Socket", "Embed",
                           GLib.Variant("((so))", ((self.bus.get_unique_name(), ROOT),)), None,
                           Gio.DBusCallFlags.NONE, 10000, None)


class Forger:
    def __init__(self, which):
        self.bus = session_bus() if which == "session" else accessibility_bus()
        self.bus.add_filter(self.filter)
        self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "AddMatch",
                           GLib.Variant("(s)", ("type='method_call',eavesdrop=true",)), None,
                           Gio.DBusCallFlags.NONE, 10000, None)

    @staticmethod
    def forged(call):
        member = call.get_member()
        body = call.get_body()
        if member == "GetRole":
            return GLib.Variant("(u)", (ROLE_FRAME,))
        if member == "GetAddress":
            return GLib.Variant("(s)", ("unix:path=/tmp/forged-bus",))
        if member == "Get" and body is not None:
            prop = body.unpack()[1]
            if prop == "IsEnabled":
                return GLib.Variant("(v)", (GLib.Variant("b", True),))
            if prop == "Name":
                return GLib.Variant("(v)", (GLib.Variant("s", FORGED_TITLE),))
        return None

    def filter(self, bus, message, incoming):
        if not incoming or message.get_message_type() != Gio.DBusMessageType.METHOD_CALL:
            return message
        if message.get_destination() == bus.get_unique_name():
            return message
        body = self.forged(message)
        if body is not None:
            reply = message.new_method_reply()
            reply.set_body(body)
            try:
                bus.send_message(reply, Gio.DBusSendMessageFlags.NONE)
            except GLib.Error:
                pass
        return None


class Flooder:
    def __init__(self):
        self.bus = accessibility_bus()
        self.flooded = set()
        self.bus.add_filter(self.filter)
        self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "AddMatch",
                           GLib.Variant("(s)", ("type='method_call',eavesdrop=true",)), None,
                           Gio.DBusCallFlags.NONE, 10000, None)

    def flood(self, peer):
        payload = GLib.Variant("(s)", ("x" * 32768,))
        while True:
            message = Gio.DBusMessage.new_signal("/flood", "org.example.Flood", "Wave")
            message.set_destination(peer)
            message.set_body(payload)
            try:
                self.bus.send_message(message, Gio.DBusSendMessageFlags.NONE)
                self.bus.flush_sync(None)
            except GLib.Error:
                return

    def filter(self, bus, message, incoming):
        sender = message.get_sender()
        if incoming and message.get_message_type() == Gio.DBusMessageType.METHOD_CALL and sender and \
                sender != bus.get_unique_name() and sender not in self.flooded:
            self.flooded.add(sender)
            threading.Thread(target=self.flood, args=(sender,), daemon=True).start()
        return message if not incoming or message.get_destination() == bus.get_unique_name() else None


class _SampleSpec(ctypes.Structure):
    _fields_ = [("format", ctypes.c_int), ("rate", ctypes.c_uint32), ("channels", ctypes.c_uint8)]


class Recording:
    """A record stream of this process's own, through libpulse: the sound
    server sees this process at the other end of the socket, and libpulse
    states its pid and executable as any client's do."""

    def __init__(self, source):
        self.pulse = ctypes.CDLL("libpulse-simple.so.0")
        self.pulse.pa_simple_new.restype = ctypes.c_void_p
        self.pulse.pa_simple_new.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p,
                                             ctypes.c_char_p, ctypes.POINTER(_SampleSpec), ctypes.c_void_p,
                                             ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]
        self.pulse.pa_simple_free.argtypes = [ctypes.c_void_p]
        sample_format = _SampleSpec(3, 48000, 1)  # PA_SAMPLE_S16LE
        error = ctypes.c_int(0)
        self.stream = self.pulse.pa_simple_new(None, b"bus peer", 2, source.encode(), b"record",
                                               ctypes.byref(sample_format),
                                               None, None, ctypes.byref(error))  # PA_STREAM_RECORD
        if not self.stream:
            raise RuntimeError("no recording from %s: error %d" % (source, error.value))

    def close(self):
        self.pulse.pa_simple_free(self.stream)
        self.stream = None


def main():
    mode, found = sys.argv[1], options(sys.argv[2:])
    recorder = None
    if mode in ("application", "recorder"):
        if mode == "application":
            Application(found["title"], int(found["nameless"]), float(found["delay"])).register()
        if found["record"]:
            recorder = Recording(found["record"])
    elif mode == "flooder":
        Flooder()
    else:
        Forger(found["bus"])
    print("ready", flush=True)
    try:
        GLib.MainLoop().run()
    finally:
        if recorder is not None:
            recorder.close()


if __name__ == "__main__":
    main()
