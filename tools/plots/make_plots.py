#!/usr/bin/python3
"""Draws the pictures of what TALVOR does into docs/, from measurements of the
real plug-in: every number comes from talvor-measure (tools/measure), which runs
TALVOR exactly as a host does; nothing here computes a filter.

    tools/plots/make_plots.py [--tool PATH] [--out DIR] [FIGURE...]

PATH defaults to build/native/tools/measure/talvor-measure (built by
scripts/setup.sh or scripts/test.sh), DIR to docs/; FIGURE names the pictures
to draw (default all: response-low response-mid response-high mid-bandwidth
filter-switch saturation presets). Needs Debian's python3-matplotlib.
"""
import argparse
import concurrent.futures
import math
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib import cm
except ImportError:
    sys.exit("make_plots.py: matplotlib is missing: install Debian's python3-matplotlib (sudo apt-get install python3-matplotlib)")

# The positions' values, for the legends only (the curves are measured).
LOW_GAIN = [-12.4, -9.2, -6.3, -4.1, -2.2, 0, 2.5, 4.2, 6.1, 9.3, 12.5]
LOW_FREQ = [6.2, 8.7, 17.5, 27.7, 36]
MID_GAIN = [-12.2, -9.3, -6.2, -4.1, -2.15, 0, 2.2, 4.1, 6.14, 9.15, 12.3]
MID_FREQ = [394, 791, 1492, 3005, 5010]
HIGH_GAIN = [-12.3, -9.1, -6.4, -4.2, -2.3, 0, 2.1, 4.3, 6.2, 9.4, 12.2]
HIGH_FREQ = [9900, 13000, 15000, 17000, 19000]
INPUTS = [-12, -6, 0, 6, 12]
RATES = [44100, 96000]


class Measure:
    def __init__(self, tool):
        self.tool = tool

    def run(self, mode, *args):
        out = subprocess.run([self.tool, mode] + [str(a) for a in args], check=True,
                             capture_output=True, text=True).stdout
        values = [float(v) for v in out.split()]
        return values[0::2], values[1::2]

    def response(self, rate, sets, freqs, preset=None):
        args = ["--rate", rate] + (["--preset", preset] if preset else [])
        for s in sets:
            args += ["--set", s]
        return self.run("response", *(args + ["%.4f" % f for f in freqs]))[1]

    def presets(self):
        """The factory presets as (name, category), from the table built into the tool."""
        out = subprocess.run([self.tool, "--list-presets"], check=True, capture_output=True, text=True).stdout
        return [tuple(line.split("\t")[:2]) for line in out.splitlines() if line]

    def spectrum(self, rate, input_db, level_db=-6.0, tone=1000.0):
        return self.run("spectrum", "--rate", rate, "--set", "Input=%g" % input_db,
                        "--tone", tone, "--level", level_db)

    def transfer(self, input_db, peak=2.0):
        return self.run("transfer", "--set", "Input=%g" % input_db, "--peak", peak)


def log_freqs(lo, hi, n=240):
    return [lo * (hi / lo) ** (i / (n - 1)) for i in range(n)]


def freqs_for(rate):
    return log_freqs(10.0, min(0.49 * rate, 40000.0))


def gain_colors():
    return [cm.coolwarm(i / 10.0) for i in range(11)]


def finish(fig, path):
    fig.savefig(path, dpi=100)
    plt.close(fig)
    print("wrote", os.path.relpath(path, ROOT))


def style(ax, title, rate_hz=None, ylim=(-15, 16)):
    ax.set_xscale("log")
    ax.set_ylim(*ylim)
    ax.grid(True, which="both", alpha=0.3)
    ax.set_title(title, fontsize=10)
    ax.set_xlabel("Frequency (Hz)")


def band_figure(measure, pool, path, band, gains, freqs_hz, freq_unit, rates):
    """One panel per frequency position (and per rate), the eleven gain positions overlaid."""
    rows = len(rates)
    fig, axes = plt.subplots(rows, 5, figsize=(17, 3.9 * rows + 0.6), sharey=True, squeeze=False)
    jobs = {}
    for r, rate in enumerate(rates):
        fs = freqs_for(rate)
        for fpos in range(5):
            for gpos in range(11):
                sets = ["%s Gain=%d" % (band, gpos), "%s Freq=%d" % (band, fpos)]
                jobs[(r, fpos, gpos)] = pool.submit(measure.response, rate, sets, fs)
    colors = gain_colors()
    for r, rate in enumerate(rates):
        fs = freqs_for(rate)
        for fpos in range(5):
            ax = axes[r][fpos]
            for gpos in range(11):
                ax.plot(fs, jobs[(r, fpos, gpos)].result(), color=colors[gpos], lw=1.2,
                        label="%d: %+g dB" % (gpos, gains[gpos]))
            style(ax, "%s Freq %d (%s) at %g kHz" % (band, fpos, freq_unit(freqs_hz[fpos]), rate / 1000))
        axes[r][0].set_ylabel("Gain (dB)")
    axes[0][4].legend(title="%s Gain" % band, fontsize=7, title_fontsize=8, loc="upper left",
                      bbox_to_anchor=(1.02, 1.0))
    fig.suptitle("TALVOR %s band: every gain position at every frequency position "
                 "(small signals; includes the input stage's +1.58 dB and the -0.2 dB output trim)" % band.lower(),
                 fontsize=11)
    fig.tight_layout(rect=(0, 0, 0.94, 0.96))
    finish(fig, path)


