# test_grayfix.py - the Python module against the built tool: every switch on
# the same images, byte for byte; refusals as grayfix.Error; threads; memory
# after failing calls; the README's Python example.
# Run by ctest with PYTHONPATH at the module and GRAYFIX_BIN at the tool.

import os
import re
import subprocess
import threading
from pathlib import Path

import numpy as np
import pytest

import grayfix

TOOL = os.environ.get("GRAYFIX_BIN", "grayfix")
README = Path(__file__).resolve().parents[2] / "README.md"


def pgm_bytes(pixels, maxval):
    """A PGM P5 file written here, independently of the module's writer."""
    order = ">u2" if maxval > 255 else "u1"
    header = b"P5\n%d %d\n%d\n" % (pixels.shape[1], pixels.shape[0], maxval)
    return header + pixels.astype(order).tobytes()


def smooth(rng, height, width, maxval):
    """Gradients plus noise and a few extremes: every transform has work to do."""
    y, x = np.mgrid[0:height, 0:width]
    base = (x * 7 + y * 5) * maxval // (7 * width + 5 * height)
    noisy = base + rng.integers(-maxval // 8 - 1, maxval // 8 + 2, size=base.shape)
    noisy[::5, ::3] = maxval
    noisy[2::7, 1::4] = 0
    return np.clip(noisy, 0, maxval).astype(np.uint16)


# name: (pixels, maxval, file name, input switches, Image() keywords)
def make_inputs():
    rng = np.random.default_rng(19)
    p8 = smooth(rng, 17, 23, 255).astype(np.uint8)
    p16 = smooth(rng, 13, 19, 65535)
    podd = smooth(rng, 11, 14, 1000)
    p1 = (rng.random((9, 21)) < 0.4).astype(np.uint8)
    ple = smooth(rng, 12, 10, 4095)
    return {
        "8bit": (p8, 255, "in8.pgm", [], {}),
        "16bit": (p16, 65535, "in16.pgm", [], {}),
        "maxval1000": (podd, 1000, "odd.pgm", [], {"maxval": 1000}),
        "1bit": (p1, 1, "in1.pgm", [], {"depth": 1}),
        "rawLittle12": (ple, 4095, "le.raw", ["-i:RAW:10:12:12", "-i:endian:Little"],
                        {"depth": 12, "big_endian": False}),
    }


INPUTS = make_inputs()


@pytest.fixture(scope="module")
def workdir(tmp_path_factory):
    d = tmp_path_factory.mktemp("files")
    for pixels, maxval, name, switches, _ in INPUTS.values():
        if name.endswith(".raw"):
            (d / name).write_bytes(pixels.astype("<u2").tobytes())
        else:
            (d / name).write_bytes(pgm_bytes(pixels, maxval))
    (d / "ref6.pgm").write_bytes(b"P5\n1 1\n63\n\x00")
    (d / "key.bin").write_bytes(bytes([0x5A, 0xC3, 0x0F]))
    (d / "empty.bin").write_bytes(b"")
    (d / "bad.pgm").write_bytes(b"P6\n1 1\n255\n\x00")
    return d


def run_tool(workdir, args):
    out = workdir / "out.raw"
    if out.exists():
        out.unlink()
    r = subprocess.run([TOOL, *args, "-o:RAW", str(out)], cwd=workdir, capture_output=True)
    return r.returncode, r.stdout.decode("latin-1"), r.stderr.decode("latin-1"), \
        out.read_bytes() if out.exists() else None


def stats_text(block):
    """The three lines of a statistics block, from the tool's output after its label."""
    return "Actual minLevel:" + re.match(r".*?BYTE CRC32: 0x[0-9a-f]{8}", block, re.S).group(0)


def tool_refusal(stderr):
    """The message a refusal shows, in the module's form."""
    if stderr.startswith("\ngrayfix ERROR: "):
        return stderr[len("\ngrayfix ERROR: "):]
    m = re.fullmatch(r"grayfix: [^:]+:\d+: check failed: (.*)\n", stderr)
    assert m, stderr
    return "check failed: " + m.group(1)


G = grayfix
# (switch, the same through its function); {dir} is the files' directory.
SWITCHES = [
    ("-t:soften:1:8:1", lambda i, d: G.soften(i, 1, 8, 1)),
    ("-t:soften:2:1:-1", lambda i, d: G.soften(i, 2, 1, -1)),
    ("-t:softensquared:1:4:1", lambda i, d: G.soften_squared(i, 1, 4, 1)),
    ("-t:soften:0:8:1", lambda i, d: G.soften(i, 0, 8, 1)),
    ("-t:noise:30", lambda i, d: G.noise(i, 30)),
    ("-t:addnoise:40", lambda i, d: G.add_noise(i, 40)),
    ("-t:spnoise:20", lambda i, d: G.sp_noise(i, 20)),
    ("-t:noise:101", lambda i, d: G.noise(i, 101)),
    ("-t:wgnoise:0.0001", lambda i, d: G.wg_noise(i, 0.0001)),
    ("-t:wgnoise:0", lambda i, d: G.wg_noise(i, 0)),
    ("-t:denoise:1:0", lambda i, d: G.denoise(i, 1, 0)),
    ("-t:denoise:2:1", lambda i, d: G.denoise(i, 2, 1)),
    ("-t:denoise:1:2", lambda i, d: G.denoise(i, 1, 2)),
    ("-t:denoise:3:3", lambda i, d: G.denoise(i, 3, 3)),
    ("-t:denoise:0:0", lambda i, d: G.denoise(i, 0, 0)),
    ("-t:denoise:1:4", lambda i, d: G.denoise(i, 1, 4)),
    ("-t:downsize:2", lambda i, d: G.downsize(i, 2)),
    ("-t:downsize:3", lambda i, d: G.downsize(i, 3)),
    ("-t:crop:1:2:5:4", lambda i, d: G.crop(i, 1, 2, 5, 4)),
    ("-t:crop:0:0:99:1", lambda i, d: G.crop(i, 0, 0, 99, 1)),
    ("-t:reducedepth:5", lambda i, d: G.reduce_depth(i, 5)),
    ("-t:cropdepth:7", lambda i, d: G.crop_depth(i, 7)),
    ("-t:cropclipdepth:4", lambda i, d: G.crop_clip_depth(i, 4)),
    ("-t:cropdepthlike:{dir}/ref6.pgm", lambda i, d: G.crop_depth_like(i, d / "ref6.pgm")),
    ("-t:cropdepthlike:{dir}/bad.pgm", lambda i, d: G.crop_depth_like(i, f"{d}/bad.pgm")),
    ("-t:increasedepth:16:1", lambda i, d: G.increase_depth(i, 16, 1)),
    ("-t:increasedepth:12:0", lambda i, d: G.increase_depth(i, 12, 0)),
    ("-t:decorrelate", lambda i, d: G.decorrelate(i)),
    ("-t:correlate", lambda i, d: G.correlate(i)),
    ("-t:decorrelatemed", lambda i, d: G.decorrelate_med(i)),
    ("-t:correlatemed", lambda i, d: G.correlate_med(i)),
    ("-t:negendian", lambda i, d: G.neg_endian(i)),
    ("-t:xorfile:{dir}/key.bin", lambda i, d: G.xor_file(i, d / "key.bin")),
    ("-t:xorfile:{dir}/empty.bin", lambda i, d: G.xor_file(i, d / "empty.bin")),
    ("-t:Negendian", lambda i, d: G.apply(i, "-t:Negendian")),
]


@pytest.mark.parametrize("switch,function", SWITCHES, ids=[s for s, _ in SWITCHES])
@pytest.mark.parametrize("name", INPUTS)
def test_switch_matches_the_tool(workdir, name, switch, function):
    pixels, maxval, file, switches, keywords = INPUTS[name]
    switch = switch.format(dir=workdir)
    status, out, err, written = run_tool(workdir, [*switches, file, switch])

    image = grayfix.read(workdir / file, *switches)
    assert image == grayfix.Image(pixels, **keywords)
    blocks = out.split("\n\nActual minLevel:")
    assert str(grayfix.stats(image)) == stats_text(blocks[1])

    for call in (lambda: grayfix.apply(image, switch), lambda: function(image, workdir)):
        before = image.tobytes()
        if status != 0:
            with pytest.raises(grayfix.Error) as caught:
                call()
            assert (caught.value.status, str(caught.value)) == (status, tool_refusal(err))
        else:
            result = call()
            assert result.tobytes() == written
            assert str(grayfix.stats(result)) == stats_text(blocks[2])
            # Between the two statistics: a line end, then the transform's report.
            assert blocks[1][len(stats_text(blocks[1])) - len("Actual minLevel:"):] == \
                "\n\n" + result.message
            # The description the tool writes back in its output block.
            assert f"\n\tImgImageWidth:  {result.width}\n\tImgImageHeight: {result.height}" \
                f"\n\tImgBYTEpp:      {result.bytes_per_pixel}\n\tImgbpp:         {result.depth}" \
                f"\n\tImgLevelMax:    {result.maxval}\n\tImgBigEndian:   {int(result.big_endian)}" in \
                blocks[2]
        assert image.tobytes() == before


def test_image_round_trips_arrays_and_files(tmp_path):
    rng = np.random.default_rng(5)
    wide = rng.integers(0, 4096, size=(30, 40), dtype=np.uint16)
    for array in (wide, wide[::2, ::-3], wide.astype(">u2"), np.asfortranarray(wide)):
        for big in (True, False):
            image = grayfix.Image(array, depth=12, big_endian=big)
            assert image.array.dtype == np.uint16 and (image.array == array).all()
            assert image.tobytes() == array.astype(">u2" if big else "<u2").tobytes()
            grayfix.write(image, tmp_path / "a.raw", raw=True)
            assert (tmp_path / "a.raw").read_bytes() == image.tobytes()
    narrow = grayfix.Image(wide[:3, :4] % 200, maxval=200)
    assert (narrow.depth, narrow.bytes_per_pixel, narrow.array.dtype) == (8, 1, np.uint8)
    grayfix.write(narrow, tmp_path / "n.pgm")
    assert (tmp_path / "n.pgm").read_bytes() == pgm_bytes(wide[:3, :4] % 200, 200)
    assert grayfix.read(tmp_path / "n.pgm") == narrow
    assert grayfix.read(tmp_path / "a.raw", width=40, height=30, depth=12, big_endian=False).array \
        .tolist() == wide.tolist()
    with pytest.raises(ValueError):
        narrow.array[0, 0] = 1  # images never change


def test_refusals_and_types(tmp_path):
    image = grayfix.Image(np.arange(12, dtype=np.uint8).reshape(3, 4))
    cases = [
        (lambda: grayfix.Image(np.array([[0, 256]], np.uint16), depth=8), 8,
         "check failed: value <= ImgLevelMax && value >= 0"),
        (lambda: grayfix.Image(np.zeros((2, 2), np.uint8), depth=17), 1, None),
        (lambda: grayfix.read(tmp_path / "missing.pgm"), 2, "ReadPgm: Cannot open input"),
        (lambda: grayfix.read(tmp_path / "missing.raw", width=2, height=2), 2,
         "ReadRaw: Cannot open input"),
        (lambda: grayfix.read("x", width=0, height=2), 8,
         "check failed: ImgImageWidth>0 && ImgImageHeight>0 && Imgbpp>0 && Imgbpp <= 16 && ImgRawSkip >= 0"),
        (lambda: grayfix.read("x", "-i:endian:little"), 1, "Bad switch -i:"),
        (lambda: grayfix.write(image, tmp_path / "no" / "dir.pgm"), 4,
         "WriteImage: Error openning output file"),
        (lambda: grayfix.denoise(image, 2**40, 0), 1, "Bad -t:denoise:radius:mode"),
        (lambda: grayfix.crop(image, 0, 0, 5, 1), 1, "Bad -t:crop:x0:y0:width:height"),
    ]
    for call, status, message in cases:
        with pytest.raises(grayfix.Error) as caught:
            call()
        assert isinstance(caught.value, ValueError) and caught.value.status == status
        assert message is None or str(caught.value) == message
    for call in (lambda: grayfix.denoise(image, 1.0, 0), lambda: grayfix.denoise(image, "1", 0),
                 lambda: grayfix.stats(np.zeros((2, 2), np.uint8)),
                 lambda: grayfix.Image(np.zeros((2, 2), np.int16)),
                 lambda: grayfix.wg_noise(image, "2")):
        with pytest.raises(TypeError):
            call()
    assert grayfix.denoise(image, np.int64(1), 0) == grayfix.denoise(image, 1, 0)


def test_seeded_white_noise_reruns():
    image = grayfix.Image(np.full((40, 50), 30000, np.uint16))
    first = grayfix.wg_noise(image, 800.0, seed=12345)
    assert first == grayfix.wg_noise(image, 800.0, seed=12345)
    assert first == grayfix.apply(image, "-t:wgnoise:800", seed=12345)
    assert first != grayfix.wg_noise(image, 800.0, seed=12346)
    assert first.message == "White Gaussian moise (deviation 800) added."
    assert 500 < first.array.astype(float).std() < 1100


def test_threads_give_the_sequential_results():
    rng = np.random.default_rng(3)
    images = [grayfix.Image(rng.integers(0, 4096, size=(64 + k, 80), dtype=np.uint16), depth=12)
              for k in range(6)]
    jobs = [lambda i: grayfix.denoise(i, 2, 0), lambda i: grayfix.decorrelate_med(i),
            lambda i: grayfix.soften(i, 1, 4, 1), lambda i: grayfix.downsize(i, 3),
            lambda i: grayfix.stats(i), lambda i: grayfix.noise(i, 25)]
    expected = [[job(i) for job in jobs] for i in images]
    results = [None] * len(images)

    def work(k):
        results[k] = [job(images[k]) for _ in range(5) for job in jobs][-len(jobs):]

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(images))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == expected


