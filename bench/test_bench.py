#!/usr/bin/python3
"""Checks of the benchmark's own meters against processes whose use is known, so that a
figure in the table is never the product of a wrong reading. No Wine needed.

    /usr/bin/python3 -m unittest bench/test_bench.py     (bench/run.sh runs it first)

VELLMARK_BUILD names the build tree whose bench programs the import check reads.
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import measure as bench  # noqa: E402

# A child that allocates and touches 64 MiB when told to, so that its memory is known.
ALLOCATOR = """
import sys
sys.stdin.readline()
block = bytearray(64 * 1024 * 1024)
for i in range(0, len(block), 4096):
    block[i] = 1
print("ready", flush=True)
sys.stdin.readline()
"""

def child(code):
    return subprocess.Popen([sys.executable, "-c", code], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            text=True)


class ProcessMeters(unittest.TestCase):
    def test_memory_counts_what_the_process_touched(self):
        process = child(ALLOCATOR)
        try:
            time.sleep(0.2)
            private_before, resident_before = bench.memory_kib(process.pid)
            process.stdin.write("go\n")
            process.stdin.flush()
            self.assertEqual(process.stdout.readline().strip(), "ready")
            private_after, resident_after = bench.memory_kib(process.pid)
        finally:
            process.stdin.close()
            process.stdout.close()
            process.wait()
        for grown in (private_after - private_before, resident_after - resident_before):
            self.assertGreaterEqual(grown, 64 * 1024 - 256)
            self.assertLess(grown, 64 * 1024 + 8 * 1024)

    def test_cpu_counts_a_busy_worker_thread(self):
        code = """