def mid_bandwidth_figure(measure, pool, path):
    rate = 44100
    fs = log_freqs(100.0, 20000.0, 300)
    flat = measure.response(rate, ["Mid Gain=5", "Mid Freq=2"], fs)
    jobs = {g: pool.submit(measure.response, rate, ["Mid Gain=%d" % g, "Mid Freq=2"], fs) for g in range(11)}
    colors = gain_colors()
    fig, (ax1, ax2) = plt.subplots(1, 2, figsize=(14, 4.8))
    widths = {}
    for g in range(11):
        if g == 5:
            continue
        # The mid band alone: the flat setting's curve taken away, then scaled to its peak.
        band = [a - b for a, b in zip(jobs[g].result(), flat)]
        peak = max(band, key=abs)
        shape = [v / peak for v in band]
        ax1.plot(fs, shape, color=colors[g], lw=1.4, label="%d: %+g dB" % (g, MID_GAIN[g]))
        above = [f for f, v in zip(fs, shape) if v >= 0.5]
        widths[g] = (above[-1] / above[0]) if above else float("nan")
    style(ax1, "Mid peak at 1492 Hz, each gain position scaled to its own peak", ylim=(-0.05, 1.05))
    ax1.set_ylabel("Share of the peak's gain (dB / dB)")
    ax1.legend(title="Mid Gain", fontsize=7, title_fontsize=8)
    pos = sorted(widths)
    ax2.bar([str(p) for p in pos], [math.log2(widths[p]) for p in pos], color=[colors[p] for p in pos])
    ax2.set_xlabel("Mid Gain position")
    ax2.set_ylabel("Width at half the peak's dB (octaves)")
    ax2.set_title("The peak narrows as its gain grows, in either direction", fontsize=10)
    ax2.grid(True, axis="y", alpha=0.3)
    fig.suptitle("TALVOR mid band: bandwidth follows gain (measured at 44.1 kHz)", fontsize=11)
    fig.tight_layout(rect=(0, 0, 1, 0.95))
    finish(fig, path)


def filter_figure(measure, pool, path):
    fig, axes = plt.subplots(1, 2, figsize=(14, 4.6), sharey=True)
    for ax, rate in zip(axes, RATES):
        fs = log_freqs(1.0, 0.499 * rate, 400)
        off = pool.submit(measure.response, rate, ["Filter=0"], fs)
        on = pool.submit(measure.response, rate, ["Filter=1"], fs)
        ax.plot(fs, off.result(), lw=1.6, label="Filter off: 2.2 Hz high-pass")
        ax.plot(fs, on.result(), lw=1.6, label="Filter on: 15 Hz high-pass + 19.1 kHz low-pass")
        style(ax, "All controls flat, %g kHz" % (rate / 1000), ylim=(-30, 5))
        ax.axvline(rate / 2, color="grey", ls=":", lw=1)
        ax.legend(fontsize=8, loc="lower center")
    axes[0].set_ylabel("Gain (dB)")
    fig.suptitle("TALVOR \"Filter\" switch", fontsize=11)
    fig.tight_layout(rect=(0, 0, 1, 0.95))
    finish(fig, path)


