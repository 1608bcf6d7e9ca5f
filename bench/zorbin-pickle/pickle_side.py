"""The Python side of the ZORBIN benchmark: builds the same mixed structure as
zorbin_compare.cpp (the same generator, the same values), then times pickle.dumps and
pickle.loads on it, best of three, and prints one line: size, dump and load seconds."""
import pickle
import sys
import time

import structure


def best_of(runs, work):
    best = None
    result = None
    for _ in range(runs):
        start = time.perf_counter()
        result = work()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None or elapsed < best else best
    return best, result


def main():
    groups = int(sys.argv[1])
    value = structure.build(groups)
    dump_time, blob = best_of(3, lambda: pickle.dumps(value, protocol=pickle.HIGHEST_PROTOCOL))
    load_time, loaded = best_of(3, lambda: pickle.loads(blob))
    assert len(loaded) == len(value)
    print(f"{len(blob)} {dump_time:.4f} {load_time:.4f}")


if __name__ == "__main__":
    main()