import sys, threading, time
threading.Thread(target=lambda: [None for _ in iter(int, 1)], daemon=True).start()
sys.stdin.readline()
print(time.process_time(), flush=True)
sys.stdin.readline()
"""
        process = child(code)
        try:
            time.sleep(0.5)
            process.stdin.write("now\n")
            process.stdin.flush()
            own_account = float(process.stdout.readline())
            measured = bench.cpu_seconds(process.pid)
        finally:
            process.stdin.close()
            process.stdout.close()
            process.kill()
            process.wait()
        # The worker keeps burning between the child's own reading and ours, so ours is
        # larger, but only by the few milliseconds between them.
        self.assertGreater(own_account, 0.3)
        self.assertGreaterEqual(measured, own_account - 0.005)
        self.assertLess(measured, own_account + 0.2)

    def test_an_idle_process_uses_almost_nothing(self):
        process = child("import sys; sys.stdin.readline()")
        try:
            time.sleep(0.3)
            before = bench.cpu_seconds(process.pid)
            time.sleep(0.5)
            used = bench.cpu_seconds(process.pid) - before
        finally:
            process.stdin.close()
            process.stdout.close()
            process.wait()
        self.assertGreaterEqual(used, 0)
        self.assertLess(used, 0.002)


class Imports(unittest.TestCase):
    def test_only_windows_own_dlls_count_as_windows(self):
        for name, windows in [("KERNEL32.dll", True), ("msvcrt.dll", True), ("WS2_32.dll", True),
                              ("api-ms-win-crt-runtime-l1-1-0.dll", True), ("winspool.drv", True),
                              ("libstdc++-6.dll", False), ("libgcc_s_seh-1.dll", False),
                              ("libwinpthread-1.dll", False), ("vcruntime140.dll", False),
                              ("kernel32.dll.local", False), ("mykernel32.dll", False)]:
            self.assertEqual(bench.is_windows_dll(name), windows, name)

    def test_the_import_table_of_a_built_program(self):
        build = os.environ.get("VELLMARK_BUILD")
        exe = os.path.join(build or "", "bench", "bench_minimal.exe")
        if not build or not os.path.exists(exe):
            self.skipTest("VELLMARK_BUILD holds no built bench_minimal.exe")
        self.assertEqual(sorted(name.lower() for name in bench.imports(exe)),
                         ["kernel32.dll", "msvcrt.dll", "user32.dll"])
        self.assertEqual(bench.delay_imports(exe), [])
        program = os.path.join(build, "vellmark.exe")
        if os.path.exists(program):
            self.assertEqual(sorted(name.lower() for name in bench.delay_imports(program)),
                             ["comctl32.dll", "shell32.dll", "ws2_32.dll"])

    def test_the_sections_of_a_built_program(self):
        build = os.environ.get("VELLMARK_BUILD")
        exe = os.path.join(build or "", "bench", "bench_minimal.exe")
        if not build or not os.path.exists(exe):
            self.skipTest("VELLMARK_BUILD holds no built bench_minimal.exe")
        found = dict(bench.sections(exe))
        self.assertIn(".text", found)
        self.assertIn(".rsrc", found)
        # Each section is stored whole in the file, rounded up to the file's 512-byte steps.
        stored = sum(-(-length // 512) * 512 for name, length in found.items() if name != ".bss")
        self.assertLess(stored, os.path.getsize(exe))


class Seeding(unittest.TestCase):
    def test_settings_file_keeps_types_and_backslashes(self):
        text = bench.reg_text({"Disk": "C:\\", "Seconds": 30, "Quote": 'say "hi"'})
        lines = text.split("\r\n")
        self.assertEqual(lines[0], "REGEDIT4")
        self.assertEqual(lines[2], "[HKEY_CURRENT_USER\\SoftWare\\Tolvane\\Vellmark]")
        self.assertEqual(lines[3:6], ['"Disk"="C:\\\\"', '"Seconds"=dword:0000001e', '"Quote"="say \\"hi\\""'])


class MailCount(unittest.TestCase):
    def record(self, mails):
        handle, path = tempfile.mkstemp()
        with os.fdopen(handle, "w") as out:
            for rcpts, digest in mails:
                out.write(json.dumps({"from": bench.SENDER, "rcpts": rcpts, "sha256": digest}) + "\n")
        self.addCleanup(os.remove, path)
        return path

    def all_recipients(self, digest="d1"):
        return [([f"bench{i:02d}@example.test"], digest) for i in range(bench.RECIPIENTS, 0, -1)]

    def test_one_mail_to_each_recipient_with_one_content(self):
        first = self.record(self.all_recipients())
        self.assertEqual(bench.check_mails(first, 0, "a", None), (bench.RECIPIENTS, "d1"))
        # The second client's mails are those after the first client's.
        both = self.record(self.all_recipients() + self.all_recipients())
        self.assertEqual(bench.check_mails(both, bench.RECIPIENTS, "b", "d1"), (2 * bench.RECIPIENTS, "d1"))

    def test_lost_doubled_or_different_mails_are_refused(self):
        full = self.all_recipients()
        cases = {
            "one lost": full[1:],
            "one twice": full + full[:1],
            "one twice, another lost": full[1:] + full[1:2],
            "two in one mail": full[2:] + [(full[0][0] + full[1][0], "d1")],
            "one differs": full[1:] + [(full[0][0], "d2")],
        }
        for name, mails in cases.items():
            with self.subTest(name):
                with self.assertRaises(RuntimeError):
                    bench.check_mails(self.record(mails), 0, "a", None)
        with self.assertRaises(RuntimeError):
            bench.check_mails(self.record(full), 0, "b", "d-of-the-other-client")

    def test_a_mail_without_tls_is_refused_where_tls_is_wanted(self):
        one = [["bench01@example.test"]]
        plain = self.record([(one[0], "d1")])
        self.assertEqual(bench.check_mails(plain, 0, "a", None, one), (1, "d1"))
        with self.assertRaises(RuntimeError):
            bench.check_mails(plain, 0, "a", None, one, tls=True)


if __name__ == "__main__":
    unittest.main()
