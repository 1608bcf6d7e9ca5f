#!/usr/bin/env python3
"""Runs the interpreter benchmarks side by side: each Zor script in this folder against
the same program in Lua 5.4 and Python 3 (when a .lua / .py twin exists), best of
several runs of the whole process, and prints a table of times and ratios. The lexer
benchmark loads a generated file of mixed values with transcode and compares it with
Python's json.loads of the same data written as JSON.

The codec benchmark compresses and decompresses a generated file of mixed text with the
deflate codec (through the same benchmark binary) and with Python's zlib; the file I/O
benchmark reads and writes a large file with Zor's read and write and with Python's.

The start-up table times the whole process on an empty script beside `python3 -c pass`
and `lua5.4 -e ''`.

usage: run.py ZOR_BINARY [--runs N] [--transcode-bench ZOR_BENCH_BINARY] [--transcode-mb MB]
              [--deflate-mb MB] [--io-mb MB]
"""
import argparse
import json
import zlib
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


# --- The deflate codec and file I/O ---------------------------------------------------

def mixed_text(target_bytes, seed=1951):
    """Prose, code, numbers and markup, as a text file of mixed content looks."""
    rng = random.Random(seed)
    words = ("the of and to in is that for it as with was on be by this are or from at an which "
             "value block series print func word context error string binary file read write "
             "compress decompress length index head tail append insert").split()
    parts, size = [], 0
    while size < target_bytes:
        kind = rng.randrange(4)
        if kind == 0:
            line = " ".join(rng.choice(words) for _ in range(rng.randrange(4, 16))).capitalize() + "."
        elif kind == 1:
            line = f"    {rng.choice(words)}: {rng.choice(words)} {rng.randrange(100000)} [{rng.choice(words)}]"
        elif kind == 2:
            line = ",".join(str(rng.randrange(-10**6, 10**6)) for _ in range(rng.randrange(3, 12)))
        else:
            line = f"<{rng.choice(words)} id=\"{rng.randrange(10**4)}\">{rng.choice(words)}</{rng.choice(words)}>"
        parts.append(line)
        size += len(line) + 1
    return ("\n".join(parts) + "\n").encode()[:target_bytes]


def python_best(action, runs):
    best = None
    for _ in range(runs):
        start = time.perf_counter()
        action()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def zor_bench_seconds(bench_binary, name_filter, env):
    done = subprocess.run([bench_binary, f"--benchmark_filter={name_filter}", "--benchmark_format=json"],
                          stdout=subprocess.PIPE, env=dict(os.environ, **env), check=True)
    results = {}
    for result in json.loads(done.stdout)["benchmarks"]:
        scale = 1e3 if result["time_unit"] == "ms" else 1e9
        results[result["name"].split("/iterations")[0]] = (result["real_time"] / scale, result)
    return results


def deflate_table(bench_binary, megabytes, runs):
    text = mixed_text(megabytes << 20)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "mixed.txt")
        with open(path, "wb") as f:
            f.write(text)
        level6 = zlib.compress(text, 6)
        with open(path + ".z", "wb") as f:
            f.write(level6)
        results = zor_bench_seconds(bench_binary, "deflate/", {"ZOR_DEFLATE_FILE": path})
    level1 = zlib.compress(text, 1)
    py_compress = python_best(lambda: zlib.compress(text, 1), runs)
    py_inflate6 = python_best(lambda: zlib.decompress(level6), runs)
    compress_s, compress_result = results["deflate/compress"]
    own_size = int(compress_result["compressed_bytes"])
    print(f"deflate of {len(text) / 1e6:.1f} MB mixed text:")
    print(f"  compress: Zor {compress_s:.3f} s -> {own_size} bytes; zlib level 1 {py_compress:.3f} s -> "
          f"{len(level1)} bytes; ratio {compress_s / py_compress:.2f}")
    inflate6_s = results["deflate/inflate-zlib-level-6"][0]
    print(f"  decompress zlib level-6 stream: Zor {inflate6_s:.3f} s; zlib {py_inflate6:.3f} s; "
          f"ratio {inflate6_s / py_inflate6:.2f}")
    inflate_own_s = results["deflate/inflate-own"][0]
    print(f"  decompress Zor's own stream: Zor {inflate_own_s:.3f} s")


