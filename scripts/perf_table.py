#!/usr/bin/env python3
"""Turns the JSON of a bench_provider run into the figure/floor/ratio table of
docs/PERFORMANCE.md. Usage:
  build/bin/bench_provider --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
      --benchmark_out=perf.json --benchmark_out_format=json
  scripts/perf_table.py perf.json
Medians of CPU time of the calling thread, except where noted (wall-clock time)."""
import json
import sys

UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(path):
    data = json.load(open(path))
    runs = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        runs[b["run_name"]] = b
    return data["context"], runs


def seconds(run, field):
    return run[field] * UNIT[run["time_unit"]]


def show(value):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9)):
        if value >= scale:
            return f"{value / scale:.3g} {unit}"
    return f"{value / 1e-9:.3g} ns"


def main():
    context, runs = load(sys.argv[1])
    rows = []

    def row(what, figure, floor_name, floor, target=None, ratio=None):
        if ratio is None:
            ratio = figure / floor if floor else float("nan")
        verdict = "" if target is None else (" ✓" if ratio <= target else " ✗")
        rows.append(f"| {what} | {show(figure)} | {floor_name}: {show(floor)} | "
                    f"{ratio:.2f}{verdict} |")

    cpu = lambda name: seconds(runs[name], "cpu_time")
    wall = lambda name: seconds(runs[name], "real_time")
    floor = cpu("BM_Floor_AttachCallDetach")
    rows.append(f"| Floor: attach + detach | {show(cpu('BM_Floor_AttachDetach'))} | | |")
    rows.append(f"| Floor: attach + look-up + trivial call + detach | {show(floor)} | | |")
    rows.append(f"| Floor: one call on a cached environment | {show(cpu('BM_Floor_CachedEnvCall'))} | | |")
    # Requests and elements: each iteration ran the floor and then the figure (BM_Paired_*), so
    # both met the same moment of the machine; the ratio is the median of the runs' ratios.
    for label, name in (("get-object", "GetObject"), ("put-instance", "PutInstance"),
                        ("execute-method", "ExecMethod"), ("ProvideEvents", "ProvideEvents")):
        paired = runs[f"BM_Paired_{name}"]
        row(f"Request: {label}", paired["request_us"] * 1e-6, "attach-call-detach",
            paired["floor_us"] * 1e-6, 1.5, paired["ratio"])
    for count in (1, 100, 10000, 1000000):
        paired = runs[f"BM_Paired_Enumerate/{count}"]
        row(f"Enumeration, per element, {count:,} elements", paired["provider_ns"] * 1e-9,
            "JNI vector read, look-ups per element", paired["floor_ns"] * 1e-9, 2.0,
            paired["ratio"])
    for count in (1, 100, 10000, 1000000):
        paired = runs[f"BM_Paired_Enumerate/{count}"]
        row(f"Enumeration, per element, {count:,} elements (for scale)",
            paired["provider_ns"] * 1e-9, "JNI vector read, look-ups once",
            paired["bare_floor_ns"] * 1e-9, None, paired["bare_ratio"])
    memory = runs["BM_EnumerationPeakMemory/iterations:1"]
    rows.append(f"| Peak memory 10 000 → 1 000 000 elements (provider) | "
                f"{memory['provider_10k_MiB']:.1f} → {memory['provider_1M_MiB']:.1f} MiB "
                f"(+{memory['provider_growth_MiB']:.1f}) | JNI vector read: "
                f"{memory['floor_10k_MiB']:.1f} → {memory['floor_1M_MiB']:.1f} MiB "
                f"(+{memory['floor_growth_MiB']:.1f}) | growth "
                f"{memory['provider_growth_MiB'] - memory['floor_growth_MiB']:+.1f} MiB over the floor |")
    row("CheckForEvents, per event (Java → sink)", runs["BM_CheckForEvents"]["per_event"],
        "native called from Java", runs["BM_Floor_NativeCallFromJava"]["per_event"])
    row("First Initialize of a process (wall)", wall("BM_FirstInitialize/iterations:3/manual_time"),
        "VM start alone", wall("BM_Floor_FirstVmStart/iterations:3/manual_time"))
    row("Later Initialize (wall)", wall("BM_LaterInitialize/iterations:50/manual_time"),
        "attach + constructor + object + detach (wall)", wall("BM_Floor_LaterInitialize"))
    for threads in (1, 2, 4):
        name = f"Concurrent/BM_GetObject/real_time/threads:{threads}"
        base = f"Concurrent/BM_Floor_AttachCallDetach/real_time/threads:{threads}"
        row(f"get-object from {threads} thread(s), wall time per request", wall(name),
            "attach-call-detach, same threads", wall(base), 1.5)
    print(f"Machine: {context.get('num_cpus')} CPUs at {context.get('mhz_per_cpu')} MHz, "
          f"load average {', '.join(f'{x:.1f}' for x in context.get('load_avg', []))}; "
          f"run {context.get('date')}")
    print()
    print("| Figure | Value | Floor (same run) | Ratio |")
    print("|---|---|---|---|")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
