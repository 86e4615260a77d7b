#!/usr/bin/env python3
"""Plots the walk demo's trajectory CSV: true, tracked and predicted head x and z over time.

usage: trajectory.py TRAJECTORY.csv OUT.png [PASS_START PASS_END]

A live camera's CSV has no true positions and no second person: neither is drawn.
"""
import math
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def column(rows, name):
    return [float(r[name]) if r[name] != "" else float("nan") for r in rows]


def main():
    source, out = sys.argv[1], sys.argv[2]
    passage = (float(sys.argv[3]), float(sys.argv[4])) if len(sys.argv) > 4 else None
    with open(source, newline="") as f:
        rows = list(csv.DictReader(f))
    # No rows (a camera lost before its first frame) still gives a plot, an empty one.
    t = column(rows, "time")
    keys = [t[i] for i, r in enumerate(rows) if r["keyFrame"] == "1"]
    truth = {c: column(rows, "true" + c) for c in ("X", "Z")}
    live = all(math.isnan(v) for v in truth["X"])
    fig, axes = plt.subplots(2, 1, figsize=(9, 5.5), sharex=True, dpi=90)
    for axis, coordinate in zip(axes, ("X", "Z")):
        if passage:
            axis.axvspan(*passage, color="0.88", label="second person passes behind")
        if not live:
            axis.plot(t, truth[coordinate], color="black", lw=2.2, label="true")
        axis.plot(t, column(rows, "tracked" + coordinate), color="tab:orange", lw=1.2,
                  label="tracked (not predicted)")
        axis.plot(t, column(rows, "predicted" + coordinate), color="tab:blue", lw=1.0,
                  ls="--", label="predicted (used)")
        for k in keys:
            axis.axvline(k, color="tab:green", lw=0.8, alpha=0.6)
        axis.set_ylabel(f"head {coordinate.lower()} (mm)")
        axis.grid(alpha=0.3)
    axes[0].legend(loc="upper left", fontsize=8, ncol=2)
    axes[1].set_xlabel(("time since the start (s)" if live else "time seen (s)")
                       + "; green lines: woven key frames")
    axes[0].set_title("Head position in display space")
    fig.tight_layout()
    fig.savefig(out)


if __name__ == "__main__":
    main()
