"""The Windows programs under Wine, against the Linux chip emulator.

The emulator plays the chip on a pseudo-terminal; COM1 of the build's Wine
prefix (its dosdevices/com1) points at it, so the Windows programs open
\\\\.\\COM1 as they would on a PC. scripts/test-windows runs this with
QAV7120_WINDOWS_BIN (build-windows/bin) and QAV7120_EMULATOR.
"""

import os
import pathlib
import re
import signal
import subprocess
import threading
import time
import xml.etree.ElementTree as ET

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BIN = pathlib.Path(os.environ.get("QAV7120_WINDOWS_BIN", ROOT / "build-windows" / "bin"))
EMULATOR = os.environ.get("QAV7120_EMULATOR", str(ROOT / "build" / "bin" / "qav7120-emulator"))
WINE_RUN = str(ROOT / "scripts" / "wine-run")
PREFIX = BIN.parent / "wine"
ENV = dict(os.environ, WINEPREFIX=str(PREFIX))

STOP_ENTRY = "发出一帧，字节数  4\r\n----> FD 00 01 02 \r\n"
# The first crash step: "[d][g1][s10] 1- 1- 1[g0][d]", CR LF, two line
# breaks, then the text of 死机测试文本01.txt, "测试01".
FIRST_CRASH_STEP = ("----> FD 00 29 01 01 5B 64 5D 5B 67 31 5D 5B 73 31 30 5D 20 31 2D 20 31"
                    " 2D 20 31 5B 67 30 5D 5B 64 5D 0D 0A 0D 0A 0D 0A B2 E2 CA D4 30 31 ")


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def result_line(i):
    return "循环序号： {}    文本序号： {}    控制标记序号： {}".format(
        i // 140 + 1, i // 14 % 10 + 1, i % 14 + 1)


class Chip:
    """The emulator in a folder, its trace collected line by line."""

    def __init__(self, folder, faults=()):
        self.lines = []
        self.process = subprocess.Popen(
            [EMULATOR, "--dir", str(folder), "--time-scale", "50", *faults],
            stdout=subprocess.PIPE, text=True, encoding="utf-8")
        threading.Thread(target=self._collect, daemon=True).start()

    def _collect(self):
        for line in self.process.stdout:
            self.lines.append(line.rstrip("\n"))

    def wait_for(self, pattern, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(re.search(pattern, line) for line in self.lines):
                return True
            time.sleep(0.1)
        return False


@pytest.fixture
def bench(tmp_path):
    """A working folder with the ten crash texts, the chip on Wine's COM1."""
    yield from serve_chip(tmp_path)


@pytest.fixture
def hanging_bench(tmp_path):
    """As bench, with a chip that hangs at its third text and is back 9 s later."""
    yield from serve_chip(tmp_path, ["--hang-after", "3", "--recover-after", "9"])


def serve_chip(tmp_path, faults=()):
    for i in range(1, 11):
        text = "测试{:02d}".format(i)
        (tmp_path / "死机测试文本{:02d}.txt".format(i)).write_bytes(text.encode("gbk"))
    chip = Chip(tmp_path, faults)
    try:
        deadline = time.monotonic() + 10
        while not (tmp_path / "COM1").is_symlink():
            assert chip.process.poll() is None and time.monotonic() < deadline, \
                "the emulator did not start"
            time.sleep(0.05)
        # The prefix exists once CTest has run a program in it.
        subprocess.run([WINE_RUN, "cmd", "/c", "exit"], env=ENV, check=True, timeout=300)
        com1 = PREFIX / "dosdevices" / "com1"
        if com1.is_symlink() or com1.exists():
            com1.unlink()
        com1.symlink_to(os.readlink(tmp_path / "COM1"))
        yield tmp_path, chip
    finally:
        chip.process.terminate()
        chip.process.wait(timeout=10)


def test_crash_test_through_com1(bench):
    folder, _ = bench
    result = subprocess.run(
        [WINE_RUN, str(BIN / "qav7120-run.exe"), "crash-test", "--port", "COM1",
         "--dir", windows_path(folder), "--duration", "20s", "--junit", "out.xml", "--quiet"],
        cwd=folder, env=ENV, capture_output=True, timeout=300)
    assert result.returncode == 0, (result.stdout + result.stderr).decode("utf-8", "replace")

    # The window's result lines for the same steps, in GBK.
    results = (folder / "死机测试文本-测试结果.txt").read_bytes().decode("gbk").split("\r\n")
    assert results.pop() == ""
    assert len(results) >= 15
    assert results == [result_line(i) for i in range(len(results))]

    # LOG.txt: the run's block, its first frame the first step, the stop last.
    log = (folder / "LOG.txt").read_bytes().decode("gbk")
    assert log.startswith("导出数据\r\n")
    assert log.split("\r\n")[2] == FIRST_CRASH_STEP
    assert log.endswith(STOP_ENTRY + "\r\n")
    texts = [line for line in log.split("\r\n")
             if re.match(r"----> FD [0-9A-F]{2} [0-9A-F]{2} 01 01 ", line)]
    assert len(texts) == len(results)
    assert not list(folder.glob("LOG-journal-*"))

    suite = ET.parse(folder / "out.xml").getroot().find("testsuite")
    cases = [case.get("name") for case in suite.findall("testcase")]
    assert cases == ["循环 {} 文本 {}".format(i // 140 + 1, i // 14 % 10 + 1)
                     for i in range(0, len(results), 14)]
    assert suite.get("failures") == "0"
    properties = {p.get("name"): p.get("value") for p in suite.iter("property")}
    assert properties["steps"] == str(len(results))
    assert properties["hangs"] == "0"
    assert properties["port"] == "COM1"
    assert properties["baud"] == "9600"


def test_console_speaks_through_com1(bench):
    """The console, offscreen, speaks a text in BIG5 as an engineer would."""
    folder, chip = bench
    console = subprocess.Popen(
        [WINE_RUN, str(BIN / "qav7120-console.exe"), "-platform", "offscreen",
         "-plugin", "qavdriver"],
        cwd=folder, env=dict(ENV, QAV_DRIVER_BIG5="欢迎光临"),
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        # 欢迎光临 goes out as BIG5 歡迎光臨 (C5 77 AA EF A5 FA C1 7B).
        assert chip.wait_for(r'01 synthesise BIG5 "歡迎光臨"', 120), "\n".join(chip.lines)
        frame = "----> FD 00 0A 01 02 C5 77 AA EF A5 FA C1 7B \r\n"
        deadline = time.monotonic() + 30
        journal = b""
        while time.monotonic() < deadline and frame.encode("gbk") not in journal:
            journal = b"".join(p.read_bytes() for p in folder.glob("LOG-journal-*.txt"))
            time.sleep(0.1)
        assert "发出一帧，字节数  13\r\n" + frame in journal.decode("gbk")
    finally:
        subprocess.run(["wineserver", "-k"], env=ENV)
        console.wait(timeout=30)


def test_pulled_port_is_reopened(bench):
    """The chip's port goes away mid-run and comes back under the same name."""
    folder, chip = bench
    run = subprocess.Popen(
        [WINE_RUN, str(BIN / "qav7120-run.exe"), "crash-test", "--port", "COM1",
         "--dir", windows_path(folder), "--duration", "25s", "--quiet"],
        cwd=folder, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    results = folder / "死机测试文本-测试结果.txt"
    deadline = time.monotonic() + 120
    while not (results.exists() and results.read_bytes().count(b"\r\n") >= 3):
        assert run.poll() is None and time.monotonic() < deadline, "the run did not start"
        time.sleep(0.1)
    # The emulator ends: its pseudo-terminal goes, as a pulled adapter would.
    chip.process.terminate()
    chip.process.wait(timeout=10)
    (folder / "COM1").unlink(missing_ok=True)
    journal = next(folder.glob("LOG-journal-*.txt"))
    deadline = time.monotonic() + 30
    while "串口COM1已断开：" not in journal.read_bytes().decode("gbk", "replace"):
        assert time.monotonic() < deadline, "the lost port was not noticed"
        time.sleep(0.1)
    again = Chip(folder)
    try:
        deadline = time.monotonic() + 10
        while not (folder / "COM1").is_symlink():
            assert time.monotonic() < deadline, "the emulator did not start again"
            time.sleep(0.05)
        com1 = PREFIX / "dosdevices" / "com1"
        com1.unlink()
        com1.symlink_to(os.readlink(folder / "COM1"))
        out, err = run.communicate(timeout=180)
        assert run.returncode == 0, (out + err).decode("utf-8", "replace")
        log = (folder / "LOG.txt").read_bytes().decode("gbk").split("\r\n")
        lost = [line for line in log if line.startswith("串口COM1已断开：")]
        assert len(lost) == 1 and len(lost[0]) > len("串口COM1已断开："), log
        assert log.count("串口COM1已重新打开") == 1
    finally:
        again.process.terminate()
        again.process.wait(timeout=10)


def test_ctrl_c_ends_the_run(bench):
    """Ctrl+C (Wine turns SIGINT into the console's Ctrl+C event) ends the run
    as SIGINT does on Linux: the stop goes out, LOG.txt gets the log, 130."""
    folder, _ = bench
    run = subprocess.Popen(
        [WINE_RUN, str(BIN / "qav7120-run.exe"), "crash-test", "--port", "COM1",
         "--duration", "10m", "--quiet"],
        cwd=folder, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    results = folder / "死机测试文本-测试结果.txt"
    deadline = time.monotonic() + 120
    while not (results.exists() and results.read_bytes().count(b"\r\n") >= 3):
        assert run.poll() is None and time.monotonic() < deadline, "the run did not start"
        time.sleep(0.1)
    run.send_signal(signal.SIGINT)
    out, err = run.communicate(timeout=60)
    assert run.returncode == 130, (out + err).decode("utf-8", "replace")
    assert "qav7120-run: stopped by SIGINT" in err.decode("utf-8", "replace")
    assert (folder / "LOG.txt").read_bytes().decode("gbk").endswith(STOP_ENTRY + "\r\n")


def test_on_hang_and_resume(hanging_bench):
    """--on-hang runs its command through cmd at the verdict and at the
    recovery; --resume then goes on after the last step, the hang counted."""
    folder, _ = hanging_bench
    first = subprocess.run(
        [WINE_RUN, str(BIN / "qav7120-run.exe"), "crash-test", "--port", "COM1",
         "--duration", "16s", "--silence", "0.5", "--quiet", "--on-hang",
         "echo %QAV7120_EVENT% %QAV7120_STEP% %QAV7120_PORT%>> events.txt"],
        cwd=folder, env=ENV, capture_output=True, timeout=300)
    assert first.returncode == 1, (first.stdout + first.stderr).decode("utf-8", "replace")
    # A hang at the third text, its recovery, and again three texts later
    # when the run lasts long enough: once per event, in turn.
    events = (folder / "events.txt").read_text().splitlines()
    assert events[:2] == ["hang 3 COM1", "recovered 3 COM1"], events
    assert all(re.fullmatch(("hang" if i % 2 == 0 else "recovered") + r" \d+ COM1", event)
               for i, event in enumerate(events)), events

    path = folder / "死机测试文本-测试结果.txt"
    before = path.read_bytes().decode("gbk").split("\r\n")
    assert before.pop() == ""
    again = subprocess.run(
        [WINE_RUN, str(BIN / "qav7120-run.exe"), "crash-test", "--port", "COM1",
         "--duration", "3s", "--resume", "--quiet"],
        cwd=folder, env=ENV, capture_output=True, timeout=300)
    assert again.returncode == 1, (again.stdout + again.stderr).decode("utf-8", "replace")
    after = path.read_bytes().decode("gbk").split("\r\n")
    assert after.pop() == ""
    assert after[:len(before)] == before and len(after) > len(before)
    steps = [line for line in after if line.startswith("循环序号")]
    assert steps == [result_line(i) for i in range(len(steps))]
    verdicts = [line for line in after if not line.startswith("循环序号")]
    assert [line.split("：")[0] for line in verdicts] == \
        ["芯片死机" if i % 2 == 0 else "芯片已恢复" for i in range(len(verdicts))]
    assert len(verdicts) >= len(events)
    hangs = sum(1 for line in verdicts if line.startswith("芯片死机"))
    out = again.stdout.decode("utf-8").replace("\r\n", "\n")
    last_step = [line for line in before if line.startswith("循环序号")][-1]
    assert "resumed after: " + last_step + "\n" in out, out
    assert "\nhangs: {}\n".format(hangs) in out, out
