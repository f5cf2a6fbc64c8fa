#!/usr/bin/python3
"""Tables and chart from a benchmark result file (build/bench-data/latest.json).

Every ratio is taken within one round and then summarised over the rounds (min and
median). With --doc the tables replace the part of docs/performance.md between the
results markers, and the chart goes to docs/performance.png.
"""
import argparse
import json
import statistics
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MIB = 1 << 20
BEGIN, END = "<!-- results begin -->", "<!-- results end -->"
NATIVE_TOOLS = ("bsdtar", "unzip", "7z", "python zipfile")


def by_round(cases, name, key="seconds"):
    return {r["round"]: r[key] for r in cases.get(name, []) if key in r}


def ratios(d):
    """(figure, anchor text, per-round values, target, 'le'|'ge', unit note)"""
    res = d["results"]
    out = []
    for arch in ("patch", "tiny"):
        c = res.get(arch)
        if not c:
            continue
        ours = by_round(c, "zip reader (host)")
        tools = [by_round(c, t) for t in NATIVE_TOOLS]
        vals = [ours[r] / min(t[r] for t in tools if r in t) for r in ours
                if any(r in t for t in tools)]
        out.append(("%s: zip reader (host) / fastest native tool" % arch, vals, 1.0, "le"))
        wine = by_round(c, "launcher (Wine)")
        bsd = by_round(c, "bsdtar")
        floor = by_round(c, "Wine write floor")
        if arch == "patch":
            out.append(("patch: launcher under Wine / native bsdtar",
                        [wine[r] / bsd[r] for r in wine if r in bsd], 2.0, "le"))
        else:
            out.append(("tiny: launcher under Wine / Wine write floor",
                        [wine[r] / floor[r] for r in wine if r in floor], 1.3, "le"))
        if arch == "patch":
            info = d["archives"]["patch"]
            budget = info["archive_bytes"] + info["largest"] + 32 * MIB
            peak = by_round(c, "launcher (Wine)", "maxrss")
            out.append(("patch: extraction peak memory / (archive + largest entry + 32 MiB)",
                        [peak[r] / budget for r in peak], 1.0, "le"))
    c = res.get("download")
    if c:
        ours = by_round(c, "httpGet (Wine)")
        floor = by_round(c, "WinHTTP floor (Wine)")
        out.append(("download: httpGet throughput / WinHTTP floor throughput",
                    [floor[r] / ours[r] for r in ours if r in floor], 0.9, "ge"))
        keeping = by_round(c, "WinHTTP floor keeping the body (Wine)")
        if keeping:
            out.append(("download: httpGet throughput / floor keeping the body (same target)",
                        [keeping[r] / ours[r] for r in ours if r in keeping], 0.9, "ge"))
        budget = d["body_bytes"] + 32 * MIB
        peak = by_round(c, "httpGet (Wine)", "maxrss")
        out.append(("download: peak memory / (body + 32 MiB)", [peak[r] / budget for r in peak], 1.0, "le"))
    c = res.get("start")
    if c:
        game = by_round(c, "game.exe up to date")
        empty = by_round(c, "wine empty.exe")
        fetch = by_round(c, "WinHTTP manifest fetch")
        out.append(("start: up-to-date start / (wine empty.exe + manifest fetch)",
                    [game[r] / (empty[r] + fetch[r]) for r in game if r in empty and r in fetch], 2.0, "le"))
    return out


def verdict(vals, target, sense):
    med = statistics.median(vals)
    ok = med <= target if sense == "le" else med >= target
    return "holds" if ok else "**missed**"


def fmt_s(v):
    return "%.3f" % v


