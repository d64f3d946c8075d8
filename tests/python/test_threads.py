"""The interpreter lock around library calls: let go while the library
works, so that other threads run, and taken back for callbacks."""

import random
import sys
import threading
import unittest

import quorvel


def numbers(values):
    array = quorvel.CreateObject("CArray")
    array.AddMultipleFromArray(list(values))
    return array


class LockTest(unittest.TestCase):
    def setUp(self):
        # Threads change hands only where the lock is let go, not on a timer.
        interval = sys.getswitchinterval()
        sys.setswitchinterval(60)
        self.addCleanup(sys.setswitchinterval, interval)

    def test_other_threads_run_during_a_long_call(self):
        rng = random.Random(7)
        data = bytes(rng.getrandbits(8) for _ in range(1 << 21))
        pi = quorvel.CreateObject("CQuorvelPI")
        unsorted = numbers(rng.random() for _ in range(300_000))
        for name, call in (("LZSS_Encode", lambda: pi.LZSS_Encode(data)),
                           ("Sort", unsorted.Sort)):
            with self.subTest(name):
                started, done = threading.Event(), []

                def work():
                    started.set()  # this thread keeps the lock past here
                    call()
                    done.append(True)

                worker = threading.Thread(target=work)
                worker.start()
                started.wait()
                # Back here before the call ends only if the call let go.
                self.assertEqual(done, [])
                worker.join()
                self.assertEqual(done, [True])

    def test_callbacks_take_the_lock_back(self):
        # With a second thread alive every call lets the lock go.
        idle = threading.Event()
        other = threading.Thread(target=idle.wait)
        other.start()
        self.addCleanup(other.join)
        self.addCleanup(idle.set)
        results = {}

        def work(key, values):
            words = numbers(values)
            words.SortByKey(lambda w: f"{len(w)}{w}")
            mapped = words.Map(lambda w: numbers([w]).Map(str.upper)[0])
            try:
                words.Filter(lambda w: 1 / 0)
            except ZeroDivisionError as error:
                results[key + "error"] = str(error)
            results[key] = list(mapped)

        rng = random.Random(3)
        lists = {
            str(n): ["".join(rng.choice("abc") for _ in range(rng.randint(1, 5)))
                     for _ in range(300)]
            for n in range(2)
        }
        workers = [threading.Thread(target=work, args=item) for item in lists.items()]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        for key, values in lists.items():
            expected = [w.upper() for w in sorted(values, key=lambda w: (len(w), w))]
            self.assertEqual(results[key], expected)
            self.assertEqual(results[key + "error"], "division by zero")


if __name__ == "__main__":
    unittest.main()
