"""The Python module against lmfit and scipy's curve_fit on the same arrays:
1000 small fits (one Gaussian on a quadratic background, 81 channels, Poisson
counts) and the 30-peak cases S3 and S4 written by tavrick_bench. Each fitter
gets the module's start positions and widths and the counts' weights; the
table gives the wall time per fit and how many times the module is faster.

Usage: python3 bench/python_bench.py CASES_DIR   (PYTHONPATH=BUILD/python;
run by scripts/bench.sh)"""
import pathlib
import sys
import time
import warnings

import numpy as np

import tavrick

try:
    import lmfit
    from scipy.optimize import curve_fit
except ImportError as e:
    sys.exit(f"python bench: {e} (apt-get install python3-lmfit python3-scipy)")

S = np.sqrt(8.0 * np.log(2.0))  # FWHM / sigma


def model(x, x0, order, nwidth, npeaks):
    """f(x, background..., centroids..., areas..., widths...) of the fitters."""
    def f(x, *p):
        p = np.asarray(p)
        b = np.polyval(p[:order + 1][::-1], x - x0)
        c = p[order + 1:order + 1 + npeaks]
        a = p[order + 1 + npeaks:order + 1 + 2 * npeaks]
        w = p[order + 1 + 2 * npeaks:] / S
        w = np.broadcast_to(w, (npeaks,))
        g = a / (w * np.sqrt(2 * np.pi)) * np.exp(-0.5 * ((x[:, None] - c) / w) ** 2)
        return b + g.sum(axis=1)
    return f


def start(x, y, order, peaks, widths, same):
    b = [float(np.median(y))] + [0.0] * order
    a = [max(float(np.interp(p, x, y)) - b[0], 1.0) * w * 1.0645 for p, w in zip(peaks, widths)]
    w = [widths[0]] if same else list(widths)
    return b + list(peaks) + a + w


def by_curve_fit(x, y, sig, order, peaks, widths, same):
    p0 = start(x, y, order, peaks, widths, same)
    f = model(x, x[0], order, len(p0), len(peaks))
    p, _ = curve_fit(f, x, y, p0=p0, sigma=sig, absolute_sigma=True, maxfev=20000)
    return p[order + 1 + len(peaks):order + 1 + 2 * len(peaks)]


def by_lmfit(x, y, sig, order, peaks, widths, same):
    p0 = start(x, y, order, peaks, widths, same)
    f = model(x, x[0], order, len(p0), len(peaks))
    params = lmfit.Parameters()
    for i, v in enumerate(p0):
        params.add(f"p{i}", value=v)
    names = list(params)

    def residual(pars):
        return (y - f(x, *[pars[n].value for n in names])) / sig

    out = lmfit.minimize(residual, params, method="leastsq")
    vals = [out.params[n].value for n in names]
    return np.array(vals[order + 1 + len(peaks):order + 1 + 2 * len(peaks)])


def by_tavrick(x, y, sig, order, peaks, widths, same):
    r = tavrick.fit(y, int(x[0]), int(x[-1]), peaks, widths, order=order, base=int(x[0]),
                    widthopt="same" if same else "different")
    return np.array([p.area for p in r.peaks])


FITTERS = [("tavrick", by_tavrick), ("lmfit", by_lmfit), ("curve_fit", by_curve_fit)]


def small_cases(n):
    rng = np.random.default_rng(1)
    x = np.arange(80, 161, dtype=float)
    cases = []
    for _ in range(n):
        c = 121 + rng.uniform(-2, 2)
        truth = 50 - 0.1 * (x - 80) + 1e-3 * (x - 80) ** 2 + \
            2000 / (4.4 / S * np.sqrt(2 * np.pi)) * np.exp(-0.5 * ((x - c) / (4.4 / S)) ** 2)
        y = rng.poisson(truth).astype(float)
        cases.append((x, y, np.sqrt(np.maximum(y, 1.0)), 2, [121.0], [4.4], False))
    return cases


def stored_case(folder, name):
    args = (folder / f"{name}.args").read_text().split("\n")
    table = np.loadtxt(folder / f"{name}.txt", ndmin=2)
    opt, i = {}, 0
    while i < len(args) and args[i]:
        j = i + 1
        while j < len(args) and args[j] and not args[j].startswith("-"):
            j += 1
        opt[args[i]] = args[i + 1:j]
        i = j
    lo, hi = (int(v) for v in opt["-limit"])
    chan, counts = table[:, 0].astype(int), table[:, 1]
    keep = (chan >= lo) & (chan <= hi)
    x, y = chan[keep].astype(float), counts[keep]
    peaks = [float(v) for v in opt["-peaks"]]
    widths = [float(v) for v in opt["-widths"]]
    widths += widths[-1:] * (len(peaks) - len(widths))
    order = int(opt.get("-order", ["2"])[0])
    same = opt.get("-widthopt", ["different"])[0] == "same"
    return (x, y, np.sqrt(np.maximum(y, 1.0)), order, peaks, widths, same)


def timed(fn, cases, repeats=1):
    best, areas = float("inf"), None
    for _ in range(repeats):
        t = time.perf_counter()
        areas = [fn(*c) for c in cases]
        best = min(best, time.perf_counter() - t)
    return best / len(cases), areas


def main():
    folder = pathlib.Path(sys.argv[1])
    warnings.simplefilter("ignore")
    rows = [("1000 small fits", small_cases(1000), 3)]
    for name in ("S3", "S4"):
        title = (folder / f"{name}.title").read_text().strip()
        rows.append((f"{name} {title}", [stored_case(folder, name)], 1))
    print()
    print("Python module against lmfit and scipy's curve_fit on the same arrays: wall time")
    print("per fit (ms), how many times the module is faster, and the largest relative")
    print("difference of the fitted areas from the module's.")
    print()
    print(f"{'case':<44} {'tavrick':>9} {'lmfit':>10} {'x':>7} {'curve_fit':>10} {'x':>7} {'area diff':>9}")
    for label, cases, repeats in rows:
        t0, a0 = timed(by_tavrick, cases, repeats)
        t1, a1 = timed(by_lmfit, cases)
        t2, a2 = timed(by_curve_fit, cases)
        diff = max(float(np.max(np.abs(b - a) / np.abs(a))) for a, b in zip(a0, a1))
        print(f"{label:<44} {t0 * 1e3:9.3f} {t1 * 1e3:10.2f} {t1 / t0:6.0f}x {t2 * 1e3:10.2f} "
              f"{t2 / t0:6.0f}x {diff:9.1e}")


if __name__ == "__main__":
    main()
