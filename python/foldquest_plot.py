#!/usr/bin/env python3
"""Pictures of a foldquest run, from the CSV files its tools write.

    foldquest_plot.py --out FILE.png|FILE.svg [--section PREFIX]
                      [--draws DRAWS.csv [--pairs NAMES]] [--profile PROFILE.csv]
                      [--title TEXT]

--section PREFIX   the files of `foldquest model restore --out PREFIX`:
                   PREFIX_points.csv, PREFIX_dips.csv, PREFIX_fault.csv and
                   PREFIX_scores.csv.  Drawn as the cross-section: the data as
                   observed (grey), the restored beds, growth strata, terraces
                   and dips (colour), the fault trace with its tips and bend,
                   and the fault points.
--draws DRAWS.csv  the kept chain draws of `foldquest summary --draws`
                   (columns chain, step, score, then one per parameter): a
                   trace and a histogram for every parameter that moves,
                   then a pair plot: each pair of parameters as a scatter
                   of the draws (one colour per chain), each parameter's
                   histogram on the diagonal.
--pairs NAMES      the parameters of the pair plot, comma-separated, or
                   "none"; by default the first six that move (the score
                   is left out; the draws
                   of many parameters make a pair plot too small to read).
--profile FILE     the misfit profiles of `foldquest summary --csv` on a grid
                   search or Monte Carlo run (columns parameter, unit, value,
                   best_score, models): the best score at each value.

The format of --out follows its extension (.png or .svg).  Needs only
matplotlib and numpy (Debian: apt-get install python3-matplotlib).
`foldquest plot` writes these CSV files and calls this script; it can also
be run by hand on files kept from the tools.
"""

