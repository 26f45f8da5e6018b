"""About a minute of random machines for the shipped launcher
(random_machines.py; QM_RANDOM_SECONDS sets how long, QM_RANDOM_SEED the
first seed)."""
import os
import unittest

import random_machines
import wine


class RandomMachines(unittest.TestCase):
    def test_the_shipped_launcher_does_what_the_core_decides_on_random_machines(self):
        seconds = float(os.environ.get('QM_RANDOM_SECONDS', '60'))
        seed = int(os.environ.get('QM_RANDOM_SEED', '1'))
        count, disagreements = random_machines.run(wine.SESSION, seed, seconds=seconds)
        self.assertGreater(count, 0)
        self.assertEqual(disagreements, [])


if __name__ == '__main__':
    unittest.main()
