#!/usr/bin/env python3
"""Runs the interpreter benchmarks side by side: each Zor script in this folder against
the same program in Lua 5.4 and Python 3 (when a .lua / .py twin exists), best of
several runs of the whole process, and prints a table of times and ratios. The lexer
benchmark loads a generated file of mixed values with transcode and compares it with
Python's json.loads of the same data written as JSON.

usage: run.py ZOR_BINARY [--runs N] [--transcode-bench ZOR_BENCH_BINARY] [--transcode-mb MB]
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def best_time(command, runs, expected=None):
    best = None
    output = None
    for _ in range(runs):
        start = time.perf_counter()
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        elapsed = time.perf_counter() - start
        if done.returncode != 0:
            sys.exit(f"{' '.join(command)} failed ({done.returncode}):\n{done.stdout.decode()}")
        output = done.stdout.decode().split()
        best = elapsed if best is None else min(best, elapsed)
    return best, output


def interpreter_table(zor, runs):
    lua = shutil.which("lua5.4")
    python = sys.executable
    rows = []
    for name in sorted(f[:-4] for f in os.listdir(HERE) if f.endswith(".zor")):
        zor_time, zor_out = best_time([zor, os.path.join(HERE, name + ".zor")], runs)
        row = {"name": name, "zor": zor_time, "out": zor_out}
        for key, runner, suffix in (("lua", lua, ".lua"), ("python", python, ".py")):
            twin = os.path.join(HERE, name + suffix)
            if runner and os.path.exists(twin):
                t, out = best_time([runner, twin], runs)
                if out != zor_out:
                    sys.exit(f"{name}: {suffix} printed {out}, Zor printed {zor_out}")
                row[key] = t
        rows.append(row)
    print(f"{'benchmark':<16}{'Zor s':>9}{'Lua s':>9}{'Python s':>10}{'Zor/Lua':>9}{'Zor/Python':>12}")
    def cell(value, digits, width):
        return f"{value:>{width}.{digits}f}" if value else f"{'-':>{width}}"

    for r in rows:
        lua_t, py_t = r.get("lua"), r.get("python")
        print(f"{r['name']:<16}{r['zor']:>9.3f}{cell(lua_t, 3, 9)}{cell(py_t, 3, 10)}"
              f"{cell(lua_t and r['zor'] / lua_t, 2, 9)}{cell(py_t and r['zor'] / py_t, 2, 12)}")
    by_name = {r["name"]: r for r in rows}
    if "early-return" in by_name and "no-return" in by_name:
        ratio = by_name["early-return"]["zor"] / by_name["no-return"]["zor"]
        print(f"early-return / no-return (Zor): {ratio:.2f}")


# --- The lexer benchmark ---------------------------------------------------------------

def generate(target_bytes, seed=7):
    """The same mixed values as Zor text and as JSON: integers, floats, strings, words
    (strings in JSON) and nested blocks (arrays)."""
    rng = random.Random(seed)
    words = ["alpha", "beta", "gamma", "delta", "item", "value", "name", "count", "x", "y"]
    zor_parts, json_parts, size = [], [], 0

    def value(depth):
        kind = rng.randrange(6 if depth < 3 else 5)
        if kind == 0:
            n = rng.randrange(-1000000, 1000000)
            return str(n), str(n)
        if kind == 1:
            f = round(rng.uniform(-1e4, 1e4), 4)
            text = repr(f)
            return text, text
        if kind == 2:
            s = "".join(rng.choice("abcdefghij klmnop") for _ in range(rng.randrange(1, 16)))
            return '"' + s + '"', json.dumps(s)
        if kind in (3, 4):
            w = rng.choice(words) + str(rng.randrange(100))
            return w, json.dumps(w)
        items = [value(depth + 1) for _ in range(rng.randrange(1, 8))]
        return "[" + " ".join(z for z, _ in items) + "]", "[" + ",".join(j for _, j in items) + "]"

    while size < target_bytes:
        z, j = value(0)
        zor_parts.append(z)
        json_parts.append(j)
        size += len(z) + 1
    return " ".join(zor_parts), "[" + ",".join(json_parts) + "]"


def transcode_table(bench_binary, megabytes, runs):
    zor_text, json_text = generate(megabytes << 20)
    with tempfile.TemporaryDirectory() as folder:
        zor_file = os.path.join(folder, "data.zor")
        with open(zor_file, "w") as f:
            f.write(zor_text)
        python_best = None
        for _ in range(runs):
            start = time.perf_counter()
            json.loads(json_text)
            elapsed = time.perf_counter() - start
            python_best = elapsed if python_best is None else min(python_best, elapsed)
        done = subprocess.run(
            [bench_binary, "--benchmark_filter=transcode/file", "--benchmark_format=json"],
            stdout=subprocess.PIPE, env=dict(os.environ, ZOR_TRANSCODE_FILE=zor_file), check=True)
        result = json.loads(done.stdout)["benchmarks"][0]
        zor_seconds = result["real_time"] / 1e3 if result["time_unit"] == "ms" else result["real_time"] / 1e9
    print(f"transcode of {len(zor_text) / 1e6:.1f} MB: Zor {zor_seconds:.3f} s, "
          f"json.loads of {len(json_text) / 1e6:.1f} MB: {python_best:.3f} s, "
          f"ratio {zor_seconds / python_best:.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("zor")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--transcode-bench")
    parser.add_argument("--transcode-mb", type=int, default=50)
    args = parser.parse_args()
    interpreter_table(args.zor, args.runs)
    if args.transcode_bench:
        transcode_table(args.transcode_bench, args.transcode_mb, args.runs)


if __name__ == "__main__":
    main()
