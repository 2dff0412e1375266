"""python_bench.py - the Python module against the tool and against NumPy on
one large 16-bit PGM, in the same run; prints a Markdown table.

    python3 bench/python_bench.py GRAYFIX IN16.PGM WORKDIR [RUNS]

Run by bench/run_bench.sh with PYTHONPATH at the module. Jobs: statistics,
median 3x3, MED residuals (on the image reduced to 15 bits, the deepest that
-t:decorrelatemed takes) and downsize 2x. For each: the tool's whole run
(read, statistics twice, transform, write), the module doing the same work
file to file, the module's call alone on an image in memory, and NumPy's
version of the operation where NumPy has one. Each NumPy result is checked
against the module's before it is timed; the median of RUNS runs is shown.
"""

import statistics
import subprocess
import sys
import time
import zlib

import numpy as np

import grayfix


def median_time(function, runs):
    function()  # warms the caches and checks the call works
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def numpy_stats(a):
    """The statistics report's numbers, in NumPy."""
    counts = np.bincount(a.ravel())
    present = np.flatnonzero(counts)
    n = counts[present].astype(np.float64)
    h0 = float(-(n * np.log(n / a.size)).sum() / np.log(2))
    big = a.astype(">u2").tobytes() if a.dtype == np.uint16 else a.tobytes()
    return (int(present[0]), int(present[-1]), len(present), int(np.bitwise_or.reduce(present)),
            h0, zlib.crc32(big), zlib.crc32(big))


def numpy_med(a, depth):
    """MED residuals v - prediction + 2^depth - 1, as -t:decorrelatemed makes them."""
    v = a.astype(np.int32)
    pred = np.zeros_like(v)
    pred[0, 1:] = v[0, :-1]
    pred[1:, 0] = v[:-1, 0]
    left, up, corner = v[1:, :-1], v[:-1, 1:], v[:-1, :-1]
    high, low = np.maximum(left, up), np.minimum(left, up)
    pred[1:, 1:] = np.clip(left + up - corner, low, high)
    return (v - pred + (1 << depth) - 1).astype(np.uint16)


def numpy_downsize(a, times):
    """Means of times x times blocks, rounded half up."""
    h, w = a.shape[0] // times, a.shape[1] // times
    blocks = a[:h * times, :w * times].reshape(h, times, w, times).astype(np.uint32)
    n = times * times
    return ((blocks.sum(axis=(1, 3)) + n // 2) // n).astype(a.dtype)


def main():
    tool, in16, work = sys.argv[1], sys.argv[2], sys.argv[3]
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    in15 = f"{work}/in15.pgm"
    subprocess.run([tool, in16, "-t:reducedepth:15", in15], check=True, capture_output=True)
    out = f"{work}/py_out.pgm"

    def tool_run(path, *switch):
        return lambda: subprocess.run([tool, path, *switch, out], check=True,
                                      stdout=subprocess.DEVNULL)

    def module_run(path, operation):
        def run():
            image = grayfix.read(path)
            grayfix.stats(image)
            result = operation(image) if operation else image
            grayfix.stats(result)
            grayfix.write(result, out)
        return run

    image16, image15 = grayfix.read(in16), grayfix.read(in15)
    a16, a15 = image16.array, image15.array
    rows = []

    def job(name, path, switch, operation, image, numpy_version=None, same=None):
        timings = [("grayfix tool, whole run", median_time(tool_run(path, *switch), runs)),
                   ("module, same run file to file", median_time(module_run(path, operation), runs))]
        call = (lambda: operation(image)) if operation else (lambda: grayfix.stats(image))
        timings.append(("module call in memory", median_time(call, runs)))
        if numpy_version is not None:
            note = "" if same() else " (DIFFERS)"
            timings.append(("NumPy" + note, median_time(numpy_version, runs)))
        base = timings[2][1]
        for label, t in timings:
            rows.append(f"| {name} | {label} | {t:.4f} | {t / base:.2f} |")

    def same_stats():
        s, (low, high, levels, bits, h0, big, byte) = grayfix.stats(image16), numpy_stats(a16)
        return (low, high, levels, bits, big, byte) == (s.min_level, s.max_level, s.num_levels,
                                                         s.bits_used, s.big_endian_crc32,
                                                         s.byte_crc32) \
            and abs(h0 / a16.size - s.h0_bpp) < 1e-9  # summed in another order

    job("statistics", in16, [], None, image16, lambda: numpy_stats(a16), same_stats)
    job("median 3x3", in16, ["-t:denoise:1:0"], lambda i: grayfix.denoise(i, 1, 0), image16)
    job("MED residuals", in15, ["-t:decorrelatemed"], grayfix.decorrelate_med, image15,
        lambda: numpy_med(a15, 15),
        lambda: (numpy_med(a15, 15) == grayfix.decorrelate_med(image15).array).all())
    job("downsize 2x", in16, ["-t:downsize:2"], lambda i: grayfix.downsize(i, 2), image16,
        lambda: numpy_downsize(a16, 2),
        lambda: (numpy_downsize(a16, 2) == grayfix.downsize(image16, 2).array).all())

    h, w = a16.shape
    print(f"Python module (bench/python_bench.py), {w} x {h} 16-bit image, median of {runs} runs;")
    print("ratio = time / the module call in memory. The tool's and the file-to-file rows")
    print("include reading, two statistics passes and writing; MED residuals run on the")
    print("image reduced to 15 bits. NumPy's results are checked against the module's.")
    print()
    print("| job | implementation | median s | ratio |")
    print("|---|---|---:|---:|")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