def saturation_figure(measure, pool, path):
    fig = plt.figure(figsize=(16, 9))
    grid = fig.add_gridspec(2, 2, width_ratios=(1, 1.6))
    ax = fig.add_subplot(grid[:, 0])
    colors = [cm.viridis(i / (len(INPUTS) - 1)) for i in range(len(INPUTS))]
    for c, db in zip(colors, INPUTS):
        x, y = measure.transfer(db)
        ax.plot(x, y, color=c, lw=1.6, label="Input %+d dB" % db)
    ax.plot([-2, 2], [-2, 2], color="grey", ls=":", lw=1, label="unity")
    ax.set_xlim(-2, 2)
    ax.set_ylim(-2.6, 2.6)
    ax.grid(True, alpha=0.3)
    ax.set_xlabel("Input sample")
    ax.set_ylabel("After the input stage")
    ax.set_title("Input stage: Input gain, then the saturator", fontsize=10)
    ax.legend(fontsize=8)
    jobs = {(rate, db): pool.submit(measure.spectrum, rate, db) for rate in RATES for db in INPUTS}
    for row, rate in enumerate(RATES):
        ax = fig.add_subplot(grid[row, 1])
        # One point per spectral line above the rounding floor; the loudest
        # setting first, so that the quieter ones stay visible on top.
        for c, db in reversed(list(zip(colors, INPUTS))):
            f, level = jobs[(rate, db)].result()
            lines = [(x, y) for x, y in zip(f, level) if y > -140]
            ax.scatter([x for x, _ in lines], [y for _, y in lines], color=c, s=14, label="Input %+d dB" % db)
        ax.set_xscale("log")
        ax.set_xlim(500, rate / 2)
        ax.set_ylim(-145, 10)
        ax.grid(True, which="both", alpha=0.3)
        ax.set_ylabel("Level (dB re full scale)")
        ax.set_xlabel("Frequency (Hz)")
        ax.set_title("Spectral lines of the output, 1 kHz sine at -6 dBFS, controls flat, %g kHz%s"
                     % (rate / 1000, "\n(harmonics past 22.05 kHz fold back between the harmonics)" if rate == 44100 else ""),
                     fontsize=10)
        if row == 0:
            handles, labels = ax.get_legend_handles_labels()
            ax.legend(handles[::-1], labels[::-1], fontsize=7, ncol=5, loc="upper right")
    fig.suptitle("TALVOR input saturation", fontsize=11)
    fig.tight_layout(rect=(0, 0, 1, 0.96))
    finish(fig, path)


def presets_figure(measure, pool, path):
    """One panel per category, each of its factory presets' responses at 48 kHz."""
    presets = measure.presets()
    categories = []
    for _, category in presets:
        if category not in categories:
            categories.append(category)
    fs = freqs_for(48000)
    jobs = {name: pool.submit(measure.response, 48000, [], fs, name) for name, _ in presets}
    cols = 4
    rows = (len(categories) + cols - 1) // cols
    fig, axes = plt.subplots(rows, cols, figsize=(17, 4.2 * rows + 0.6), sharey=True, squeeze=False)
    for i, category in enumerate(categories):
        ax = axes[i // cols][i % cols]
        for name, c in presets:
            if c == category:
                ax.plot(fs, jobs[name].result(), lw=1.4, label=name)
        style(ax, category, ylim=(-15, 10))
        ax.legend(fontsize=7, loc="lower center")
    for i in range(len(categories), rows * cols):
        axes[i // cols][i % cols].axis("off")
    for r in range(rows):
        axes[r][0].set_ylabel("Gain (dB)")
    fig.suptitle("TALVOR's factory presets at 48 kHz (small signals, with each preset's Output; "
                 "the input stage's saturation is not shown)", fontsize=11)
    fig.tight_layout(rect=(0, 0, 1, 0.96))
    finish(fig, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", default=os.path.join(ROOT, "build/native/tools/measure/talvor-measure"))
    parser.add_argument("--out", default=os.path.join(ROOT, "docs"))
    parser.add_argument("figures", nargs="*", metavar="FIGURE")
    args = parser.parse_args()
    if not os.access(args.tool, os.X_OK):
        sys.exit("make_plots.py: %s not found: build it first (scripts/setup.sh), or give --tool" % args.tool)
    os.makedirs(args.out, exist_ok=True)
    measure = Measure(args.tool)
    khz = lambda f: "%g kHz" % (f / 1000)
    hz = lambda f: "%g Hz" % f
    figures = {
        "response-low": lambda m, p, f: band_figure(m, p, f, "Low", LOW_GAIN, LOW_FREQ, hz, [44100]),
        "response-mid": lambda m, p, f: band_figure(m, p, f, "Mid", MID_GAIN, MID_FREQ, hz, [44100]),
        "response-high": lambda m, p, f: band_figure(m, p, f, "High", HIGH_GAIN, HIGH_FREQ, khz, RATES),
        "mid-bandwidth": mid_bandwidth_figure,
        "filter-switch": filter_figure,
        "saturation": saturation_figure,
        "presets": presets_figure,
    }
    unknown = [f for f in args.figures if f not in figures]
    if unknown:
        sys.exit("make_plots.py: no figure %s (there are: %s)" % (", ".join(unknown), " ".join(figures)))
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for name in args.figures or figures:
            figures[name](measure, pool, os.path.join(args.out, name + ".png"))


if __name__ == "__main__":
    try:
        main()
    except subprocess.CalledProcessError as e:
        sys.exit("make_plots.py: %s failed: %s" % (" ".join(e.cmd[:2]), (e.stderr or "").strip()))
