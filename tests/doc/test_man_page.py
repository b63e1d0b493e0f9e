"""The man page shows the README's reader."""

import unittest

import documents


class ManPage(unittest.TestCase):
    def test_reader_is_the_readmes(self):
        readme_reader = documents.readme_code("python")
        self.assertEqual(documents.man_page_code(readme_reader.splitlines()[0]), readme_reader)


if __name__ == "__main__":
    unittest.main()
