#!/usr/bin/env python3
"""Plots the vesk demo's trajectory from above: ground truth and odometry in metres, the
start, and each target with the radius within which it counts as reached.

    plot_trajectory.py CSV PNG --radius R [--targets X,Y/X,Y...] [--title T]

CSV is the demo's trajectory.csv (columns t, truth_x, truth_y, truth_theta, odom_x, odom_y,
odom_theta; world frame, metres and radians). Needs matplotlib; draws without a display.
"""
import argparse
import csv
import math
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def read_paths(path):
    truth, odom = [], []
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            truth.append((float(row["truth_x"]), float(row["truth_y"])))
            odom.append((float(row["odom_x"]), float(row["odom_y"])))
    return truth, odom


def parse_points(text):
    points = []
    for item in filter(None, text.split("/")):
        x, y = item.split(",")
        points.append((float(x), float(y)))
    return points


def closest(path, point):
    return min((math.hypot(x - point[0], y - point[1]) for x, y in path), default=float("inf"))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("csv")
    ap.add_argument("png")
    ap.add_argument("--radius", type=float, required=True, help="reach radius [m]")
    ap.add_argument("--targets", default="", help="X,Y/X,Y... in the world [m]")
    ap.add_argument("--title", default="vesk demo: trajectory seen from above")
    a = ap.parse_args()

    truth, odom = read_paths(a.csv)
    targets = parse_points(a.targets)
    if not truth:
        sys.exit("no trajectory in " + a.csv)

    fig, ax = plt.subplots(figsize=(7.2, 5.6), dpi=100)
    ax.plot([p[0] for p in truth], [p[1] for p in truth], color="#1f5bd6", lw=2.6,
            label="ground truth (simulator)")
    ax.plot([p[0] for p in odom], [p[1] for p in odom], color="#e0301e", lw=1.3, ls="--",
            label="odometry (wheel speeds)")
    ax.plot(*truth[0], marker="o", ms=9, color="black", ls="none", label="start")
    ax.plot(*truth[-1], marker="s", ms=7, mfc="white", mec="black", ls="none", label="end")
    for k, t in enumerate(targets):
        d = closest(truth, t)
        reached = d <= a.radius
        colour = "#119a3a" if reached else "#c77c00"
        ax.add_patch(plt.Circle(t, a.radius, fill=True, fc=colour, alpha=0.15, ec=colour, lw=1.5))
        ax.plot(*t, marker="x", ms=10, mew=2.5, color=colour, ls="none",
                label="target %d: %s (closest %.2f m)" % (k + 1, "reached" if reached else "missed", d))
        ax.annotate(str(k + 1), t, textcoords="offset points", xytext=(8, 6), color=colour,
                    fontweight="bold")
    ax.set_aspect("equal", adjustable="datalim")
    ax.margins(0.12)
    ax.grid(True, color="#dddddd")
    ax.set_xlabel("x [m] (world)")
    ax.set_ylabel("y [m] (world)")
    ax.set_title(a.title)
    # A circle of the reach radius stands for every target in the legend's text.
    ax.legend(loc="best", fontsize=8, framealpha=0.9,
              title="targets: shaded circle = reach radius %.2f m" % a.radius, title_fontsize=8)
    fig.tight_layout()
    fig.savefig(a.png)
    return 0


if __name__ == "__main__":
    sys.exit(main())
