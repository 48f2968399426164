#!/usr/bin/env python3
"""scripts/windows/wine-run (the Windows tests' emulator) and scripts/windows/test-report, with a
stand-in for Wine and a CTest list written by hand: no Windows build needed."""
import importlib.machinery
import importlib.util
import io
import os
import signal
import stat
import subprocess
import tempfile
import textwrap
import time
import unittest

WINDOWS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "windows")
WINE_RUN = os.path.join(WINDOWS, "wine-run")


def load_report():
    loader = importlib.machinery.SourceFileLoader("test_report", os.path.join(WINDOWS, "test-report"))
    described = importlib.util.spec_from_loader("test_report", loader)
    module = importlib.util.module_from_spec(described)
    loader.exec_module(module)
    return module


report = load_report()

# Prints its arguments and a line on each stream, then does what its first argument says.
FAKE_WINE = textwrap.dedent("""\
    #!/usr/bin/env bash
    echo "ran: $*"
    echo "on stderr" >&2
    case "$2" in
      fail) exit 3 ;;
      hang) echo $$ > "$FAKE_PID"; echo "before the hang"; exec sleep 60 ;;
    esac
    exit 0
""")


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name
        self.wine = os.path.join(self.root, "fake-wine")
        with open(self.wine, "w") as f:
            f.write(FAKE_WINE)
        os.chmod(self.wine, os.stat(self.wine).st_mode | stat.S_IXUSR)
        self.logs = os.path.join(self.root, "logs")
        os.mkdir(self.logs)

    def tearDown(self):
        self.dir.cleanup()

    def env(self, logs=True):
        env = dict(os.environ, LIANBU_WINE=self.wine, FAKE_PID=os.path.join(self.root, "pid"))
        env.pop("LIANBU_WINE_LOG_DIR", None)
        if logs:
            env["LIANBU_WINE_LOG_DIR"] = self.logs
        return env

    def run_wine(self, *args, logs=True):
        return subprocess.run([WINE_RUN, *args], env=self.env(logs), capture_output=True, text=True, timeout=60)

    def read(self, name):
        with open(os.path.join(self.logs, name), encoding="utf-8") as f:
            return f.read()


class WineRun(Scratch):
    def test_output_kept_in_a_file_named_after_the_command(self):
        r = self.run_wine("/b/bin/test_gbk.exe", "ok")
        self.assertEqual(r.returncode, 0)
        # Both streams in the file, and the file copied to the output CTest reads.
        self.assertEqual(self.read("test_gbk-ok.log"), "ran: /b/bin/test_gbk.exe ok\non stderr\n")
        self.assertEqual(r.stdout, "ran: /b/bin/test_gbk.exe ok\non stderr\n")
        # A failing program's code comes through; the same command again gets a file of its own.
        r = self.run_wine("/b/bin/test_gbk.exe", "fail")
        self.assertEqual(r.returncode, 3)
        r = self.run_wine("/b/bin/test_gbk.exe", "fail")
        self.assertEqual(r.returncode, 3)
        self.assertEqual(sorted(os.listdir(self.logs)), ["test_gbk-fail.log", "test_gbk-fail~2.log", "test_gbk-ok.log"])
        # Paths shortened to their last part, other characters replaced, the length bounded.
        r = self.run_wine("/b/bin/test_x.exe", "/c/d/Rurezure3.exe", "两 字", "a" * 300)
        self.assertEqual(r.returncode, 0)
        names = [n for n in os.listdir(self.logs) if n.startswith("test_x")]
        self.assertEqual(len(names), 1)
        self.assertEqual(names[0], ("test_x-Rurezure3.exe-" + "_" * 7 + "-" + "a" * 300)[:120] + ".log")

    def test_without_a_log_folder_it_only_runs_the_program(self):
        r = self.run_wine("/b/bin/test_gbk.exe", "fail", logs=False)
        self.assertEqual(r.returncode, 3)
        self.assertEqual(r.stdout, "ran: /b/bin/test_gbk.exe fail\n")
        self.assertEqual(os.listdir(self.logs), [])
        env = self.env()
        env["LIANBU_WINE_LOG_DIR"] = os.path.join(self.root, "missing")
        r = subprocess.run([WINE_RUN, "x.exe"], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 125)
        self.assertIn("no folder", r.stderr)

    def test_stopped_by_hand_the_program_ends_and_its_output_is_shown(self):
        p = subprocess.Popen([WINE_RUN, "/b/t.exe", "hang"], env=self.env(), stdout=subprocess.PIPE, text=True)
        pid_file = os.path.join(self.root, "pid")
        deadline = time.monotonic() + 30
        while not (os.path.exists(pid_file) and os.path.getsize(pid_file) and "before the hang" in self.read("t-hang.log")):
            self.assertLess(time.monotonic(), deadline, "the stand-in never started")
            time.sleep(0.05)
        with open(pid_file) as f:
            child = int(f.read())
        p.send_signal(signal.SIGTERM)
        out, _ = p.communicate(timeout=30)
        self.assertEqual(p.returncode, 143)
        self.assertIn("before the hang", out)
        # The program did not outlive its runner.
        deadline = time.monotonic() + 10
        while True:
            try:
                with open("/proc/%d/stat" % child) as f:
                    alive = f.read().split(") ", 1)[1][0] != "Z"
            except FileNotFoundError:
                alive = False
            if not alive:
                break
            self.assertLess(time.monotonic(), deadline, "the program still runs")
            time.sleep(0.05)


