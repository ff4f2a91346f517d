#!/usr/bin/python3
"""Tarnex against curl and lftp on one loopback FTP server (pyftpdlib), in one run.

Every client runs as its own process, so that wall time, CPU time (user + system of the
reaped process) and peak memory (/usr/bin/time) are measured the same way for all of them. Each figure is the
median of --repeat runs. See bench/README.md.
"""

import argparse
import datetime
import os
import platform
import re
import resource
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HOST = "127.0.0.1"
USER = "bench"
PASSWORD = "bench-pass"
MIB = 1024 * 1024
GIB = 1024 * MIB


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="build folder with bench/tarnex-bench")
    parser.add_argument("--source", required=True, help="the repository")
    parser.add_argument("--work", help="scratch folder (default: /dev/shm when it has room)")
    parser.add_argument("--size-mib", type=int, default=1024, help="size of the big file")
    parser.add_argument("--small-mib", type=int, default=100, help="size of the small file")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--entries", type=int, default=20000, help="files in the listed folder")
    parser.add_argument("--commands", type=int, default=1000, help="NOOPs in one session")
    parser.add_argument("--silent-seconds", type=int, default=10)
    parser.add_argument("--mirror-files", type=int, default=2000,
                        help="files in the mirrored tree (in folders of 100)")
    parser.add_argument("--mirror-kib", type=int, default=4, help="size of each mirrored file")
    parser.add_argument("--mirror-only", action="store_true",
                        help="only the mirror row (a minute instead of ten)")
    parser.add_argument("--markdown", help="also write the table to this file")
    return parser.parse_args()