def tables(d):
    lines = []
    res = d["results"]
    lines.append("Run of %s, %d rounds%s. Machine: %s, %s cores, %s GiB, %s, Linux %s, "
                 "file system %s." % (d["date"], d["rounds"], " (quick: smaller archives)" if d["quick"] else "",
                                      d["machine"]["cpu"], d["machine"]["cores"], d["machine"]["memory_gib"],
                                      d["machine"]["wine"], d["machine"]["kernel"], d["machine"]["filesystem"]))
    lines.append("")
    a = d["archives"]
    lines.append("| archive | files | uncompressed | archive | largest entry |")
    lines.append("|---|---:|---:|---:|---:|")
    for name in ("patch", "tiny"):
        if name in a:
            x = a[name]
            lines.append("| %s | %d | %.1f MB | %.1f MB | %.2f MB |" % (
                name, x["files"], x["bytes"] / 1e6, x["archive_bytes"] / 1e6, x["largest"] / 1e6))
    lines.append("")
    lines.append("### Ratios (each taken within one round)")
    lines.append("")
    lines.append("| figure | min | median | target | verdict (median) |")
    lines.append("|---|---:|---:|---:|---|")
    for name, vals, target, sense in ratios(d):
        if not vals:
            continue
        lines.append("| %s | %.2f | %.2f | %s %.1f | %s |" % (
            name, min(vals), statistics.median(vals), "≤" if sense == "le" else "≥", target,
            verdict(vals, target, sense)))
    lines.append("")
    lines.append("### Times of each case (seconds)")
    lines.append("")
    lines.append("| group | case | min | median | how timed |")
    lines.append("|---|---|---:|---:|---|")
    how = {"inflate floor": "inside the program", "write floor": "inside the program (write only)",
           "launcher (Wine)": "inside the program: extractPatchArchive only",
           "launcher before (Wine)": "inside the program: extractPatchArchive only",
           "httpGet before (Wine)": "inside the program: httpGet only",
           "Wine write floor": "inside the program (write only)",
           "httpGet (Wine)": "inside the program: httpGet only",
           "WinHTTP floor (Wine)": "inside the program: WinHttpOpen to last byte",
           "WinHTTP floor keeping the body (Wine)": "inside the program: WinHttpOpen to last byte",
           "WinHTTP manifest fetch": "inside the program: WinHttpOpen to last byte",
           "game.exe up to date": "host: start of `wine game.exe` to launch_report.json",
           "wine empty.exe": "host: whole `wine` process"}
    for group, cases in res.items():
        for name, rows in cases.items():
            s = [r["seconds"] for r in rows]
            lines.append("| %s | %s | %s | %s | %s |" % (group, name, fmt_s(min(s)), fmt_s(statistics.median(s)),
                                                       "inside the program: WinHttpOpen to last byte"
                                                       if group == "anatomy" else how.get(name, "host: whole process")))
    c = res.get("download")
    if c:
        lines.append("")
        lines.append("Download throughput (MB/s, %d MB body): " % (d["body_bytes"] / 1e6) + ", ".join(
            "%s %.0f (best) / %.0f (median)" % (n, d["body_bytes"] / 1e6 / min(r["seconds"] for r in rows),
                                                 d["body_bytes"] / 1e6 / statistics.median(r["seconds"] for r in rows))
            for n, rows in c.items()) + ".")
    c = res.get("anatomy")
    if c:
        lines.append("")
        lines.append("### Where the download's time goes (Wine)")
        lines.append("")
        lines.append("`winhttp_variants.exe`: the floor's loop with one thing changed at a time; medians over "
                     "the rounds, in seconds, with the time inside `WinHttpQueryDataAvailable` (waiting for "
                     "the next TLS record), inside `WinHttpReadData`, and in the copy. Ratio: the floor's "
                     "throughput over the variant's, in the same round (as the download target is taken).")
        lines.append("")
        lines.append("| variant | total | in QueryDataAvailable | in ReadData | in copy | floor / variant, median |")
        lines.append("|---|---:|---:|---:|---:|---:|")
        floor = by_round(c, "floor")
        for name, rows in c.items():
            mine = by_round(c, name)
            rel = [floor[r] / mine[r] for r in mine if r in floor]
            lines.append("| %s | %.3f | %.3f | %.3f | %.3f | %.2f |" % (
                name, statistics.median(r["seconds"] for r in rows), statistics.median(r["query"] for r in rows),
                statistics.median(r["read"] for r in rows), statistics.median(r["copy"] for r in rows),
                statistics.median(rel) if rel else float("nan")))
    lines.append("")
    lines.append("### Memory of the launcher's code under Wine (MiB)")
    lines.append("")
    lines.append("Peak resident size of the whole Wine process (the kernel's figure, `/usr/bin/time -f %%M` "
                 "around `wine`: the archive or body, the launcher's code and Wine's own libraries), and "
                 "Wine's `PeakPagefileUsage` (private bytes) minus its value at the program's start. "
                 "The budget column is the target; the start of an empty program under Wine is %s." % (
                     "%.1f MiB resident" % (statistics.median(r["maxrss"] for r in res["start"]["wine empty.exe"]) / MIB)
                     if "start" in res and "wine empty.exe" in res["start"] and "maxrss" in res["start"]["wine empty.exe"][0]
                     else "not measured in this run"))
    lines.append("")
    lines.append("| case | peak resident, median | peak private (Wine), median | budget | (same, min of rounds) |")
    lines.append("|---|---:|---:|---:|---:|")
    for group, name, budget in (("patch", "launcher (Wine)", None), ("patch", "launcher before (Wine)", None),
                                ("tiny", "launcher (Wine)", None),
                                ("download", "httpGet (Wine)", None), ("download", "httpGet before (Wine)", None)):
        rows = res.get(group, {}).get(name)
        if not rows:
            continue
        if group in ("patch", "tiny"):
            x = d["archives"][group]
            budget = x["archive_bytes"] + x["largest"] + 32 * MIB
            btext = "archive %.0f + largest %.1f + 32 = %.0f" % (x["archive_bytes"] / MIB, x["largest"] / MIB, budget / MIB)
        else:
            budget = d["body_bytes"] + 32 * MIB
            btext = "body %.0f + 32 = %.0f" % (d["body_bytes"] / MIB, budget / MIB)
        lines.append("| %s %s | %.1f | %.1f | %s | %.1f, %.1f |" % (
            group, name, statistics.median(r["maxrss"] for r in rows) / MIB,
            statistics.median(r["peak_pf"] for r in rows) / MIB, btext,
            min(r["maxrss"] for r in rows) / MIB, min(r["peak_pf"] for r in rows) / MIB))
    return "\n".join(lines) + "\n"


