"""The simulated stack answers as the captured Windows machines did."""
import os
import unittest

import windows_replies

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))


class WindowsReplies(unittest.TestCase):
    def test_the_corpus_is_of_real_machines(self):
        found = windows_replies.captures()
        self.assertGreaterEqual(len(found), 10)
        self.assertGreaterEqual(len({source for _, source, _, _ in found}), 8)
        self.assertGreaterEqual(len({windows_replies.replayed_at(header) for _, _, header, _ in found}), 20)
        for name, source, _, _ in found:
            self.assertTrue(source.startswith('https://'), name)

    def test_every_field_a_capture_shows_is_answered_alike(self):
        records = windows_replies.native_records(os.path.join(ROOT, 'build', 'native', 'usbsim-replies'))
        equal, _unexpressed, differences = windows_replies.compare(records)
        self.assertEqual(differences, [])
        self.assertGreaterEqual(equal, 297)


if __name__ == '__main__':
    unittest.main()
