"""qav7120-run on a bench, as a lab's CI job runs it (see docs/hil.md).

On a bench PC, against the chip on its port:

    QAV7120_PORT=/dev/ttyUSB0 QAV7120_DURATION=30m pytest-3 tests/runner/test_qav7120_run.py

Here (CTest), QAV7120_EMULATOR names the chip emulator, which plays the chip
on COM1 in the test's own folder. QAV7120_RUN names the runner; without it
qav7120-run is taken from PATH. The JUnit report is left in the test's
folder; a job that wants it publishes it from there (or passes --junit
itself).
"""

import os
import re
import shutil
import subprocess
import time
import xml.etree.ElementTree as ET

import pytest

RUN = os.environ.get("QAV7120_RUN") or shutil.which("qav7120-run")
PORT = os.environ.get("QAV7120_PORT")
EMULATOR = os.environ.get("QAV7120_EMULATOR")
DURATION = os.environ.get("QAV7120_DURATION", "10s")


def seconds(duration):
    value, unit = re.fullmatch(r"(\d+(?:\.\d+)?)([smh])", duration).groups()
    return float(value) * {"s": 1, "m": 60, "h": 3600}[unit]


@pytest.fixture
def bench(tmp_path):
    """A working folder with the ten crash texts, and the port of the chip."""
    for i in range(1, 11):
        text = "测试{:02d}".format(i)
        (tmp_path / "死机测试文本{:02d}.txt".format(i)).write_bytes(text.encode("gbk"))
    if PORT:
        yield tmp_path, PORT
        return
    if not EMULATOR:
        pytest.skip("no chip: set QAV7120_PORT, or QAV7120_EMULATOR for the emulator")
    chip = subprocess.Popen(
        [EMULATOR, "--dir", str(tmp_path), "--time-scale", "50", "--quiet"],
        stdout=subprocess.DEVNULL,
    )
    try:
        deadline = time.monotonic() + 10
        while not (tmp_path / "COM1").is_symlink():  # the emulator's port is up
            if chip.poll() is not None or time.monotonic() > deadline:
                pytest.fail("the emulator did not start")
            time.sleep(0.05)
        yield tmp_path, "COM1"
    finally:
        chip.terminate()
        chip.wait(timeout=10)


def test_crash_test_without_a_hang(bench):
    assert RUN, "qav7120-run not found: set QAV7120_RUN"
    folder, port = bench
    report = folder / "out.xml"
    result = subprocess.run(
        [RUN, "crash-test", "--port", port, "--dir", str(folder),
         "--duration", DURATION, "--junit", str(report), "--quiet"],
        capture_output=True, text=True, timeout=seconds(DURATION) + 120,
    )
    assert result.returncode == 0, result.stdout + result.stderr

    root = ET.parse(report).getroot()
    assert root.tag == "testsuites"
    suite = root.find("testsuite")
    cases = suite.findall("testcase")
    assert suite.get("tests") == str(len(cases)) and cases
    assert suite.get("failures") == "0"
    assert not list(suite.iter("failure"))
    assert cases[0].get("name") == "循环 1 文本 1"

    results = (folder / "死机测试文本-测试结果.txt").read_bytes().decode("gbk").splitlines()
    assert results[0] == "循环序号： 1    文本序号： 1    控制标记序号： 1"
    properties = {p.get("name"): p.get("value") for p in suite.iter("property")}
    assert properties["steps"] == str(len(results))
    assert properties["hangs"] == "0"
    assert (folder / "LOG.txt").read_bytes().decode("gbk").rstrip().endswith("FD 00 01 02")
