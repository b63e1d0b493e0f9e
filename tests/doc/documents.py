"""What the README and the man page show a reader: their code blocks and
example lines, as a reader sees them."""

import os
import re
import subprocess
import textwrap

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
README = os.path.join(ROOT, "README.md")
MAN_PAGE = os.path.join(ROOT, "doc", "quorbel.1")


def readme():
    with open(README, encoding="utf-8") as text:
        return text.read()


def readme_code(language):
    """The README's one fenced code block in language."""
    blocks = re.findall(r"^```%s\n(.*?)^```$" % re.escape(language), readme(), re.M | re.S)
    if len(blocks) != 1:
        raise LookupError("the README has %d %s blocks, not one" % (len(blocks), language))
    return blocks[0]


def man_page():
    """The man page as man shows it, without the terminal's bold and underline."""
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
    env.pop("MAN_KEEP_FORMATTING", None)
    return subprocess.run(["man", "-l", MAN_PAGE], env=env, capture_output=True, text=True, check=True,
                          timeout=30).stdout


def man_page_code(first_line):
    """The man page's example that begins with first_line, to the next heading."""
    rendered = man_page()
    start = rendered.index(first_line)
    start = rendered.rindex("\n", 0, start) + 1
    end = re.compile(r"^\S", re.M).search(rendered, start).start()
    return textwrap.dedent(rendered[start:end]).strip("\n") + "\n"


def example_lines(text):
    """The snapshot lines a text shows, each on a line of its own."""
    return [line.strip() for line in text.splitlines() if line.strip().startswith('{"micInUse"')]