def chart(d, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    rows = [(n, v, t, s) for n, v, t, s in ratios(d) if v]
    fig, ax = plt.subplots(figsize=(13, 0.6 * len(rows) + 1.5))
    names = [r[0] for r in rows][::-1]
    # Share of the target used: ratio / target for upper bounds, target / ratio for lower
    # bounds, so every bar passes at or below 1.
    med = [(statistics.median(v) / t if s == "le" else t / statistics.median(v)) for _, v, t, s in rows][::-1]
    best = [(min(v) / t if s == "le" else t / max(v)) for _, v, t, s in rows][::-1]
    colors = ["tab:green" if m <= 1 else "tab:red" for m in med]
    ax.barh(names, med, color=colors, alpha=0.7, label="median")
    ax.scatter(best, names, color="black", marker="|", s=200, label="best round", zorder=3)
    ax.axvline(1.0, color="black", linestyle="--", label="target")
    for i, (m, (_, v, t, s)) in enumerate(zip(med, rows[::-1])):
        ax.text(m + 0.02, i, "%.2f× (target %s %.1f×)" % (statistics.median(v), "≤" if s == "le" else "≥", t),
                va="center", fontsize=8)
    ax.set_xlabel("share of the target used (ratio / target; throughput: target / ratio); ≤ 1 meets it")
    ax.set_xlim(0, max(max(med), max(best), 1.2) * 1.35)
    ax.set_title("Patch benchmark: ratios in the same round, %d rounds" % d["rounds"])
    ax.legend(loc="lower right", fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("results")
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--doc", action="store_true", help="write into docs/performance.md and docs/performance.png")
    args = ap.parse_args(argv)
    with open(args.results) as f:
        d = json.load(f)
    text = tables(d)
    print(text)
    out_dir = Path(args.results).parent
    (out_dir / "results.md").write_text(text)
    png = ROOT / "docs" / "performance.png" if args.doc else out_dir / "performance.png"
    try:
        chart(d, png)
        print("chart:", png, file=sys.stderr)
    except ImportError:
        print("report: no matplotlib, no chart", file=sys.stderr)
    if args.doc:
        doc = ROOT / "docs" / "performance.md"
        body = doc.read_text()
        if BEGIN in body and END in body:
            head, rest = body.split(BEGIN, 1)
            _, tail = rest.split(END, 1)
            doc.write_text(head + BEGIN + "\n" + text + END + tail)
    return 0


if __name__ == "__main__":
    sys.exit(main())