def scratch_folder(requested, need_bytes):
    if requested:
        os.makedirs(requested, exist_ok=True)
        return tempfile.mkdtemp(prefix="tarnex-bench-", dir=requested)
    for candidate in ("/dev/shm", tempfile.gettempdir()):
        if os.path.isdir(candidate) and shutil.disk_usage(candidate).free > need_bytes:
            return tempfile.mkdtemp(prefix="tarnex-bench-", dir=candidate)
    sys.exit("bench: no folder with %d MiB free" % (need_bytes // MIB))


def make_file(path, size):
    block = os.urandom(MIB)
    with open(path, "wb") as stream:
        left = size
        while left > 0:
            stream.write(block[: min(left, MIB)])
            left -= MIB


class Server:
    """tests/support/ftpd.py on a free loopback port."""

    def __init__(self, source, root, work):
        port_file = os.path.join(work, "ftpd.port")
        self.process = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(source, "tests/support/ftpd.py"), "--port", "0",
             "--root", root, "--user", USER, "--password", PASSWORD, "--port-file", port_file],
            stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not os.path.exists(port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                sys.exit("bench: the FTP server did not start")
            time.sleep(0.05)
        with open(port_file) as stream:
            self.port = int(stream.read())

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()


class SilentServer:
    """Accepts connections on loopback and never says a word."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind((HOST, 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.connections = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.connections.append(connection)

    def stop(self):
        self.listener.close()
        for connection in self.connections:
            connection.close()


def timed(command, work, stdin=None, env=None, limit=600, allowed=(0,)):
    """Runs command: elapsed s (monotonic clock), CPU s (user + system, from the rusage of the
    reaped child), peak RSS KiB (/usr/bin/time, which the command runs under)."""
    times = os.path.join(work, "time.out")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    completed = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", times] + command,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=stdin,
                               env=env, timeout=limit)
    elapsed = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(times) as stream:
        rss_kib = int(stream.read().split()[-1])
    if completed.returncode not in allowed:
        sys.exit("bench: failed (%d): %s\n%s%s" % (completed.returncode, " ".join(command[:3]),
                                                   completed.stdout.decode(errors="replace")[-2000:],
                                                   completed.stderr.decode(errors="replace")[-2000:]))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return {"elapsed": elapsed, "cpu": cpu, "rss_kib": rss_kib,
            "stdout": completed.stdout.decode(errors="replace")}


class Job:
    """One client command to be timed again and again, with what goes before and after."""

    def __init__(self, command, before=None, check=None, env=None, limit=600):
        self.command = command
        self.before = before
        self.check = check
        self.env = env
        self.limit = limit


def interleaved(jobs, work, repeat):
    """Runs every job `repeat` times, round by round (each round in another order), so that a
    slow moment of the machine falls on all clients alike; returns the medians per job."""
    runs = {name: [] for name in jobs}
    names = list(jobs)
    for round_number in range(repeat):
        shift = round_number % len(names)
        for name in names[shift:] + names[:shift]:
            job = jobs[name]
            if job.before:
                job.before()
            result = timed(job.command, work, env=job.env, limit=job.limit)
            if job.check:
                job.check(result)
            runs[name].append(result)
    return {name: {key: statistics.median(run[key] for run in results)
                   for key in ("elapsed", "cpu", "rss_kib")}
            for name, results in runs.items()}


def url(port, path):
    return "ftp://%s:%s@%s:%d/%s" % (USER, PASSWORD, HOST, port, path)


def lftp(port, passive, commands):
    settings = ("set ftp:ssl-allow no; set ftp:prefer-epsv no; set ftp:passive-mode %s; "
                "set xfer:clobber yes; set net:max-retries 1; set cmd:fail-exit yes; "
                % ("yes" if passive else "no"))
    return ["lftp", "-c", settings + "open -u %s,%s -p %d %s; %s" % (USER, PASSWORD, port, HOST,
                                                                       commands)]


def curl(passive):
    return ["curl", "-s", "-S"] + (["--disable-epsv"] if passive else
                                   ["--ftp-port", "-", "--disable-eprt"])


class Bench:
    def __init__(self, arguments):
        self.a = arguments
        self.tarnex = os.path.join(arguments.build, "bench", "tarnex-bench")
        self.runner = os.path.join(arguments.build, "app", "tarnex-run")
        need = 3 * arguments.mirror_files * arguments.mirror_kib * 1024 + 64 * MIB
        if not arguments.mirror_only:
            need += 3 * arguments.size_mib * MIB + 3 * arguments.small_mib * MIB
        self.work = scratch_folder(arguments.work, need)
        self.root = os.path.join(self.work, "root")
        self.local = os.path.join(self.work, "local")
        os.makedirs(self.root)
        os.makedirs(self.local)
        self.rows = []
        self.notes = []

    # -- setup ------------------------------------------------------------------------------
    def prepare(self):
        print("bench: files in %s" % self.work, flush=True)
        self.prepare_mirror()
        if self.a.mirror_only:
            return
        make_file(os.path.join(self.root, "big.bin"), self.a.size_mib * MIB)
        make_file(os.path.join(self.root, "small.bin"), self.a.small_mib * MIB)
        shutil.copy(os.path.join(self.root, "big.bin"), os.path.join(self.local, "big-source.bin"))
        many = os.path.join(self.root, "many")
        os.makedirs(many)
        for index in range(self.a.entries):
            open(os.path.join(many, "file-%05d.txt" % index), "w").close()
        open(os.path.join(self.root, "empty.txt"), "w").close()

    def prepare_mirror(self):
        """The tree that is mirrored: --mirror-files files of random bytes, 100 per folder."""
        tree = os.path.join(self.root, "tree")
        size = self.a.mirror_kib * 1024
        for index in range(self.a.mirror_files):
            folder = os.path.join(tree, "d%03d" % (index // 100))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "f%05d.bin" % index), "wb") as stream:
                stream.write(os.urandom(size))

    def local_path(self, name):
        return os.path.join(self.local, name)

    def fresh(self, *paths):
        def remove():
            for path in paths:
                if os.path.exists(path):
                    os.remove(path)
        return remove

    def expect_size(self, path, size):
        """Checks the file a transfer wrote, then removes it: every run starts with the same
        free memory in /dev/shm, whatever client ran before it."""
        def check(_):
            actual = os.path.getsize(path) if os.path.exists(path) else -1
            if actual != size:
                sys.exit("bench: %s has %d bytes, expected %d" % (path, actual, size))
            os.remove(path)
        return check

    # -- transfers --------------------------------------------------------------------------
    def download_job(self, client, passive, remote="big.bin"):
        size = os.path.getsize(os.path.join(self.root, remote))
        target = self.local_path("got-%s.bin" % client)
        if client == "tarnex":
            command = [self.tarnex, "get", HOST, str(self.port), USER, PASSWORD, remote, target]
            command += ["--passive"] if passive else []
        elif client == "curl":
            command = curl(passive) + ["-o", target, url(self.port, remote)]
        else:
            command = lftp(self.port, passive, "get %s -o %s" % (remote, target))
        return Job(command, before=self.fresh(target), check=self.expect_size(target, size))

    def upload_job(self, client, passive):
        source = self.local_path("big-source.bin")
        size = os.path.getsize(source)
        stored = os.path.join(self.root, "up-%s.bin" % client)
        remote = os.path.basename(stored)
        if client == "tarnex":
            command = [self.tarnex, "put", HOST, str(self.port), USER, PASSWORD, source, remote]
            command += ["--passive"] if passive else []
        elif client == "curl":
            command = curl(passive) + ["-T", source, url(self.port, remote)]
        else:
            command = lftp(self.port, passive, "put %s -o %s" % (source, remote))
        return Job(command, before=self.fresh(stored), check=self.expect_size(stored, size))

    def clean_transfers(self):
        for folder in (self.local, self.root):
            for name in os.listdir(folder):
                if name.startswith(("got-", "up-")):
                    os.remove(os.path.join(folder, name))

    @staticmethod
    def figures(result, size):
        return {"mib_s": size / MIB / result["elapsed"], "cpu_gib": result["cpu"] / (size / GIB),
                "rss_mib": result["rss_kib"] / 1024.0, "elapsed": result["elapsed"]}

    # -- listing and commands ---------------------------------------------------------------
    def listing_job(self, client):
        if client == "tarnex":
            command = [self.tarnex, "list", HOST, str(self.port), USER, PASSWORD, "many"]
        elif client == "curl":
            command = curl(False) + ["-o", os.devnull, url(self.port, "many/")]
        else:
            command = lftp(self.port, False, "ls many > %s" % os.devnull)
        return Job(command)

    def session_job(self, client, count):
        """One login, `count` NOOPs, the end of the session; no data connection."""
        if client == "tarnex":
            command = [self.tarnex, "noop", HOST, str(self.port), USER, PASSWORD, str(count)]
        elif client == "curl":
            # --head asks for the file's size and date only: no data connection.
            command = ["curl", "-s", "-S", "--head"] + \
                sum((["-Q", "NOOP"] for _ in range(count)), []) + \
                ["-o", os.devnull, url(self.port, "empty.txt")]
        else:
            command = lftp(self.port, False, "; ".join(["quote NOOP"] * count))
        return Job(command)

    def per_command_ms(self, clients):
        # Sessions of 1 and of 1 + N commands: the difference is N round trips, whatever a
        # client does to log in and out (lftp connects only for its first command).
        jobs = {}
        for client in clients:
            jobs[client + " 1"] = self.session_job(client, 1)
            jobs[client + " N"] = self.session_job(client, 1 + self.a.commands)
        medians = interleaved(jobs, self.work, max(self.a.repeat, 5))
        return {client: max(medians[client + " N"]["elapsed"] - medians[client + " 1"]["elapsed"],
                            0.0) * 1000.0 / self.a.commands for client in clients}

    # -- waiting ----------------------------------------------------------------------------
    def silent_share(self, client):
        silent = SilentServer()
        try:
            wait_ms = self.a.silent_seconds * 1000
            if client == "tarnex":
                command = [self.tarnex, "silent", HOST, str(silent.port), str(wait_ms)]
                result = timed(command, self.work, limit=self.a.silent_seconds + 30)
            else:
                command = ["curl", "-s", "-m", str(self.a.silent_seconds),
                           "ftp://%s:%d/" % (HOST, silent.port)]
                # 28: curl's own time-out, which is the point here
                result = timed(command, self.work, limit=self.a.silent_seconds + 30,
                               allowed=(28,))
        finally:
            silent.stop()
        return 100.0 * result["cpu"] / result["elapsed"], result["elapsed"]

    # -- end to end -------------------------------------------------------------------------
    def runner_job(self, rates):
        """tarnex-run with a script that gets the big file; the rate of its summary line goes
        to `rates`."""
        size = os.path.getsize(os.path.join(self.root, "big.bin"))
        target = self.local_path("got-runner.bin")
        script = os.path.join(self.work, "get.fcs")
        with open(script, "w", newline="") as stream:
            stream.write("Open %s NONE %d\r\nLogin %s %s\r\nBinary\r\nGet big.bin %s\r\nBye\r\n"
                         % (HOST, self.port, USER, PASSWORD, target))
        env = dict(os.environ, TARNEX_REGISTRY=os.path.join(self.work, "registry.db"))

        def check(result):
            self.expect_size(target, size)(result)
            found = re.search(r"Retrived End (\d+) Byte \(([\d.]+)Byte/sec\)", result["stdout"])
            if not found:
                sys.exit("bench: tarnex-run logged no summary line:\n" + result["stdout"])
            rates.append(float(found.group(2)) / MIB)

        return Job([self.runner, script], before=self.fresh(target), check=check, env=env)

    # -- mirror -----------------------------------------------------------------------------
    def mirror_job(self, client, seconds):
        """A fresh mirror of the tree into an empty local folder. Tarnex is tarnex-run with a
        `mirror` line, timed by its summary line (so that the runner's pause after every
        script line does not count; the command's own listing, planning and transfers do);
        lftp is its `mirror`, timed as a whole process, login included."""
        target = self.local_path("mirror-%s" % client)
        files = self.a.mirror_files

        def fresh():
            shutil.rmtree(target, ignore_errors=True)

        def count_and_remove(result):
            found = sum(len(names) for _, _, names in os.walk(target))
            if found != files:
                sys.exit("bench: the %s mirror holds %d files, expected %d\n%s"
                         % (client, found, files, result["stdout"][-2000:]))
            fresh()

        if client == "lftp":
            return Job(lftp(self.port, False, "mirror tree %s" % target), before=fresh,
                       check=count_and_remove)
        script = os.path.join(self.work, "mirror.fcs")
        with open(script, "w", newline="") as stream:
            stream.write("Open %s NONE %d\r\nLogin %s %s\r\nBinary\r\nmirror tree %s\r\nBye\r\n"
                         % (HOST, self.port, USER, PASSWORD, target))
        env = dict(os.environ, TARNEX_REGISTRY=os.path.join(self.work, "registry.db"))

        def check(result):
            found = re.search(r"^mirror: (\d+) transferred, .* \(([\d.]+) s\)", result["stdout"],
                              re.MULTILINE)
            if not found or int(found.group(1)) != files:
                sys.exit("bench: tarnex-run did not mirror %d files:\n%s"
                         % (files, result["stdout"][-2000:]))
            seconds.append(float(found.group(2)))
            count_and_remove(result)

        return Job([self.runner, script], before=fresh, check=check, env=env)

    def mirror_row(self):
        print("bench: mirror of %d files" % self.a.mirror_files, flush=True)
        seconds = []
        medians = interleaved({"tarnex": self.mirror_job("tarnex", seconds),
                               "lftp": self.mirror_job("lftp", seconds)},
                              self.work, self.a.repeat)
        tarnex = statistics.median(seconds)
        lftp_value = medians["lftp"]["elapsed"]
        ratio = tarnex / lftp_value if lftp_value else float("inf")
        self.rows.append(("mirror of %d files of %d KiB (PORT), s" % (self.a.mirror_files,
                                                                      self.a.mirror_kib),
                          fmt(tarnex, "%.2f"), "–", fmt(lftp_value, "%.2f"),
                          "%.2f (÷ lftp)" % ratio, "≤ 1.0 × lftp", "yes" if ratio <= 1.0 else "NO"))

    # -- the table --------------------------------------------------------------------------
    def row(self, measure, tarnex, curl_value, lftp_value, better, limit, unit):
        """better: 'higher' or 'lower'; limit: the ratio Tarnex/curl must meet."""
        ratio = tarnex / curl_value if curl_value else float("inf")
        met = ratio >= limit if better == "higher" else ratio <= limit
        target = ("≥ %.1f × curl" if better == "higher" else "≤ %.1f × curl") % limit
        self.rows.append((measure, fmt(tarnex, unit), fmt(curl_value, unit),
                          fmt(lftp_value, unit) if lftp_value is not None else "–",
                          "%.2f" % ratio, target, "yes" if met else "NO"))

    def absolute_row(self, measure, tarnex, unit, target, met, curl_value=None):
        self.rows.append((measure, fmt(tarnex, unit),
                          fmt(curl_value, unit) if curl_value is not None else "–", "–", "–",
                          target, "yes" if met else "NO"))

    def run(self):
        self.prepare()
        server = Server(self.a.source, self.root, self.work)
        self.port = server.port
        big = "%d MiB" % self.a.size_mib if self.a.size_mib % 1024 else "%d GiB" % (
            self.a.size_mib // 1024)
        clients = ("tarnex", "curl", "lftp")
        size = self.a.size_mib * MIB
        if self.a.mirror_only:
            try:
                self.mirror_row()
            finally:
                server.stop()
            return self.table(big)
        try:
            for direction in ("download", "upload"):
                for passive in (False, True):
                    mode = "PASV" if passive else "PORT"
                    print("bench: %s %s %s" % (direction, big, mode), flush=True)
                    make = self.download_job if direction == "download" else self.upload_job
                    jobs = {client: make(client, passive) for client in clients}
                    rates = []
                    if direction == "download" and not passive:
                        jobs["tarnex-run"] = self.runner_job(rates)
                    medians = interleaved(jobs, self.work, self.a.repeat)
                    self.clean_transfers()
                    figures = {name: self.figures(result, size) for name, result in medians.items()}
                    self.row("%s %s %s, MiB/s" % (direction, big, mode),
                             figures["tarnex"]["mib_s"], figures["curl"]["mib_s"],
                             figures["lftp"]["mib_s"], "higher", 1.0, "%.0f")
                    self.row("%s %s %s, CPU s per GiB" % (direction, big, mode),
                             figures["tarnex"]["cpu_gib"], figures["curl"]["cpu_gib"],
                             figures["lftp"]["cpu_gib"], "lower", 1.2, "%.3f")
                    if rates:
                        runner = figures["tarnex-run"] | {"mib_s": statistics.median(rates)}
                        big_download = figures
            print("bench: memory", flush=True)
            small = interleaved({"tarnex": self.download_job("tarnex", False, "small.bin")},
                                self.work, self.a.repeat)["tarnex"]
            self.clean_transfers()
            small_rss = small["rss_kib"] / 1024.0
            rss_big = big_download["tarnex"]["rss_mib"]
            self.absolute_row("peak RSS, download %d MiB → %s, MiB" % (self.a.small_mib, big),
                              rss_big, "%.1f", "flat (≤ +10 %% over %.1f)" % small_rss,
                              rss_big <= small_rss * 1.10 + 1.0,
                              curl_value=big_download["curl"]["rss_mib"])
            print("bench: listing", flush=True)
            lists = interleaved({client: self.listing_job(client) for client in clients},
                                self.work, self.a.repeat)
            self.row("listing of %d entries (PORT), s" % self.a.entries,
                     lists["tarnex"]["elapsed"], lists["curl"]["elapsed"],
                     lists["lftp"]["elapsed"], "lower", 1.5, "%.3f")
            print("bench: commands", flush=True)
            per = self.per_command_ms(clients)
            self.row("NOOP round trip (%d in one session), ms" % self.a.commands, per["tarnex"],
                     per["curl"], per["lftp"], "lower", 1.0, "%.3f")
            self.row("tarnex-run `Get` %s (PORT), MiB/s" % big, runner["mib_s"],
                     big_download["curl"]["mib_s"], None, "higher", 1.0, "%.0f")
            self.row("tarnex-run `Get` %s (PORT), CPU s per GiB" % big, runner["cpu_gib"],
                     big_download["curl"]["cpu_gib"], None, "lower", 1.2, "%.3f")
            self.mirror_row()
        finally:
            server.stop()
        print("bench: silent server", flush=True)
        share, waited = self.silent_share("tarnex")
        curl_share, _ = self.silent_share("curl")
        self.absolute_row("silent server: CPU while waiting %.1f s for the time-out, %% of a core"
                          % waited, share, "%.2f", "< 1 %", share < 1.0, curl_value=curl_share)
        return self.table(big)

    def table(self, big):
        header = ("measure", "Tarnex", "curl", "lftp", "Tarnex/curl", "target", "met")
        lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
        lines += ["| " + " | ".join(row) + " |" for row in self.rows]
        versions = "curl %s, lftp %s, pyftpdlib %s" % (tool_version(["curl", "--version"]),
                                                       tool_version(["lftp", "--version"]),
                                                       pyftpdlib_version())
        intro = ("%s, %s, %d cores, %s; medians of %d runs; server: pyftpdlib on 127.0.0.1 "
                 "(one process)." % (datetime.date.today().isoformat(), platform.machine(),
                                     os.cpu_count(), versions, self.a.repeat))
        return intro + "\n\n" + "\n".join(lines) + "\n"


def fmt(value, unit):
    return unit % value


def tool_version(command):
    try:
        output = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                timeout=10).stdout.decode(errors="replace")
    except (OSError, subprocess.TimeoutExpired):
        return "?"
    found = re.search(r"(\d+\.\d+(\.\d+)?)", output)
    return found.group(1) if found else "?"


def pyftpdlib_version():
    try:
        output = subprocess.run(["/usr/bin/python3", "-c",
                                 "import pyftpdlib; print(pyftpdlib.__ver__)"],
                                stdout=subprocess.PIPE, timeout=10).stdout.decode().strip()
        return output or "?"
    except (OSError, subprocess.TimeoutExpired):
        return "?"


def main():
    arguments = parse_arguments()
    bench = Bench(arguments)
    try:
        table = bench.run()
    finally:
        shutil.rmtree(bench.work, ignore_errors=True)
    print()
    print(table)
    if arguments.markdown:
        with open(arguments.markdown, "w") as stream:
            stream.write(table)
    return 0


if __name__ == "__main__":
    sys.exit(main())