CTEST_LOG = """\
Test project /b
    Start 1: test_gbk
1/6 Test #1: test_gbk .........................   Passed    3.18 sec
    Start 2: test_login
2/6 Test #2: test_login .......................***Timeout 300.04 sec
    Start 3: test_grid
3/6 Test #3: test_grid ........................Exception: SegFault  0.51 sec
    Start 4: test_twice_a
4/6 Test #4: test_twice_a .....................   Passed    0.20 sec
    Start 5: test_twice_b
5/6 Test #5: test_twice_b .....................***Failed    0.20 sec
    Start 6: a_rather_long_test_name_that_fills_the_whole_column_and_more
6/6 Test #6: a_rather_long_test_name_that_fills_the_whole_column_and_more ...   Passed    0.54 sec

50% tests passed, 3 tests failed out of 6
"""


class TestReport(Scratch):
    def build(self):
        build = os.path.join(self.root, "build")
        os.mkdir(build)
        tests = [("test_gbk", ["/b/bin/test_gbk.exe"]), ("test_login", ["/b/bin/test_login.exe"]),
                 ("test_grid", ["/b/bin/test_grid.exe"]),
                 ("test_twice_a", ["/b/bin/twice.exe", "/x/两.exe"]), ("test_twice_b", ["/b/bin/twice.exe", "/x/两.exe"]),
                 ("a_rather_long_test_name_that_fills_the_whole_column_and_more", ["/b/bin/long.exe"])]
        with open(os.path.join(build, "CTestTestfile.cmake"), "w", encoding="utf-8") as f:
            for name, command in tests:
                f.write('add_test(%s "%s" %s)\n' % (name, WINE_RUN, " ".join('"%s"' % c for c in command)))
        return build, tests

    def test_each_test_found_in_its_file_and_failures_tailed(self):
        build, tests = self.build()
        # The files made by the runner itself, in CTest's order.
        env = self.env()
        for name, command in tests:
            if name == "test_login":
                continue  # killed before it wrote a file
            subprocess.run([WINE_RUN, *command], env=env, capture_output=True, timeout=60)
        with open(os.path.join(self.logs, "test_grid.log"), "a") as f:
            f.write("".join("line %d\n" % i for i in range(100)))
            f.write("Totals: 4 passed, 1 failed, 2 skipped, 0 blacklisted, 10ms\n")
        with open(os.path.join(self.logs, "ctest.log"), "w") as f:
            f.write(CTEST_LOG)
        out = io.StringIO()
        failing = report.report(build, self.logs, out)
        text = out.getvalue()
        self.assertEqual([name for name, _ in failing], ["test_login", "test_grid", "test_twice_b"])
        lines = {line.split()[0]: line for line in text.splitlines() if line.startswith("  ")}
        self.assertIn("Passed", lines["test_gbk"])
        self.assertIn("no output file", lines["test_login"])
        self.assertIn("Exception: SegFault", lines["test_grid"])
        self.assertIn("Totals: 4 passed, 1 failed, 2 skipped", lines["test_grid"])
        self.assertIn("Passed", lines["a_rather_long_test_name_that_fills_the_whole_column_and_more"])
        # The second test of one command has the second file.
        self.assertEqual(dict(failing)["test_twice_b"], os.path.join(self.logs, "twice-___.exe~2.log"))
        self.assertIn("test_login failed and left no output file", text)
        # Only the last lines of a long file, and nothing of a passing test's.
        grid = text[text.index("---- test_grid failed"):]
        self.assertIn("line 99\n", grid)
        self.assertIn("line 61\n", grid)
        self.assertNotIn("line 60\n", grid)
        self.assertNotIn("---- test_gbk", text)

    def test_known_failures_do_not_fail_the_run_but_any_other_does(self):
        known_file = os.path.join(self.root, "known-failures")
        with open(known_file, "w", encoding="utf-8") as f:
            f.write("# comment\n\ntest_login leave-out hangs at its end under Wine\n"
                    "test_grid run draws on a screen Wine lacks\ntest_gbk run was failing\n")
        known = report.known_failures(known_file)
        self.assertEqual(known["test_login"], (False, "hangs at its end under Wine"))
        self.assertEqual(known["test_grid"], (True, "draws on a screen Wine lacks"))
        runs = [("test_gbk", "Passed"), ("test_grid", "Failed"), ("test_twice_b", "Failed")]
        out = io.StringIO()
        self.assertFalse(report.verdict(runs, [("test_grid", None), ("test_twice_b", None)], known, out))
        text = out.getvalue()
        self.assertIn("test_grid failed: draws on a screen Wine lacks", text)
        self.assertIn("test_login not run: hangs at its end under Wine", text)
        self.assertIn("test_gbk passes now", text)
        self.assertIn("FAILED: test_twice_b", text)
        out = io.StringIO()
        self.assertTrue(report.verdict(runs[:2], [("test_grid", None)], known, out))
        self.assertNotIn("FAILED", out.getvalue())
        with open(known_file, "a", encoding="utf-8") as f:
            f.write("test_grid because\n")
        with self.assertRaisesRegex(ValueError, "known-failures:6"):
            report.known_failures(known_file)


if __name__ == "__main__":
    unittest.main()