import argparse
import csv
import math
import sys


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def num(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return math.nan


def draw_section(ax, prefix):
    points = read_csv(prefix + "_points.csv")
    dips = read_csv(prefix + "_dips.csv")
    fault = read_csv(prefix + "_fault.csv")
    try:
        scores = read_csv(prefix + "_scores.csv")
    except OSError:
        scores = []

    sets = {}
    for r in points:
        key = (r["kind"], r["set"], r["name"])
        sets.setdefault(key, []).append(r)
    colours = {"bed": "tab:blue", "growth": "tab:orange", "terrace": "tab:green"}
    first_obs = True
    for (kind, _, name), rows in sets.items():
        xo = [num(r["x_obs"]) for r in rows]
        yo = [num(r["y_obs"]) for r in rows]
        if kind == "fault point":
            ax.plot(xo, yo, "kx", ms=6, label="fault points")
            continue
        ax.plot(xo, yo, ".", color="0.6", ms=3, label="observed" if first_obs else None)
        first_obs = False
        x = [num(r["x"]) for r in rows]
        y = [num(r["y"]) for r in rows]
        ax.plot(x, y, ".-", color=colours.get(kind, "tab:purple"), ms=3, lw=0.8, label=f"{name} restored")

    # Dips as short ticks, positive down to the right.
    if dips:
        xs = [num(r["x_obs"]) for r in dips] + [num(r["x"]) for r in dips]
        xs = [v for v in xs if math.isfinite(v)]
        span = (max(xs) - min(xs)) if len(xs) > 1 else 100.0
        half = 0.02 * span if span > 0 else 10.0
        for i, r in enumerate(dips):
            for xk, yk, dk, colour, label in (("x_obs", "y_obs", "dip_obs", "0.5", "dips observed"),
                                               ("x", "y", "dip", "tab:red", "dips restored")):
                x, y, d = num(r[xk]), num(r[yk]), num(r[dk])
                if not (math.isfinite(x) and math.isfinite(y) and math.isfinite(d)):
                    continue
                a = -math.radians(d)
                dx, dy = half * math.cos(a), half * math.sin(a)
                ax.plot([x - dx, x + dx], [y - dy, y + dy], "-", color=colour, lw=1.2,
                        label=label if i == 0 else None)

    parts = {}
    for r in fault:
        parts.setdefault(r["part"], []).append((num(r["x"]), num(r["y"])))
    markers = {"initial tip": ("v", "tab:red"), "final tip": ("^", "tab:red"), "bend": ("s", "k")}
    first_line = True
    for name, pts in parts.items():
        x = [p[0] for p in pts]
        y = [p[1] for p in pts]
        if len(pts) == 1:
            m, c = markers.get(name, ("o", "k"))
            ax.plot(x, y, m, color=c, ms=8, label=name)
        else:
            ax.plot(x, y, "-", color="k", lw=1.5, label="fault" if first_line else None)
            first_line = False

    # Keep the view on the data: the fault lines run far down-dip.
    xs = [num(r["x_obs"]) for r in points] + [num(r["x"]) for r in points]
    ys = [num(r["y_obs"]) for r in points] + [num(r["y"]) for r in points]
    xs = [v for v in xs if math.isfinite(v)]
    ys = [v for v in ys if math.isfinite(v)]
    for name, pts in parts.items():
        if len(pts) == 1:
            xs.append(pts[0][0])
            ys.append(pts[0][1])
    if xs and ys:
        mx = 0.05 * (max(xs) - min(xs) or 1.0)
        my = 0.05 * (max(ys) - min(ys) or 1.0)
        ax.set_xlim(min(xs) - mx, max(xs) + mx)
        ax.set_ylim(min(ys) - my, max(ys) + my)
    ax.set_aspect("equal", adjustable="box")
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    total = [r for r in scores if r["type"] == "total"]
    parts_text = ", ".join(f"{r['type']} {num(r['score']):.6g}" for r in scores if r["type"] != "total")
    title = "restored section"
    if total:
        title += f": score {num(total[0]['score']):.8g}"
        if parts_text:
            title += f" ({parts_text})"
    ax.set_title(title, fontsize=9)
    ax.legend(fontsize=6, loc="best", ncol=2)


def section_aspect(prefix):
    """Height over width of the section's data (observed and restored)."""
    xs, ys = [], []
    for r in read_csv(prefix + "_points.csv"):
        for xk, yk in (("x", "y"), ("x_obs", "y_obs")):
            x, y = num(r[xk]), num(r[yk])
            if math.isfinite(x) and math.isfinite(y):
                xs.append(x)
                ys.append(y)
    for r in read_csv(prefix + "_fault.csv"):
        if r["part"] in ("initial tip", "final tip", "bend"):
            xs.append(num(r["x"]))
            ys.append(num(r["y"]))
    if not xs:
        return 0.5
    dx = max(xs) - min(xs)
    dy = max(ys) - min(ys)
    return dy / dx if dx > 0 else 0.5


def moving_columns(rows, names):
    out = []
    for n in names:
        first = rows[0][n] if rows else None
        if any(r[n] != first for r in rows):
            out.append(n)
    return out


# Points drawn per chain in a trace: evenly spaced draws, as many as the
# picture has pixels across, not more (long chains would make pictures of
# megabytes that look the same).  The histograms use every draw.
MAX_TRACE_POINTS = 1500


def draw_draws(fig, grid, rows):
    names = [c for c in rows[0].keys() if c not in ("chain", "step")]
    cols = moving_columns(rows, names)
    chains = sorted({r["chain"] for r in rows}, key=int)
    per_chain = {c: [] for c in chains}
    for r in rows:
        per_chain[r["chain"]].append(r)
    for i, n in enumerate(cols):
        at = fig.add_subplot(grid[i, 0])
        ah = fig.add_subplot(grid[i, 1])
        for c in chains:
            rc = per_chain[c]
            thin = rc[::max(1, len(rc) // MAX_TRACE_POINTS)]
            at.plot([int(r["step"]) for r in thin], [num(r[n]) for r in thin], lw=0.5, label=f"chain {c}")
            ah.hist([num(r[n]) for r in rc], bins=40, histtype="step", lw=0.8)
        at.set_ylabel(n, fontsize=7)
        at.tick_params(labelsize=6)
        ah.tick_params(labelsize=6)
        if i == 0:
            at.set_title("traces (kept draws)", fontsize=8)
            ah.set_title("marginal histograms", fontsize=8)
            if len(chains) > 1:
                at.legend(fontsize=5)
    return len(cols)


# Parameters in the pair plot when none are named, and points drawn per
# chain in each scatter (evenly spaced draws: enough to show the shape of
# the cloud, few enough to keep an SVG small).
DEFAULT_PAIRS = 6
MAX_SCATTER_POINTS = 1500


def pair_columns(rows, names, chosen):
    """The pair plot's parameters: `chosen` (comma-separated names, or
    "none"), else the first DEFAULT_PAIRS that move.  Raises ValueError for
    a name that is not a column of the draws."""
    if chosen is not None:
        if chosen.strip().lower() == "none":
            return []
        cols = [c.strip() for c in chosen.split(",") if c.strip()]
        for c in cols:
            if c not in names:
                raise ValueError(f"--pairs: no parameter '{c}' in the draws (they have: {', '.join(names)})")
        return cols
    return [c for c in moving_columns(rows, names) if c != "score"][:DEFAULT_PAIRS]


def draw_pairs(fig, grid, rows, cols, note):
    chains = sorted({r["chain"] for r in rows}, key=int)
    per_chain = {c: [] for c in chains}
    for r in rows:
        per_chain[r["chain"]].append(r)
    colours = {c: f"C{k % 10}" for k, c in enumerate(chains)}
    n = len(cols)
    axes = {}
    for i in range(n):
        for j in range(i + 1):
            ax = fig.add_subplot(grid[i, j])
            axes[(i, j)] = ax
            for c in chains:
                rc = per_chain[c]
                if i == j:
                    ax.hist([num(r[cols[i]]) for r in rc], bins=30, histtype="step", lw=0.8, color=colours[c])
                else:
                    stride = max(1, len(rc) // MAX_SCATTER_POINTS)
                    thin = rc[::stride]
                    ax.scatter([num(r[cols[j]]) for r in thin], [num(r[cols[i]]) for r in thin], s=1.5,
                               alpha=0.4, color=colours[c], linewidths=0, rasterized=True)
            ax.tick_params(labelsize=5)
            if i == n - 1:
                ax.set_xlabel(cols[j], fontsize=6)
            else:
                ax.tick_params(labelbottom=False)
            if j == 0 and i > 0:
                ax.set_ylabel(cols[i], fontsize=6)
            if i == j:
                ax.set_yticks([])
            elif j > 0:
                ax.tick_params(labelleft=False)
    # Each column shares the x range of its histogram, each row the y range
    # of the column of the same parameter, so the panels line up.
    for i in range(n):
        for j in range(i):
            axes[(i, j)].set_xlim(axes[(j, j)].get_xlim())
            axes[(i, j)].set_ylim(axes[(i, i)].get_xlim())
    top = fig.add_subplot(grid[0, n - 1]) if n > 1 else None
    if top is not None:
        top.axis("off")
        top.text(1.0, 1.0, "pair plot (kept draws)" + (f"\n{note}" if note else ""), ha="right", va="top",
                 fontsize=7, transform=top.transAxes)


def draw_profile(fig, grid, rows):
    params = []
    for r in rows:
        if r["parameter"] not in params:
            params.append(r["parameter"])
    for i, p in enumerate(params):
        ax = fig.add_subplot(grid[i // 2, i % 2])
        rp = [r for r in rows if r["parameter"] == p]
        ax.plot([num(r["value"]) for r in rp], [num(r["best_score"]) for r in rp], "o-", ms=3)
        unit = rp[0]["unit"]
        ax.set_xlabel(f"{p} ({unit})" if unit else p, fontsize=7)
        ax.set_ylabel("best score", fontsize=7)
        ax.tick_params(labelsize=6)
    return len(params)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", required=True, help="the picture: FILE.png or FILE.svg")
    ap.add_argument("--section", help="prefix of the restored-section CSV files")
    ap.add_argument("--draws", help="chain draws CSV (foldquest summary --draws)")
    ap.add_argument("--pairs", help="parameters of the pair plot, comma-separated, or none "
                    f"(default: the first {DEFAULT_PAIRS} that move)")
    ap.add_argument("--profile", help="misfit-profile CSV (foldquest summary --csv on a grid run)")
    ap.add_argument("--title", default="", help="a title over the picture")
    args = ap.parse_args(argv)

    fmt = args.out.rsplit(".", 1)[-1].lower() if "." in args.out else ""
    if fmt not in ("png", "svg"):
        print("foldquest_plot: --out must end in .png or .svg", file=sys.stderr)
        return 2
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        from matplotlib.gridspec import GridSpec
    except ImportError:
        print("foldquest_plot: matplotlib is not installed (Debian: apt-get install python3-matplotlib)",
              file=sys.stderr)
        return 3

    try:
        draws = read_csv(args.draws) if args.draws else []
        profile = read_csv(args.profile) if args.profile else []
    except OSError as e:
        print(f"foldquest_plot: {e}", file=sys.stderr)
        return 2
    draw_names = [c for c in draws[0].keys() if c not in ("chain", "step")] if draws else []
    nd = len(moving_columns(draws, draw_names)) if draws else 0
    pairs = []
    pair_note = ""
    if draws:
        try:
            pairs = pair_columns(draws, draw_names, args.pairs)
        except ValueError as e:
            print(f"foldquest_plot: {e}", file=sys.stderr)
            return 2
        if len(pairs) < 2:
            pairs = []
        else:
            nmoving = len([c for c in moving_columns(draws, draw_names) if c != "score"])
            if args.pairs is None and nmoving > len(pairs):
                pair_note = f"the first {len(pairs)} of {nmoving} moving parameters (--pairs to choose)"
    params = []
    for r in profile:
        if r["parameter"] not in params:
            params.append(r["parameter"])
    rows_below = nd if draws else (len(params) + 1) // 2
    if not args.section and rows_below == 0:
        print("foldquest_plot: nothing to draw: give --section, --draws or --profile", file=sys.stderr)
        return 2
    # The section keeps its true shape (equal scales on x and y): its height
    # follows the data's, within limits.
    width = 10.0
    section_height = 0.0
    if args.section:
        try:
            section_height = min(max(width * section_aspect(args.section), 2.5), 9.0)
        except (OSError, KeyError) as e:
            print(f"foldquest_plot: cannot read the CSV files: {e}", file=sys.stderr)
            return 2
    pair_height = min(1.6 * len(pairs), width) if pairs else 0.0
    ratios = ([section_height] if args.section else []) + [2.0] * rows_below + ([pair_height] if pairs else [])
    fig = plt.figure(figsize=(width, sum(ratios) + 1.0))
    grid = GridSpec(len(ratios), 2, figure=fig, height_ratios=ratios, hspace=0.5, wspace=0.3)
    try:
        first = 0
        if args.section:
            draw_section(fig.add_subplot(grid[0, :]), args.section)
            first = 1
        if rows_below:
            below = grid[first:first + rows_below, :].subgridspec(rows_below, 2, hspace=0.5, wspace=0.3)
            if draws:
                draw_draws(fig, below, draws)
            else:
                draw_profile(fig, below, profile)
        if pairs:
            square = grid[first + rows_below, :].subgridspec(len(pairs), len(pairs), hspace=0.1, wspace=0.1)
            draw_pairs(fig, square, draws, pairs, pair_note)
    except (OSError, KeyError) as e:
        print(f"foldquest_plot: cannot read the CSV files: {e}", file=sys.stderr)
        return 2
    if args.title:
        fig.suptitle(args.title, fontsize=10)
    fig.savefig(args.out, format=fmt, dpi=120, bbox_inches="tight")
    if fmt == "png":
        shrink_png(args.out)
    return 0


def shrink_png(path):
    """Rewrites a PNG with a palette of 256 colours when that is smaller (a
    picture of lines and points loses nothing visible; the traces of long
    chains shrink to a third).  Left as it is without PIL (Debian:
    python3-pil, which python3-matplotlib brings)."""
    try:
        import io
        from PIL import Image
    except ImportError:
        return
    try:
        with Image.open(path) as im:
            buf = io.BytesIO()
            im.convert("RGB").quantize(colors=256).save(buf, format="PNG", optimize=True)
        import os
        if buf.tell() < os.path.getsize(path):
            with open(path, "wb") as f:
                f.write(buf.getvalue())
    except OSError:
        pass


if __name__ == "__main__":
    sys.exit(main())
