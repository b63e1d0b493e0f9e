"""The line's schema: it accepts the documents' example lines and rejects near
misses; what it cannot state (order, number form, whitespace), the tests'
line check catches."""

import json
import os
import sys
import unittest

import jsonschema

import documents

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import monitor  # noqa: E402

ACCEPTED = "accepted"
SCHEMA = "rejected by the schema"
FORM = "rejected by the line check only"


def holder(pid="7", bundle='"b"', name='"n"', titles="[]", extra=""):
    return '{"pid":%s,"bundle":%s,"name":%s,"titles":%s%s}' % (pid, bundle, name, titles, extra)


def line(holders=(), mic="true", ax="true"):
    return '{"micInUse":%s,"holders":[%s],"ax":%s}' % (mic, ",".join(holders), ax)


CASES = [
    ("nothing capturing", line(mic="false", ax="false"), ACCEPTED),
    ("unknown pid, empty texts", line([holder("-1", '""', '""')]), ACCEPTED),
    ("lowest pid", line([holder("-2147483648")]), ACCEPTED),
    ("highest pid", line([holder("2147483647")]), ACCEPTED),
    ("escaped controls and other scripts", line([holder(titles='["tab\\there","\\u0001","Звонок"]')]), ACCEPTED),
    ("an extra member", '{"micInUse":false,"holders":[],"ax":false,"camera":false}', SCHEMA),
    ("an extra holder member", line([holder(extra=',"window":1')]), SCHEMA),
    ("no ax", '{"micInUse":false,"holders":[]}', SCHEMA),
    ("no micInUse", '{"holders":[],"ax":false}', SCHEMA),
    ("a holder without titles", line(['{"pid":7,"bundle":"b","name":"n"}']), SCHEMA),
    ("a holder without pid", line(['{"bundle":"b","name":"n","titles":[]}']), SCHEMA),
    ("a fractional pid", line([holder("1.5")]), SCHEMA),
    ("a pid above 32 bits", line([holder("2147483648")]), SCHEMA),
    ("a pid below 32 bits", line([holder("-2147483649")]), SCHEMA),
    ("a pid that is a string", line([holder('"7"')]), SCHEMA),
    ("a pid that is a boolean", line([holder("true")]), SCHEMA),
    ("a title that is a number", line([holder(titles="[1]")]), SCHEMA),
    ("a title that is null", line([holder(titles='["a",null]')]), SCHEMA),
    ("titles that are one string", line([holder(titles='"a"')]), SCHEMA),
    ("a bundle that is null", line([holder(bundle="null")]), SCHEMA),
    ("micInUse that is a number", line(mic="1"), SCHEMA),
    ("holders that are an object", '{"micInUse":true,"holders":{},"ax":true}', SCHEMA),
    ("a holder that is a string", line(['"parecord"']), SCHEMA),
    ("a pid written with a fraction", line([holder("7.0")]), FORM),
    ("a pid written with an exponent", line([holder("7e0")]), FORM),
    ("members out of order", '{"holders":[],"micInUse":false,"ax":false}', FORM),
    ("holder members out of order", line(['{"bundle":"b","pid":7,"name":"n","titles":[]}']), FORM),
    ("a member twice", '{"micInUse":true,"micInUse":false,"holders":[],"ax":false}', FORM),
    ("whitespace outside strings", '{"micInUse": false,"holders":[],"ax":false}', FORM),
]


class Schema(unittest.TestCase):
    def assertAccepted(self, text):
        self.assertTrue(monitor.VALIDATOR.is_valid(json.loads(text)), text)
        self.assertEqual(monitor.parse_line(text.encode() + b"\n"), json.loads(text))

    def test_example_lines_of_the_readme_and_the_man_page(self):
        for document, text in (("README", documents.readme()), ("man page", documents.man_page())):
            lines = documents.example_lines(text)
            self.assertTrue(lines, document)
            for example in lines:
                with self.subTest(document=document, line=example):
                    self.assertAccepted(example)

    def test_near_misses(self):
        for what, text, verdict in CASES:
            with self.subTest(what):
                if verdict == ACCEPTED:
                    self.assertAccepted(text)
                    continue
                self.assertEqual(monitor.VALIDATOR.is_valid(json.loads(text)), verdict == FORM)
                with self.assertRaises((jsonschema.ValidationError, monitor.LineError)):
                    monitor.parse_line(text.encode() + b"\n")

    def test_only_one_line_with_its_line_feed(self):
        text = line(mic="false", ax="false").encode()
        for raw in (text, text + b"\n" + text + b"\n", text + b"\r\n", b"\n" + text + b"\n"):
            with self.subTest(raw=raw):
                with self.assertRaises((ValueError, jsonschema.ValidationError)):
                    monitor.parse_line(raw)

    def test_bad_utf8_is_not_a_line(self):
        with self.assertRaises(UnicodeDecodeError):
            monitor.parse_line(line([holder(name='"\xff"')]).encode("latin-1") + b"\n")


if __name__ == "__main__":
    unittest.main()
