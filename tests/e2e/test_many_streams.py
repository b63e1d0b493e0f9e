"""The real binary against PipeWire with a few and with many new capture
streams in one listing: their clients are asked one by one or listed, and
either way the kernel's pid of a native client outweighs the pid it claims."""

import os
import time
import unittest

import monitor
from programs import Program
import sound_servers


class ManyNewStreams(sound_servers.OnServer, unittest.TestCase):
    server_class = sound_servers.PipeWire

    def setUp(self):
        self.clients = []

    def tearDown(self):
        for client in reversed(self.clients):
            client.end()

    def start(self, argv, env=None):
        program = Program(argv, env or self.server.env)
        self.clients.append(program)
        return program

    def holders_once_all_record(self, count, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            rc, out, err = monitor.run_once(env=self.server.env)
            self.assertEqual((rc, err), (0, b""))
            seen = monitor.parse_line(out)
            if len(seen["holders"]) == count or time.monotonic() > deadline:
                return sorted(seen["holders"], key=lambda h: h["pid"])
            time.sleep(0.2)

    def test_a_native_recorder_among_recorders_of_the_pulse_protocol_is_its_own_pid(self):
        for recorders in (2, 7):
            with self.subTest(recorders=recorders):
                parecords = [self.start(["parecord", "--device=" + self.server.mic, os.devnull])
                             for _ in range(recorders)]
                # A native client that names one of them as itself.
                claim = ("application.process.id=%d application.process.binary=parecord application.name=parecord"
                         % parecords[0].pid)
                native = self.start(["pw-record", "--target", self.server.mic, os.devnull],
                                    dict(self.server.env, PIPEWIRE_PROPS=claim))
                expected = [{"pid": p.pid, "bundle": "", "name": "parecord", "titles": []} for p in parecords]
                expected.append({"pid": native.pid, "bundle": "", "name": "pw-record", "titles": []})
                self.assertEqual(self.holders_once_all_record(recorders + 1),
                                 sorted(expected, key=lambda h: h["pid"]))
                self.tearDown()
                self.clients = []


if __name__ == "__main__":
    unittest.main()