def resident_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def test_failing_calls_leave_memory_where_it_was(workdir):
    image = grayfix.Image(smooth(np.random.default_rng(1), 64, 64, 255).astype(np.uint8))
    failing = [
        lambda: grayfix.apply(image, "-t:soften:1:8:1:x"),
        lambda: grayfix.denoise(image, 0, 0),
        lambda: grayfix.denoise(image, 1, 7),
        lambda: grayfix.xor_file(image, workdir / "empty.bin"),
        lambda: grayfix.crop_depth(image, 3),
        lambda: grayfix.crop_depth_like(image, workdir / "bad.pgm"),
        lambda: grayfix.read(workdir / "bad.pgm"),
        lambda: grayfix.read(workdir / "in8.pgm", width=500, height=500, depth=8),
        lambda: grayfix.write(image, workdir / "no" / "such.pgm"),
        lambda: grayfix.Image(np.full((64, 64), 9, np.uint8), depth=3),
    ]

    def loop(count):
        for k in range(count):
            with pytest.raises(grayfix.Error):
                failing[k % len(failing)]()

    loop(1000)
    before = resident_kib()
    loop(10000)
    assert resident_kib() - before < 1024


def test_readme_example_runs(tmp_path, monkeypatch, capsys):
    text = README.read_text()
    section = text[text.index("\n## From Python"):]
    section = section[:section.find("\n## ", 1)]
    blocks = re.findall(r"```python\n(.*?)```", section, re.S)
    assert blocks
    monkeypatch.chdir(tmp_path)
    for block in blocks:
        exec(compile(block, str(README), "exec"), {})
    assert "H0" in capsys.readouterr().out
