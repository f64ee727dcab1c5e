"""The module against the tavrick command: every reference case, as it is and
with other weights and peak searches, fitted from a NumPy array and from the
store gives the command's -results file to the last bit; bad arguments raise;
the store gives the spectra's times; fits in threads agree with serial ones."""
import json
import os
import pathlib
import re
import subprocess
import tempfile
import threading
import unittest

import numpy as np

import tavrick

BIN = pathlib.Path(os.environ["TAVRICK_BIN_DIR"])
CASES = pathlib.Path(os.environ["TAVRICK_GOLDEN_DIR"])
DATA = pathlib.Path(__file__).resolve().parents[2] / "data"

# Command-line options and the keyword each becomes.
LISTS = {"-peaks": "peaks", "-widths": "widths", "-skews": "skews"}
WORDS = {"-shape": "shape", "-widthopt": "widthopt", "-peakopt": "peakopt", "-weights": "weights"}

# Options added to every reference case: the weights and peak searches, and
# bad values of them, which must fail with the command's message.
VARIANTS = [
    [],
    ["-weights", "poisson"],
    ["-search", "0"],
    ["-weights", "fit", "-search", "3"],
    ["-weights", "poisson", "-search", "0"],
    ["-weights", "chi2"],
    ["-search", "70000"],
]


def case_kwargs(args):
    kw, i = {}, 0
    while i < len(args):
        opt = args[i]
        if opt == "-limit":
            kw["first"], kw["last"] = int(args[i + 1]), int(args[i + 2])
            i += 3
        elif opt in LISTS:
            j = i + 1
            while j < len(args) and not args[j].startswith("-"):
                j += 1
            kw[LISTS[opt]] = [float(a) for a in args[i + 1:j]]
            i = j
        elif opt in ("-tail", "-hightail"):
            kw[opt[1:]] = [float(args[i + 1]), float(args[i + 2])]
            i += 3
        elif opt == "-step":
            kw["step"] = float(args[i + 1])
            i += 2
        elif opt == "-hold":
            j = i + 1
            while j < len(args) and not args[j].startswith("-"):
                j += 1
            kw["hold"] = args[i + 1:j]
            i = j
        elif opt in WORDS or opt in ("-order", "-search", "-spectrum"):
            kw[opt[1:]] = int(args[i + 1]) if opt in ("-order", "-search") else args[i + 1]
            i += 2
        else:
            raise AssertionError(f"option {opt} not known to the test")
    return kw


class ModuleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.store = os.path.join(cls.tmp.name, "experiment.db")
        cls.names = sorted(p.stem for p in CASES.glob("*.args") if ".sketch" not in p.name)
        cls.command("tools/tavrick-store", "init")
        cls.command("tools/tavrick-store", "import", *[str(CASES / f"{n}.txt") for n in cls.names])

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def command(cls, program, *args):
        env = dict(os.environ, TAVRICK_EXPERIMENT=cls.store)
        return subprocess.run([str(BIN / program), *args], env=env, capture_output=True,
                              text=True, cwd=cls.tmp.name)

    def case(self, name):
        args = (CASES / f"{name}.args").read_text().splitlines()
        table = np.loadtxt(CASES / f"{name}.txt", ndmin=2)
        return args, case_kwargs(args), table[:, 1], int(table[0, 0])

    def test_every_case_gives_the_command_results_file(self):
        store = tavrick.Store(self.store)
        for name in self.names:
            for variant in VARIANTS:
                with self.subTest(case=name, options=" ".join(variant)):
                    args, _, counts, base = self.case(name)
                    args = args + variant
                    kw = case_kwargs(args)
                    out = os.path.join(self.tmp.name, f"{name}.json")
                    pathlib.Path(out).unlink(missing_ok=True)
                    cmd = self.command("main/tavrick", *args, "-results", out)
                    spectrum = kw.pop("spectrum")
                    if cmd.returncode != 0:
                        message = re.escape(cmd.stdout.strip())
                        with self.assertRaisesRegex(ValueError, f"^{message}$"):
                            tavrick.fit(counts, base=base, spectrum=spectrum, **kw)
                        with self.assertRaisesRegex(ValueError, f"^{message}$"):
                            store.fit(spectrum, **kw)
                        continue
                    expected = json.loads(pathlib.Path(out).read_text())
                    from_array = tavrick.fit(counts, base=base, spectrum=spectrum, **kw)
                    self.assertEqual(from_array.to_dict(), expected)
                    self.assertEqual(store.fit(spectrum, **kw).to_dict(), expected)
                    np.testing.assert_array_equal(store.counts(spectrum), counts)
                    self.assertEqual(from_array.peaks[0].area, expected["peaks"][0]["area"])
                    self.assertEqual(len(from_array.fit_curve), expected["channels"])

    def test_report_is_the_command_text_between_braces(self):
        args, kw, counts, base = self.case("sym")
        kw.pop("spectrum")
        printed = self.command("main/tavrick", *args).stdout
        r = tavrick.fit(counts, base=base, report=True, **kw)
        self.assertIn(r.report, printed)
        self.assertIsNone(tavrick.fit(counts, base=base, **kw).report)

    def test_germanium_shape_gives_the_command_results_file(self):
        eu152 = ["-spectrum", "radware_eu152_be", "-limit", "538", "560", "-peaks", "551",
                 "-widths", "2.6", "-shape", "hpge"]
        variants = [
            [],
            ["-tail", "5", "1", "-hightail", "3.5", "0.8", "-step", "0.5"],
            ["-hightail", "2.6", "0.92", "-hold", "rh", "betah", "-search", "0"],
            ["-step", "0.4", "-hold", "r", "beta", "-widthopt", "same"],
            ["-tail", "120", "1"],
            ["-hold", "gamma", "rh"],
        ]
        self.command("tools/tavrick-store", "import", str(DATA / "radware_eu152_be.spe"))
        store = tavrick.Store(self.store)
        out = os.path.join(self.tmp.name, "hpge.json")
        for variant in variants:
            with self.subTest(options=" ".join(variant)):
                args = eu152 + variant
                kw = case_kwargs(args)
                pathlib.Path(out).unlink(missing_ok=True)
                cmd = self.command("main/tavrick", *args, "-results", out)
                name = kw.pop("spectrum")
                if cmd.returncode != 0:
                    with self.assertRaisesRegex(ValueError, f"^{re.escape(cmd.stdout.strip())}$"):
                        store.fit(name, **kw)
                    continue
                expected = json.loads(pathlib.Path(out).read_text())
                self.assertIn("hpge", expected)
                self.assertEqual(store.fit(name, **kw).to_dict(), expected)
        with self.assertRaisesRegex(ValueError, "^TAIL, STEP, HIGHTAIL and HOLD need SHAPE=hpge$"):
            store.fit("radware_eu152_be", 538, 560, [551], [2.6], step=0.5)

    def test_bad_arguments_raise(self):
        counts = np.arange(200.0)
        good = dict(first=80, last=160, peaks=[121], widths=[4])
        table = [
            (ValueError, "^COUNTS must be a 1-D array", dict(counts=np.ones((10, 20)))),
            (ValueError, "^COUNTS must be finite$", dict(counts=np.where(counts == 100, np.nan, counts))),
            (TypeError, "COUNTS must be numbers", dict(counts=["a"] * 200)),
            (TypeError, "COUNTS must be numbers", dict(counts="12345")),
            (TypeError, "first must be an integer", dict(first=80.5)),
            (ValueError, "^WIDTHS must be positive$", dict(widths=[-4])),
            (ValueError, "^first peak lies ouside spectrum: $", dict(base=100)),
            (ValueError, "^fitting over too many channels", dict(first=-3, base=-10, counts=np.ones(300))),
            (ValueError, "^too many PEAKS \\(max of 30\\)$", dict(peaks=[121] * 31)),
            (ValueError, "^bad SHAPE argument \\(gauss\\|skew\\|skewtail\\|lorentz\\)voigt$", dict(shape="voigt")),
            (ValueError, "^invalid background polynomial order", dict(order=6)),
            (ValueError, "^bad CALIBRATION", dict(calibration="LINEAR 1 2")),
            (TypeError, "weights must be a str", dict(weights=None)),
            (TypeError, "search must be an integer", dict(search="3")),
            (TypeError, "search must be an integer", dict(search=True)),
            (ValueError, "^bad SEARCH argument \\(an integer 0..65536\\)$", dict(search=-1)),
            (ValueError, "^bad SEARCH argument", dict(search=2**40)),
        ]
        for error, message, change in table:
            with self.subTest(message=message):
                kw = dict(good, counts=counts) | change
                with self.assertRaisesRegex(error, message):
                    tavrick.fit(**kw)
        with self.assertRaisesRegex(KeyError, "spectrum not found: nosuch"):
            tavrick.Store(self.store).fit("nosuch", **good)

    def test_store_gives_the_times_of_measurement(self):
        path = os.path.join(self.tmp.name, "timed.db")
        env = dict(os.environ, TAVRICK_EXPERIMENT=path)
        for args in (["init"], ["import", str(DATA / "ortec_eu152_hpge.Chn"), str(CASES / "sym.txt")]):
            subprocess.run([str(BIN / "tools/tavrick-store"), *args], env=env, check=True,
                           capture_output=True)
        with tavrick.Store(path) as store:
            timed, untimed = store.spectra()
            self.assertEqual((timed["live_time"], timed["real_time"]), (2289.0, 2454.0))
            self.assertEqual((untimed["live_time"], untimed["real_time"]), (None, None))
            self.assertEqual(store.info(timed["name"]), timed)
            self.assertEqual(store.info("sym"), untimed)
            with self.assertRaisesRegex(KeyError, "spectrum not found: nosuch"):
                store.info("nosuch")

    def test_threads_agree_with_serial_fits(self):
        jobs = [self.case(n)[1:] for n in self.names if n != "peak-outside"] * 4
        serial = [tavrick.fit(c, base=b, **kw).to_dict() for kw, c, b in jobs]
        parallel = [None] * len(jobs)

        def work(k):
            for i in range(k, len(jobs), 4):
                kw, c, b = jobs[i]
                parallel[i] = tavrick.fit(c, base=b, **kw).to_dict()

        threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(parallel, serial)


if __name__ == "__main__":
    unittest.main()