def io_table(zor, megabytes, runs):
    data = mixed_text(megabytes << 20, seed=3)
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "source.bin")
        copy = os.path.join(folder, "copy.bin")
        with open(source, "wb") as f:
            f.write(data)
        script = os.path.join(folder, "io.zor")
        with open(script, "w") as f:
            f.write(f"Zor []\ndata: read/binary %{source}\nwrite %{copy} data\nprint length? data\n")
        twin = os.path.join(folder, "io.py")
        with open(twin, "w") as f:
            f.write(f"data = open({source!r}, 'rb').read()\nopen({copy!r}, 'wb').write(data)\nprint(len(data))\n")
        zor_s, zor_out = best_time([zor, script], runs)
        py_s, py_out = best_time([sys.executable, twin], runs)
        if zor_out != py_out:
            sys.exit(f"file I/O: Zor printed {zor_out}, Python printed {py_out}")
        text_script = os.path.join(folder, "io-text.zor")
        with open(text_script, "w") as f:
            f.write(f"Zor []\ndata: read %{source}\nwrite %{copy} data\nprint length? data\n")
        text_twin = os.path.join(folder, "io-text.py")
        with open(text_twin, "w") as f:
            f.write(f"data = open({source!r}, encoding='utf-8', newline=None).read()\n"
                    f"open({copy!r}, 'w', encoding='utf-8', newline='\\n').write(data)\nprint(len(data))\n")
        zor_text_s, _ = best_time([zor, text_script], runs)
        py_text_s, _ = best_time([sys.executable, text_twin], runs)
    print(f"read and write of a {len(data) / 1e6:.0f} MB file (whole processes):")
    print(f"  binary: Zor {zor_s:.3f} s; Python {py_s:.3f} s; ratio {zor_s / py_s:.2f}")
    print(f"  text:   Zor {zor_text_s:.3f} s; Python {py_text_s:.3f} s; ratio {zor_text_s / py_text_s:.2f}")


STARTUP_GOAL_MS = 15.0


def startup_table(zor, runs):
    """The whole process's wall time from start to exit, with the boot environment
    installed and an empty script to run, beside Python's and Lua's empty runs. The
    three run in turn, so that the machine's load weighs on each alike; best of runs."""
    with tempfile.TemporaryDirectory() as folder:
        empty = os.path.join(folder, "empty.zor")
        with open(empty, "w") as f:
            f.write("Zor []\n")
        commands = [("Zor", [zor, empty]), ("Python", [sys.executable, "-c", "pass"])]
        lua = shutil.which("lua5.4")
        if lua:
            commands.append(("Lua", [lua, "-e", ""]))
        best = {}
        for _ in range(runs):
            for name, command in commands:
                t, _ = best_time(command, 1)
                best[name] = min(best.get(name, t), t)
    print()
    print("start-up, empty script (best of %d):" % runs)
    for name, _ in commands:
        print(f"  {name:<8}{best[name] * 1000:>8.1f} ms")
    verdict = "within" if best["Zor"] * 1000 <= STARTUP_GOAL_MS else "over"
    print(f"  Zor is {verdict} the {STARTUP_GOAL_MS:.0f} ms goal")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("zor")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--transcode-bench")
    parser.add_argument("--transcode-mb", type=int, default=50)
    parser.add_argument("--deflate-mb", type=int, default=50)
    parser.add_argument("--io-mb", type=int, default=200)
    parser.add_argument("--only", choices=["startup", "interpreter", "transcode", "deflate", "io"])
    args = parser.parse_args()
    if args.only in (None, "startup"):
        startup_table(args.zor, max(args.runs, 20))
    if args.only in (None, "interpreter"):
        interpreter_table(args.zor, args.runs)
    if args.transcode_bench and args.only in (None, "transcode"):
        transcode_table(args.transcode_bench, args.transcode_mb, args.runs)
    if args.transcode_bench and args.only in (None, "deflate"):
        deflate_table(args.transcode_bench, args.deflate_mb, args.runs)
    if args.only in (None, "io"):
        io_table(args.zor, args.io_mb, args.runs)


if __name__ == "__main__":
    main()
