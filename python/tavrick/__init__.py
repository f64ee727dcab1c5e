"""Peak fits of gamma spectra on the tavrick engine, in-process.

    import numpy as np, tavrick
    r = tavrick.fit(counts, 80, 160, peaks=[121], widths=[4.4])
    r.status, r.peaks[0].area, r.peaks[0].area_error, r.fit_curve

    with tavrick.Store("experiment.db") as s:
        s.names(); s.counts("ge1"); s.fit("ge1", 80, 160, [121], [4.4])
        s.info("ge1")["live_time"]

A fit means what the same options of the tavrick command mean and is checked
the same way: a refused request raises ValueError with the command's message.
A fit that ran but did not converge is a result with its status.
"""
import json
import numbers
import operator

import numpy as np

from . import _tavrick

__all__ = ["fit", "Store", "Result", "Peak"]


class _Fields:
    """Attributes from a dict of results-file fields."""

    def __init__(self, fields):
        self.__dict__.update(fields)

    def __repr__(self):
        body = ", ".join(f"{k}={v!r}" for k, v in self.__dict__.items() if not k.startswith("_"))
        return f"{type(self).__name__}({body})"


class Peak(_Fields):
    """One fitted peak: centroid, area, fwhm, height, energy, ... and their errors."""


class Result(_Fields):
    """A fit: the results file's fields as attributes, the peaks as Peak objects,
    and the fitted window as NumPy arrays: channel, counts, background_curve,
    fit_curve. report is the engine's printed report when asked for, else None."""

    def __init__(self, text, channel, counts, background, curve, report):
        self._json = text
        fields = json.loads(text)
        super().__init__(fields)
        self.peaks = [Peak(p) for p in fields["peaks"]]
        self.channel = channel
        self.counts = counts
        self.background_curve = background
        self.fit_curve = curve
        self.report = report

    def to_dict(self):
        """The fields as the JSON results file holds them."""
        return json.loads(self._json)

    def to_json(self):
        """The JSON results file's text."""
        return self._json

    def __repr__(self):
        return (f"Result(spectrum={self.spectrum!r}, status={self.status!r}, "
                f"peaks={len(self.peaks)}, chisq_per_dof={self.chisq_per_dof!r})")


def _int(value, name):
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None


def _numbers(value, name, dims=1):
    if isinstance(value, (str, bytes)):
        raise TypeError(f"{name} must be numbers, not {type(value).__name__}")
    a = np.asarray(value)
    if a.dtype.kind not in "biuf":
        raise TypeError(f"{name} must be numbers, not {a.dtype}")
    if a.ndim == 0 and dims == 1 and name != "COUNTS":
        a = a.reshape(1)
    if a.ndim != 1:
        raise ValueError(f"{name} must be a 1-D array, not {a.ndim}-D")
    return np.ascontiguousarray(a, dtype=np.float64)


def _pair(value, name):
    if value is None:
        return None
    a = _numbers(value, name)
    if a.size != 2:
        raise ValueError(f"{name} must be two numbers, not {a.size}")
    return a.tolist()


def _options(spectrum, first, last, peaks, widths, shape, widthopt, peakopt, order, skews,
             weights, search, tail=None, step=None, hightail=None, hold=()):
    o = _tavrick.Options()
    for name, v in (("spectrum", spectrum), ("shape", shape), ("widthopt", widthopt),
                    ("peakopt", peakopt), ("weights", weights)):
        if not isinstance(v, str):
            raise TypeError(f"{name} must be a str, not {type(v).__name__}")
        setattr(o, name, v)
    o.first = _int(first, "first")
    o.last = _int(last, "last")
    o.order = _int(order, "order")
    # Out of range is refused by the engine, in the command's order of checks.
    search = _int(search, "search")
    o.search = search if 0 <= search <= 65536 else -1
    o.peaks = _numbers(peaks, "PEAKS").tolist()
    o.widths = _numbers(widths, "WIDTHS").tolist()
    o.skews = [] if skews is None else _numbers(skews, "SKEWS").tolist()
    o.tail = _pair(tail, "TAIL")
    o.hightail = _pair(hightail, "HIGHTAIL")
    o.step = None if step is None else float(_numbers(step, "STEP")[0])
    if isinstance(hold, str):
        hold = hold.split()
    for w in hold:
        if not isinstance(w, str):
            raise TypeError(f"hold must be words, not {type(w).__name__}")
    o.hold = list(hold)
    return o


def fit(counts, first, last, peaks, widths, shape="gauss", widthopt="different",
        peakopt="different", order=2, skews=None, base=0, calibration=None, report=False,
        spectrum="", weights="data", search=10, tail=None, step=None, hightail=None, hold=()):
    """Fits counts[first-base .. last-base] (channels first..last; counts[0] is
    channel base) with peaks starting at the channels peaks, of FWHM widths.

    calibration: None, coefficients [c0, c1, ...] of E(ch), or a store's text
    "POLY keV c0 c1 ...". report=True keeps the engine's printed report in
    Result.report. weights: "data" (sqrt of the counts), "fit" (sqrt of the
    fitted curve) or "poisson" (the Poisson likelihood), as -weights.
    search: half-width in channels of the search for each peak's start, as
    -search; 0 starts the fit at the peaks given.
    shape="hpge" (the germanium line shape) takes tail=(R, BETA), step=S,
    hightail=(RH, BETAH) and hold (words of r, beta, step, rh, betah) as
    -tail, -step, -hightail and -hold.
    The interpreter is released while the engine runs."""
    o = _options(spectrum, first, last, peaks, widths, shape, widthopt, peakopt, order, skews,
                 weights, search, tail, step, hightail, hold)
    c = _numbers(counts, "COUNTS")
    if calibration is not None and not isinstance(calibration, str):
        calibration = _numbers(calibration, "CALIBRATION").tolist()
    return Result(*_tavrick.fit(c, _int(base, "base"), o, calibration, bool(report)))


class Store:
    """A spectrum store file (what tavrick-store writes), read-only."""

    def __init__(self, path):
        self._s = _tavrick.Store(str(path))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self._s = None

    def spectra(self):
        """Every spectrum as a dict: name, title, label, base, size, rows, total,
        live_time, real_time (seconds of measurement; None when not known)."""
        return self._s.spectra()

    def info(self, name):
        """The named spectrum's dict, as spectra() gives it."""
        return self._s.inquire(name)

    def names(self):
        return [s["name"] for s in self.spectra() if s["name"]]

    def counts(self, name):
        """The counts of a 1-D spectrum as an int32 array; counts[0] is channel base(name)."""
        return self._s.counts(name)[1]

    def base(self, name):
        return self._s.counts(name)[0]

    def calibration(self, name):
        """The energy calibration text ("POLY keV c0 c1 ..."), or None."""
        return self._s.calibration(name)

    def fit(self, name, first, last, peaks, widths, shape="gauss", widthopt="different",
            peakopt="different", order=2, skews=None, report=False, weights="data",
            search=10, tail=None, step=None, hightail=None, hold=()):
        """The fit `tavrick -spectrum name ...` makes, as a Result equal to its
        -results file."""
        o = _options(name, first, last, peaks, widths, shape, widthopt, peakopt, order, skews,
                     weights, search, tail, step, hightail, hold)
        return Result(*self._s.fit(o, bool(report)))
