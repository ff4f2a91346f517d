#!/usr/bin/python3
"""Tarnex against curl and lftp on loopback FTP servers, in one run: pyftpdlib, then Debian's
vsftpd (plain, and with explicit TLS); then SFTP against OpenSSH's sshd, Tarnex against
OpenSSH's sftp and curl. One table per server.

Every client runs as its own process, so that wall time, CPU time (user + system of the
reaped process) and peak memory (/usr/bin/time) are measured the same way for all of them. Each figure is the
median of --repeat runs. See bench/README.md.
"""

import argparse
import dataclasses
import datetime
import os
import platform
import pwd
import re
import resource
import select
import shutil
import signal
import socket
import stat
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HOST = "127.0.0.1"
USER = "bench"
PASSWORD = "bench-pass"
MIB = 1024 * 1024
GIB = 1024 * MIB
SERVERS = ("pyftpdlib", "vsftpd")
CLIENTS = ("tarnex", "curl", "lftp")
SFTP_CLIENTS = ("tarnex", "sftp", "curl")
# aes128-ctr (with hmac-sha2-256) is the one cipher curl's libssh2 1.10 shares with OpenSSH.
SFTP_CIPHERS = ("aes128-gcm@openssh.com", "chacha20-poly1305@openssh.com", "aes128-ctr")
SSHD = "/usr/sbin/sshd"
VSFTPD = "/usr/sbin/vsftpd"


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="build folder with bench/tarnex-bench")
    parser.add_argument("--source", required=True, help="the repository")
    parser.add_argument("--work", help="scratch folder (default: /dev/shm when it has room)")
    parser.add_argument("--servers",
                        help="the FTP servers to measure on, comma-separated (default: %s, "
                             "and the SFTP table)" % ",".join(SERVERS))
    parser.add_argument("--size-mib", type=int, default=1024, help="size of the big file")
    parser.add_argument("--small-mib", type=int, default=100, help="size of the small file")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--entries", type=int, default=20000, help="files in the listed folder")
    parser.add_argument("--huge-entries", type=int, default=1000000,
                        help="files in the folder vsftpd lists into a file")
    parser.add_argument("--commands", type=int, default=1000, help="NOOPs in one session")
    parser.add_argument("--silent-seconds", type=int, default=10)
    parser.add_argument("--mirror-files", type=int, default=2000,
                        help="files in the mirrored tree (in folders of 100)")
    parser.add_argument("--mirror-kib", type=int, default=4, help="size of each mirrored file")
    parser.add_argument("--mirror-only", action="store_true",
                        help="only the mirror row on pyftpdlib (a minute instead of ten)")
    parser.add_argument("--job-kib", type=int, default=4,
                        help="size of each file the 12-line job uploads and downloads")
    parser.add_argument("--job-only", action="store_true",
                        help="only the rows of the 12-line job on vsftpd (seconds)")
    parser.add_argument("--replace-only", action="store_true",
                        help="only the rows of the download over an existing file on vsftpd "
                             "(in the --work folder: tmpfs by default)")
    parser.add_argument("--rtt-ms", type=int, default=0,
                        help="also a table on pyftpdlib behind the latency proxy with this round "
                             "trip (half of it each way; 0: no such table)")
    parser.add_argument("--rtt-only", action="store_true",
                        help="only the table behind the latency proxy (with --rtt-ms)")
    parser.add_argument("--rtt-mirror-files", type=int, default=200,
                        help="files in the tree mirrored behind the latency proxy, both ways "
                             "(in folders of 100, of --mirror-kib each; 2000 take an hour)")
    parser.add_argument("--mget-files", type=int, default=200,
                        help="files that mget fetches behind the latency proxy")
    parser.add_argument("--mget-kib", type=int, default=64, help="size of each of them")
    parser.add_argument("--parallel", type=int, default=4,
                        help="transfers at once in the parallel rows behind the latency proxy")
    parser.add_argument("--sftp-only", action="store_true",
                        help="only the SFTP table: OpenSSH's sshd on loopback, Tarnex against "
                             "OpenSSH's sftp and curl")
    parser.add_argument("--sftp-ciphers", default=",".join(SFTP_CIPHERS),
                        help="the SSH ciphers the SFTP rows are timed with, one after another, "
                             "comma-separated (default: %(default)s)")
    parser.add_argument("--no-sftp", action="store_true", help="the full run without SFTP")
    parser.add_argument("--markdown", help="also write the tables to this file")
    arguments = parser.parse_args()
    arguments.sftp_ciphers = [name.strip() for name in arguments.sftp_ciphers.split(",")
                              if name.strip()]
    if arguments.sftp_only and (arguments.mirror_only or arguments.job_only or
                                arguments.replace_only or arguments.rtt_only or
                                arguments.no_sftp or not arguments.sftp_ciphers):
        parser.error("--sftp-only goes alone, with at least one cipher")
    # The SFTP table belongs to the full run: not to a run of chosen servers or rows.
    arguments.sftp = arguments.servers is None and not arguments.no_sftp and not (
        arguments.mirror_only or arguments.job_only or arguments.replace_only or
        arguments.rtt_only)
    arguments.servers = [name.strip() for name in (arguments.servers or ",".join(SERVERS)).split(",")
                         if name.strip()]
    unknown = [name for name in arguments.servers if name not in SERVERS]
    if unknown or not arguments.servers:
        parser.error("--servers takes %s, not %r" % (" and/or ".join(SERVERS),
                                                     ",".join(unknown)))
    if arguments.mirror_only and "pyftpdlib" not in arguments.servers:
        parser.error("--mirror-only measures on pyftpdlib")
    if arguments.rtt_only and (arguments.rtt_ms <= 0 or arguments.mirror_only or
                               arguments.job_only):
        parser.error("--rtt-only needs --rtt-ms N, without --mirror-only and --job-only")
    if arguments.rtt_ms < 0 or arguments.rtt_ms > 20000 or arguments.rtt_ms % 2:
        parser.error("--rtt-ms takes an even number of milliseconds up to 20000")
    if arguments.rtt_only:
        arguments.servers = ["pyftpdlib"]
    if arguments.job_only or arguments.replace_only:
        if (arguments.mirror_only or "vsftpd" not in arguments.servers or arguments.rtt_only or
                (arguments.job_only and arguments.replace_only)):
            parser.error("--job-only and --replace-only each measure on vsftpd alone")
        arguments.servers = ["vsftpd"]
    if arguments.sftp_only:
        arguments.servers = []
        arguments.sftp = True
    return arguments


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


@dataclasses.dataclass
class Endpoint:
    """What a client needs to reach one server, and where that server keeps its files."""
    name: str
    port: int
    user: str
    password: str
    root: str              # the folder the server serves
    upload_dir: str = ""   # where uploads go, under root ("": root itself)
    fingerprint: str = ""  # SHA-256 of the server's certificate: explicit TLS

    @property
    def tls(self):
        return bool(self.fingerprint)

    def upload_name(self, name):
        return self.upload_dir + "/" + name if self.upload_dir else name

    def upload_folder(self):
        return os.path.join(self.root, self.upload_dir)


# -- the clients' command lines, for every server ---------------------------------------------
def url(server, path):
    if server.user == "anonymous":
        return "ftp://%s:%d/%s" % (HOST, server.port, path)
    return "ftp://%s:%s@%s:%d/%s" % (urllib.parse.quote(server.user, safe=""),
                                     urllib.parse.quote(server.password, safe=""), HOST,
                                     server.port, path)


def curl(server, passive):
    """curl's options for a session; None where curl cannot take part: its active-mode FTPS
    hangs against vsftpd."""
    if server.tls and not passive:
        return None
    command = ["curl", "-s", "-S"]
    if server.tls:
        command += ["--ssl-reqd", "-k"]  # -k: the certificate is our own, made for this run
    return command + (["--disable-epsv"] if passive else ["--ftp-port", "-", "--disable-eprt"])


def lftp(server, passive, commands):
    if server.tls:
        tls = ("set ftp:ssl-force yes; set ftp:ssl-protect-data yes; "
               "set ssl:verify-certificate no; ")
    else:
        tls = "set ftp:ssl-allow no; "
    settings = tls + ("set ftp:prefer-epsv no; set ftp:passive-mode %s; set xfer:clobber yes; "
                      "set net:max-retries 1; set cmd:fail-exit yes; "
                      % ("yes" if passive else "no"))
    return ["lftp", "-c", settings + "open -u %s,%s -p %d %s; %s" % (
        server.user, server.password, server.port, HOST, commands)]


def tarnex(program, server, verb, arguments, passive=False):
    """tarnex-bench get|put|list|noop; get, put and list speak TLS when the server wants it."""
    command = [program, verb, HOST, str(server.port), server.user, server.password] + arguments
    command += ["--passive"] if passive else []
    if server.tls:
        command += ["--tls", "explicit", "--tls-fingerprint", server.fingerprint]
    return command


def runner_script(path, server, lines):
    """A tarnex-run script (CRLF lines) that logs in, runs `lines` and says goodbye."""
    body = ["Open %s NONE %d" % (HOST, server.port),
            "Login %s %s" % (server.user, server.password)] + lines + ["Bye"]
    with open(path, "w", newline="") as stream:
        stream.write("".join(line + "\r\n" for line in body))
    return path


# -- servers ----------------------------------------------------------------------------------
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
        self.endpoint = Endpoint("pyftpdlib", self.port, USER, PASSWORD, root)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()


class LatencyProxy:
    """bench/latency: a loopback proxy in front of `server_port` that delays every byte by
    `one_way_ms` each way, data connections included (it readdresses PASV/EPSV/PORT/EPRT)."""

    def __init__(self, build, server_port, one_way_ms):
        program = os.path.join(build, "bench", "tarnex-latency-proxy")
        self.process = subprocess.Popen([program, str(server_port), str(one_way_ms)],
                                        stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 20)
        line = self.process.stdout.readline() if ready else ""
        if not line.strip().isdigit():
            self.stop()
            sys.exit("bench: the latency proxy did not start")
        self.port = int(line)

    def counts(self):
        """What the clients have asked so far: {"open": control connections not yet closed by
        their client, "data": data connections made, VERB: commands}."""
        self.process.send_signal(signal.SIGUSR1)
        ready, _, _ = select.select([self.process.stdout], [], [], 10)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("counts "):
            sys.exit("bench: the latency proxy told no counts: %r" % line)
        return {key: int(value) for key, value in
                (field.split("=", 1) for field in line.split()[1:])}

    def settled_counts(self):
        """The counts once every client has closed its control connection (a client may end
        before the proxy has read its last command), or after 10 s."""
        deadline = time.monotonic() + 10
        while True:
            counts = self.counts()
            if counts["open"] == 0 or time.monotonic() > deadline:
                return counts
            time.sleep(0.02)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()


class CommandCounter:
    """The commands and data connections of each job's last run, as the proxy counted them."""

    def __init__(self, proxy):
        self.proxy = proxy
        self.start_counts = {}
        self.per_job = {}

    def start(self):
        self.start_counts = self.proxy.settled_counts()

    def stop(self, name):
        end = self.proxy.settled_counts()
        self.per_job[name] = {key: end[key] - self.start_counts.get(key, 0)
                              for key in end if key != "open"
                              and end[key] != self.start_counts.get(key, 0)}

    def per_file(self, name, files):
        """'2.0 (PORT 1.0, RETR 1.0; data 1.0)': the commands per file in all, those of them
        sent for at least every tenth file, and the data connections per file."""
        counts = dict(self.per_job.get(name, {}))
        if not counts:
            return "not counted"
        data = counts.pop("data", 0)
        total = sum(counts.values())
        frequent = sorted(((count, verb) for verb, count in counts.items()
                           if count >= files / 10), reverse=True)
        verbs = ", ".join("%s %s" % (verb, per(count, files)) for count, verb in frequent)
        return "%s (%s; data %s)" % (per(total, files), verbs, per(data, files))


def per(count, files):
    return "%.2f" % (count / files) if count % files else "%d" % (count // files)


class Unavailable(Exception):
    """vsftpd cannot serve on this machine (the reason is the message)."""


def free_port():
    with socket.socket() as probe:
        probe.bind((HOST, 0))
        return probe.getsockname()[1]


class Vsftpd:
    """/usr/sbin/vsftpd on a free loopback port with a configuration of our own in `folder`:
    anonymous logins (any password) into `root`, uploads into root/incoming. With a
    certificate, logins and data need explicit TLS, and a data connection must resume the
    control connection's TLS session."""

    def __init__(self, name, folder, root, certificate=None):
        self.port = free_port()
        config = os.path.join(folder, name + ".conf")
        settings = [
            "listen=YES", "listen_address=%s" % HOST, "listen_port=%d" % self.port,
            "background=NO", "seccomp_sandbox=NO", "xferlog_enable=NO",
            "secure_chroot_dir=%s" % os.path.join(folder, "empty"),
            "anonymous_enable=YES", "no_anon_password=YES", "anon_root=%s" % root,
            "local_enable=NO", "write_enable=YES", "anon_upload_enable=YES",
            "anon_other_write_enable=YES", "pasv_enable=YES", "pasv_address=%s" % HOST,
        ]
        if os.geteuid() != 0:
            # Without root there is no chroot and no change of user: the sessions run as us.
            settings.append("run_as_launching_user=YES")
        if certificate:
            settings += ["ssl_enable=YES", "allow_anon_ssl=YES", "force_anon_logins_ssl=YES",
                         "force_anon_data_ssl=YES", "require_ssl_reuse=YES",
                         "rsa_cert_file=%s" % certificate[0],
                         "rsa_private_key_file=%s" % certificate[1]]
        with open(config, "w") as stream:
            stream.write("".join(line + "\n" for line in settings))
        self.errors = os.path.join(folder, name + ".out")
        with open(self.errors, "wb") as output:
            self.process = subprocess.Popen([VSFTPD, config], stdin=subprocess.DEVNULL,
                                            stdout=output, stderr=subprocess.STDOUT)
        self.endpoint = Endpoint(name, self.port, "anonymous", "x", root, "incoming",
                                 certificate[2] if certificate else "")
        self.wait_until_listening()

    def wait_until_listening(self):
        deadline = time.monotonic() + 10
        while True:
            if self.process.poll() is not None:
                raise Unavailable("vsftpd ended at once: %s" % self.said())
            try:
                socket.create_connection((HOST, self.port), timeout=0.2).close()
                return
            except OSError:
                pass
            if time.monotonic() > deadline:
                self.stop()
                raise Unavailable("vsftpd took no connection within 10 s: %s" % self.said())
            time.sleep(0.05)

    def said(self):
        with open(self.errors, errors="replace") as stream:
            return stream.read().strip()[-500:] or "(no output)"

    def stop(self):
        stop_server(self.process)


def stop_server(process):
    """SIGTERM to a server still running, SIGKILL when it has not ended within 10 s."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(10)


def make_certificate(folder):
    """A self-signed certificate for this run: (certificate file, key file, SHA-256 in hex)."""
    if not shutil.which("openssl"):
        raise Unavailable("openssl is missing (bench/run.sh installs it)")
    certificate = os.path.join(folder, "vsftpd.crt")
    key = os.path.join(folder, "vsftpd.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", certificate, "-days", "2", "-subj", "/CN=%s" % HOST],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=60)
    output = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in",
                             certificate], stdout=subprocess.PIPE, check=True,
                            timeout=60).stdout.decode()
    return certificate, key, output.split("=", 1)[1].strip()


class Sshd:
    """OpenSSH's sshd in the foreground on a free loopback port, as tests/support/sshd_server
    starts it: a configuration, host key and user key of its own, made for the run in `folder`;
    root logs in with the key; SFTP served inside sshd (internal-sftp). `cipher` is the only
    cipher it offers (and hmac-sha2-256 the only MAC where the cipher needs one), so that a
    client that cannot speak it fails instead of agreeing on another."""

    def __init__(self, folder, cipher):
        if os.geteuid() != 0:
            raise Unavailable("sshd runs only as root")
        if not os.access(SSHD, os.X_OK):
            raise Unavailable("%s is missing (bench/run.sh installs it)" % SSHD)
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)  # its privilege separation folder
        self.folder = folder
        self.cipher = cipher
        self.port = free_port()
        self.host_key = os.path.join(folder, "host_ed25519")
        self.user_key = os.path.join(folder, "user_ed25519")
        for key in (self.host_key, self.user_key):
            if not os.path.exists(key):
                subprocess.run(["ssh-keygen", "-q", "-N", "", "-t", "ed25519", "-f", key],
                               check=True, timeout=60)
        authorized = os.path.join(folder, "authorized_keys")
        shutil.copyfile(self.user_key + ".pub", authorized)
        with open(self.host_key + ".pub") as stream:
            kind, blob = stream.read().split()[:2]
        self.known_hosts = os.path.join(folder, "known_hosts")
        with open(self.known_hosts, "w") as stream:
            stream.write("[%s]:%d %s %s\n" % (HOST, self.port, kind, blob))
        fingerprint = subprocess.run(["ssh-keygen", "-lf", self.host_key + ".pub"],
                                     stdout=subprocess.PIPE, check=True,
                                     timeout=60).stdout.decode().split()[1]
        # "SHA256:<base64 without padding>": curl wants the padded base64 alone.
        self.sha256 = fingerprint.split(":", 1)[1] + "="
        algorithms = ["Ciphers %s" % cipher] + ([] if self.aead else ["MACs hmac-sha2-256"])
        config = os.path.join(folder, "sshd_config")
        with open(config, "w") as stream:
            stream.write("".join(line + "\n" for line in [
                "ListenAddress %s" % HOST, "Port %d" % self.port, "HostKey %s" % self.host_key,
                "PidFile none", "UsePAM no", "StrictModes no",
                "AuthorizedKeysFile %s" % authorized, "PermitRootLogin prohibit-password",
                "PasswordAuthentication no", "KbdInteractiveAuthentication no",
                "AllowTcpForwarding no", "X11Forwarding no", "PermitTTY no",
                "Subsystem sftp internal-sftp"] + algorithms))
        # The clients' ssh configuration (Tarnex's --ssh-config, sftp's -F): the same cipher,
        # the run's key, and the host key of this run as the only one trusted.
        self.client_config = os.path.join(folder, "ssh_config")
        with open(self.client_config, "w") as stream:
            stream.write("".join(line + "\n" for line in [
                "Host *", "  User root", "  IdentityFile %s" % self.user_key,
                "  IdentitiesOnly yes", "  UserKnownHostsFile %s" % self.known_hosts,
                "  GlobalKnownHostsFile none", "  StrictHostKeyChecking yes",
                "  BatchMode yes"] + ["  " + line for line in algorithms]))
        self.log = os.path.join(folder, "sshd.log")
        self.process = subprocess.Popen([SSHD, "-D", "-f", config, "-E", self.log],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while "Server listening on %s port %d" % (HOST, self.port) not in self.said():
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise Unavailable("sshd did not listen: %s" % self.said()[-500:])
            time.sleep(0.05)

    @property
    def aead(self):
        return self.cipher.startswith(("chacha20-poly1305", "aes128-gcm", "aes256-gcm"))

    def said(self):
        if not os.path.exists(self.log):
            return ""
        with open(self.log, errors="replace") as stream:
            return stream.read()

    def stop(self):
        stop_server(self.process)


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


# -- timing -----------------------------------------------------------------------------------
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


def interleaved(jobs, work, repeat, counter=None):
    """Runs every job `repeat` times, round by round (each round in another order), so that a
    slow moment of the machine falls on all clients alike; returns the medians per job. A
    CommandCounter learns the commands of each job's runs."""
    runs = {name: [] for name in jobs}
    names = list(jobs)
    for round_number in range(repeat):
        shift = round_number % len(names)
        for name in names[shift:] + names[:shift]:
            job = jobs[name]
            if job.before:
                job.before()
            if counter:
                counter.start()
            result = timed(job.command, work, env=job.env, limit=job.limit)
            if counter:
                counter.stop(name)
            if job.check:
                job.check(result)
            del result["stdout"]  # a long log need not stay for the other rounds
            runs[name].append(result)
    return {name: {key: statistics.median(run[key] for run in results)
                   for key in ("elapsed", "cpu", "rss_kib")}
            for name, results in runs.items()}


# -- tables -----------------------------------------------------------------------------------
class Table:
    HEADER = ("measure", "Tarnex", "curl", "lftp", "Tarnex/curl", "target", "met")

    def __init__(self, intro):
        self.intro = intro
        self.rows = []
        self.notes = []  # lines below the table

    def row(self, measure, tarnex_value, curl_value, lftp_value, better, limit, unit):
        """better: 'higher' or 'lower'; limit: the ratio Tarnex/curl must meet. Without a curl
        figure there is nothing to meet, and the row only shows what was measured."""
        lftp_text = fmt(lftp_value, unit) if lftp_value is not None else "–"
        if curl_value is None:
            self.rows.append((measure, fmt(tarnex_value, unit), "–", lftp_text, "–", "–", "–"))
            return
        ratio = tarnex_value / curl_value if curl_value else float("inf")
        met = ratio >= limit if better == "higher" else ratio <= limit
        target = "%s %s × curl" % ("≥" if better == "higher" else "≤", factor(limit))
        self.rows.append((measure, fmt(tarnex_value, unit), fmt(curl_value, unit), lftp_text,
                          "%.2f" % ratio, target, "yes" if met else "NO"))

    def absolute_row(self, measure, tarnex_value, unit, target, met, curl_value=None):
        self.rows.append((measure, fmt(tarnex_value, unit),
                          fmt(curl_value, unit) if curl_value is not None else "–", "–", "–",
                          target, "yes" if met else "NO"))

    def text(self):
        lines = ["| " + " | ".join(self.HEADER) + " |", "|" + "---|" * len(self.HEADER)]
        lines += ["| " + " | ".join(row) + " |" for row in self.rows]
        notes = "".join("\n" + note + "\n" for note in self.notes)
        return self.intro + "\n\n" + "\n".join(lines) + "\n" + notes


class PeerTable(Table):
    """Tarnex against two peers; the ratio is Tarnex ÷ the better of them (the faster, or
    the cheaper)."""
    HEADER = ("measure", "Tarnex", "OpenSSH sftp", "curl", "Tarnex ÷ better peer", "target",
              "met")

    def peer_row(self, measure, tarnex_value, peers, better, limit, unit):
        shown = [fmt(value, unit) if value is not None else "–" for value in peers]
        present = [value for value in peers if value is not None]
        if not present:
            self.rows.append((measure, fmt(tarnex_value, unit), *shown, "–", "–", "–"))
            return
        best = max(present) if better == "higher" else min(present)
        ratio = tarnex_value / best if best else float("inf")
        met = ratio >= limit if better == "higher" else ratio <= limit
        target = "%s %s × %s" % ("≥" if better == "higher" else "≤", factor(limit),
                                 "the faster" if better == "higher" else "the cheaper")
        self.rows.append((measure, fmt(tarnex_value, unit), *shown, "%.2f" % ratio, target,
                          "yes" if met else "NO"))


def factor(limit):
    """1.0, 1.2, 1.25: one decimal unless a second one is needed."""
    return "%.1f" % limit if round(limit, 1) == limit else "%.2f" % limit


class Bench:
    def __init__(self, arguments):
        self.a = arguments
        self.tarnex = os.path.join(arguments.build, "bench", "tarnex-bench")
        self.runner = os.path.join(arguments.build, "app", "tarnex-run")
        pyftpdlib = "pyftpdlib" in arguments.servers
        vsftpd = "vsftpd" in arguments.servers and not arguments.mirror_only
        need = 64 * MIB
        if pyftpdlib:
            need += 3 * arguments.mirror_files * arguments.mirror_kib * 1024
        if arguments.rtt_ms:
            need += 4 * arguments.rtt_mirror_files * arguments.mirror_kib * 1024
            need += 2 * arguments.mget_files * arguments.mget_kib * 1024
        if not arguments.mirror_only and not arguments.job_only:
            need += 4 * arguments.size_mib * MIB  # with the file a download replaces
            need += 3 * arguments.small_mib * MIB if pyftpdlib else 0
        if vsftpd and not arguments.job_only and not arguments.replace_only:
            need += 100 * arguments.huge_entries  # one listing of the huge folder at a time
        self.work = scratch_folder(arguments.work, need)
        self.root = os.path.join(self.work, "root")
        self.local = os.path.join(self.work, "local")
        os.makedirs(self.root)
        os.makedirs(self.local)
        self.runner_env = dict(os.environ, TARNEX_REGISTRY=os.path.join(self.work, "registry.db"))
        self.big = "%d MiB" % arguments.size_mib if arguments.size_mib % 1024 else "%d GiB" % (
            arguments.size_mib // 1024)

    # -- setup ------------------------------------------------------------------------------
    def prepare(self):
        """The files of pyftpdlib's root; vsftpd's root links to the same ones."""
        print("bench: files in %s" % self.work, flush=True)
        if "pyftpdlib" in self.a.servers:
            self.prepare_mirror()
        if self.a.rtt_ms:
            self.prepare_many_files()
        if self.a.mirror_only:
            return
        self.prepare_job()
        if self.a.job_only:
            return
        make_file(os.path.join(self.root, "big.bin"), self.a.size_mib * MIB)
        if "pyftpdlib" in self.a.servers:
            make_file(os.path.join(self.root, "small.bin"), self.a.small_mib * MIB)
        shutil.copy(os.path.join(self.root, "big.bin"), os.path.join(self.local, "big-source.bin"))
        many = os.path.join(self.root, "many")
        os.makedirs(many)
        for index in range(self.a.entries):
            open(os.path.join(many, "file-%05d.txt" % index), "w").close()
        open(os.path.join(self.root, "empty.txt"), "w").close()

    def prepare_many_files(self):
        """What is moved behind the latency proxy: a tree on the server to mirror down, the
        same tree here to mirror up, and the folder that mget fetches."""
        tree = os.path.join(self.root, "rtt-tree")
        self.prepare_mirror(tree, self.a.rtt_mirror_files)
        shutil.copytree(tree, self.local_path("rtt-tree"))
        folder = os.path.join(self.root, "mget")
        os.makedirs(folder)
        for index in range(self.a.mget_files):
            with open(os.path.join(folder, "g%05d.bin" % index), "wb") as stream:
                stream.write(os.urandom(self.a.mget_kib * 1024))

    def prepare_job(self):
        """The job's five local files to upload and the server's file to download."""
        size = self.a.job_kib * 1024
        os.makedirs(self.local_path("job"))
        for index in range(1, 6):
            with open(self.local_path("job/job-%d.bin" % index), "wb") as stream:
                stream.write(os.urandom(size))
        with open(os.path.join(self.root, "job-get.bin"), "wb") as stream:
            stream.write(os.urandom(size))

    def prepare_mirror(self, tree=None, files=None):
        """The tree that is mirrored: --mirror-files files of random bytes, 100 per folder."""
        tree = tree or os.path.join(self.root, "tree")
        size = self.a.mirror_kib * 1024
        for index in range(self.a.mirror_files if files is None else files):
            folder = os.path.join(tree, "d%03d" % (index // 100))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "f%05d.bin" % index), "wb") as stream:
                stream.write(os.urandom(size))

    def prepare_vsftpd(self):
        """vsftpd's own folder: its configurations, certificate, an empty folder for its
        sessions, and its root, which holds hard links to pyftpdlib's files (no second copy),
        the huge folder, and `incoming` for uploads. vsftpd refuses an anonymous root its
        sessions may write to, and serves only files every user may read."""
        folder = os.path.join(self.work, "vsftpd")
        root = os.path.join(folder, "root")
        for path in (folder, os.path.join(folder, "empty"), root, os.path.join(root, "many"),
                     os.path.join(root, "incoming")):
            os.mkdir(path)
            os.chmod(path, 0o755)
        names = ["job-get.bin"]
        if not self.a.job_only:
            names += ["big.bin", "empty.txt"] + ["many/file-%05d.txt" % index
                                                 for index in range(self.a.entries)]
        for name in names:
            os.chmod(os.path.join(self.root, name), 0o644)
            os.link(os.path.join(self.root, name), os.path.join(root, name))
        if os.geteuid() == 0:
            try:
                ftp = pwd.getpwnam("ftp")
            except KeyError:
                raise Unavailable("its user \"ftp\" is missing (the vsftpd package makes it)")
            os.chown(os.path.join(root, "incoming"), ftp.pw_uid, ftp.pw_gid)
        if self.a.job_only or self.a.replace_only:
            return folder, root
        huge = os.path.join(root, "huge")
        os.mkdir(huge)
        os.chmod(huge, 0o755)
        start = time.monotonic()
        for index in range(self.a.huge_entries):
            os.mknod(os.path.join(huge, "f%07d" % index), 0o644 | stat.S_IFREG)
        print("bench: %d empty files made in %.1f s" % (self.a.huge_entries,
                                                        time.monotonic() - start), flush=True)
        return folder, root

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
    def download_job(self, server, client, passive, remote="big.bin"):
        """None when the client cannot take part."""
        size = os.path.getsize(os.path.join(server.root, remote))
        target = self.local_path("got-%s.bin" % client)
        if client == "tarnex":
            command = tarnex(self.tarnex, server, "get", [remote, target], passive)
        elif client == "curl":
            options = curl(server, passive)
            command = options and options + ["-o", target, url(server, remote)]
        else:
            command = lftp(server, passive, "get %s -o %s" % (remote, target))
        return command and Job(command, before=self.fresh(target),
                               check=self.expect_size(target, size))

    def upload_job(self, server, client, passive):
        """None when the client cannot take part."""
        source = self.local_path("big-source.bin")
        size = os.path.getsize(source)
        remote = server.upload_name("up-%s.bin" % client)
        stored = os.path.join(server.root, remote)
        if client == "tarnex":
            command = tarnex(self.tarnex, server, "put", [source, remote], passive)
        elif client == "curl":
            options = curl(server, passive)
            command = options and options + ["-T", source, url(server, remote)]
        else:
            command = lftp(server, passive, "put %s -o %s" % (source, remote))
        return command and Job(command, before=self.fresh(stored),
                               check=self.expect_size(stored, size))

    def clean_transfers(self, server):
        for folder in (self.local, server.upload_folder()):
            for name in os.listdir(folder):
                if name.startswith(("got-", "up-")):
                    os.remove(os.path.join(folder, name))

    @staticmethod
    def figures(result, size):
        return {"mib_s": size / MIB / result["elapsed"], "cpu_gib": result["cpu"] / (size / GIB),
                "rss_mib": result["rss_kib"] / 1024.0, "elapsed": result["elapsed"]}

    def transfer_rows(self, table, server, direction, passive, speed, cpu, extra=None):
        """Times the big file one way for every client that can take part (and the `extra`
        jobs in the same rounds), and adds two rows: the rate, which must reach `speed` ×
        curl's, and the CPU time per GiB, which must stay within `cpu` × curl's. Returns the
        figures of every job."""
        label = "%s%s %s %s" % ("FTPS " if server.tls else "", direction, self.big,
                                "PASV" if passive else "PORT")
        print("bench: %s: %s" % (server.name, label), flush=True)
        make = self.download_job if direction == "download" else self.upload_job
        jobs = {client: job for client in CLIENTS if (job := make(server, client, passive))}
        jobs.update(extra or {})
        medians = interleaved(jobs, self.work, self.a.repeat)
        self.clean_transfers(server)
        size = self.a.size_mib * MIB
        figures = {name: self.figures(result, size) for name, result in medians.items()}

        def of(client, key):
            return figures[client][key] if client in figures else None

        table.row("%s, MiB/s" % label, of("tarnex", "mib_s"), of("curl", "mib_s"),
                  of("lftp", "mib_s"), "higher", speed, "%.0f")
        table.row("%s, CPU s per GiB" % label, of("tarnex", "cpu_gib"), of("curl", "cpu_gib"),
                  of("lftp", "cpu_gib"), "lower", cpu, "%.3f")
        return figures

    # -- listing and commands ---------------------------------------------------------------
    def listing_job(self, server, client):
        if client == "tarnex":
            command = tarnex(self.tarnex, server, "list", ["many"])
        elif client == "curl":
            command = curl(server, False) + ["-o", os.devnull, url(server, "many/")]
        else:
            command = lftp(server, False, "ls many > %s" % os.devnull)
        return Job(command)

    def listing_row(self, table, server, limit):
        print("bench: %s: listing" % server.name, flush=True)
        lists = interleaved({client: self.listing_job(server, client) for client in CLIENTS},
                            self.work, self.a.repeat)
        table.row("listing of %d entries (PORT), s" % self.a.entries, lists["tarnex"]["elapsed"],
                  lists["curl"]["elapsed"], lists["lftp"]["elapsed"], "lower", limit, "%.3f")

    def session_job(self, server, client, count):
        """One login, `count` NOOPs, the end of the session; no data connection."""
        if client == "tarnex":
            command = tarnex(self.tarnex, server, "noop", [str(count)])
        elif client == "curl":
            # --head asks for the file's size and date only: no data connection.
            command = ["curl", "-s", "-S", "--head"] + \
                sum((["-Q", "NOOP"] for _ in range(count)), []) + \
                ["-o", os.devnull, url(server, "empty.txt")]
        else:
            command = lftp(server, False, "; ".join(["quote NOOP"] * count))
        return Job(command)

    def noop_row(self, table, server):
        # Sessions of 1 and of 1 + N commands: the difference is N round trips, whatever a
        # client does to log in and out (lftp connects only for its first command).
        print("bench: %s: commands" % server.name, flush=True)
        jobs = {}
        for client in CLIENTS:
            jobs[client + " 1"] = self.session_job(server, client, 1)
            jobs[client + " N"] = self.session_job(server, client, 1 + self.a.commands)
        medians = interleaved(jobs, self.work, max(self.a.repeat, 5))
        per = {client: max(medians[client + " N"]["elapsed"] - medians[client + " 1"]["elapsed"],
                           0.0) * 1000.0 / self.a.commands for client in CLIENTS}
        table.row("NOOP round trip (%d in one session), ms" % self.a.commands, per["tarnex"],
                  per["curl"], per["lftp"], "lower", 1.0, "%.3f")

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
    def runner_job(self, server, rates):
        """tarnex-run with a script that gets the big file; the rate of its summary line goes
        to `rates`."""
        size = os.path.getsize(os.path.join(server.root, "big.bin"))
        target = self.local_path("got-runner.bin")
        script = runner_script(os.path.join(self.work, "get.fcs"), server,
                               ["Binary", "Get big.bin %s" % target])

        def check(result):
            self.expect_size(target, size)(result)
            found = re.search(r"Retrived End (\d+) Byte \(([\d.]+)Byte/sec\)", result["stdout"])
            if not found:
                sys.exit("bench: tarnex-run logged no summary line:\n" + result["stdout"])
            rates.append(float(found.group(2)) / MIB)

        return Job([self.runner, script], before=self.fresh(target), check=check,
                   env=self.runner_env)

    def replacement_job(self, server, client, existing):
        """The big file downloaded by tarnex-run (a script `Get`, timed as a whole process like
        curl) or curl, over PORT, to a new file or over an existing one of the same size (a copy
        made before the run, outside its time). tarnex-run writes a temporary file beside the
        target and renames it over the old one once complete; curl truncates the old file and
        writes into it."""
        source = os.path.join(server.root, "big.bin")
        size = os.path.getsize(source)
        target = self.local_path("replaced-%s.bin" % client)
        if client == "tarnex":
            script = runner_script(os.path.join(self.work, "replace.fcs"), server,
                                   ["Binary", "Get big.bin %s" % target])
            command = [self.runner, "--active", script]
        else:
            command = curl(server, False) + ["-o", target, url(server, "big.bin")]

        def before():
            self.fresh(target)()
            if existing:
                # An old file: its bytes are on disk already (on tmpfs there is no disk), so
                # that no client pays for writing back a copy made a moment before.
                shutil.copyfile(source, target)
                with open(target, "rb") as stream:
                    os.fsync(stream.fileno())

        return Job(command, before=before, check=self.expect_size(target, size),
                   env=self.runner_env if client == "tarnex" else None)

    def replacement_rows(self, table, server):
        """The big download to a new file and over an existing one, wall and CPU time of
        tarnex-run against curl's; every run removes its file afterwards."""
        place = "tmpfs" if filesystem_type(self.local) == "tmpfs" else filesystem_type(self.local)
        print("bench: %s: download %s to a new file and over an existing one (%s)"
              % (server.name, self.big, place), flush=True)
        jobs = {"%s %s" % (client, case): self.replacement_job(server, client, case == "over")
                for client in ("tarnex", "curl") for case in ("new", "over")}
        medians = interleaved(jobs, self.work, self.a.repeat)
        for case, text, limit in (("new", "to a new file", None),
                                  ("over", "over an existing file", 0.8)):
            for key, unit, what in (("elapsed", "%.2f", "wall s"), ("cpu", "%.2f", "CPU s")):
                label = "tarnex-run `Get` %s %s (%s, PORT), %s" % (self.big, text, place, what)
                tarnex_value = medians["tarnex " + case][key]
                curl_value = medians["curl " + case][key]
                if limit:
                    table.row(label, tarnex_value, curl_value, None, "lower", limit, unit)
                else:
                    table.rows.append((label, fmt(tarnex_value, unit), fmt(curl_value, unit), "–",
                                       "%.2f" % (tarnex_value / curl_value), "–", "–"))

    def dir_row(self, table, server):
        """`Dir huge >FILE` in a tarnex-run script against curl writing the same listing to a
        file, both over PORT; each file must hold a line per entry, and goes after the run."""
        entries = self.a.huge_entries
        print("bench: %s: Dir of %d entries" % (server.name, entries), flush=True)
        targets = {client: self.local_path("dir-%s.txt" % client)
                   for client in ("tarnex", "curl")}

        def count_lines(client):
            def check(result):
                lines = -1
                if os.path.exists(targets[client]):
                    with open(targets[client], "rb") as stream:
                        lines = sum(block.count(b"\n")
                                    for block in iter(lambda: stream.read(MIB), b""))
                    os.remove(targets[client])
                if lines < entries:
                    sys.exit("bench: the %s listing has %d lines, expected %d or more\n%s"
                             % (client, lines, entries, result["stdout"][-2000:]))
            return check

        # The folder takes a while to list before its first line arrives: a time-out to spare.
        runner = [self.runner, "--active", "--timeout", "600"]
        listing = runner_script(os.path.join(self.work, "dir.fcs"), server,
                                ["Dir huge >%s" % targets["tarnex"]])
        bare = runner_script(os.path.join(self.work, "no-dir.fcs"), server, [])
        medians = interleaved({
            "tarnex": Job(runner + [listing], before=self.fresh(targets["tarnex"]),
                          check=count_lines("tarnex"), env=self.runner_env),
            "tarnex without Dir": Job(runner + [bare], env=self.runner_env),
            "curl": Job(curl(server, False) + ["-o", targets["curl"], url(server, "huge/")],
                        before=self.fresh(targets["curl"]), check=count_lines("curl")),
        }, self.work, self.a.repeat)
        # The script without the Dir line has the same start, Open, Login and Bye, so the
        # difference of the medians is the Dir line alone (the runner makes no pause between
        # lines unless --step-delay asks for one).
        seconds = max(medians["tarnex"]["elapsed"] - medians["tarnex without Dir"]["elapsed"],
                      0.0)
        table.row("`Dir >file` of {:,} entries (PORT), s".format(entries), seconds,
                  medians["curl"]["elapsed"], None, "lower", 1.2, "%.2f")

    # -- a batch job of a few small files ---------------------------------------------------
    def small_job(self, server, client, passive):
        """The 12-line job: Open, Login, Binary, Cd incoming, five Puts, Dir, Get, Bye, as a
        tarnex-run script (no pause between lines, the runner's default) and as the same lftp
        commands, each timed as a whole process. Before each run the server's copies and the
        download go; after it every file must be there with its size."""
        size = self.a.job_kib * 1024
        sources = [self.local_path("job/job-%d.bin" % index) for index in range(1, 6)]
        uploaded = [os.path.join(server.upload_folder(), os.path.basename(path))
                    for path in sources]
        target = self.local_path("job-got-%s.bin" % client)
        if client == "lftp":
            command = lftp(server, passive, "; ".join(
                ["cd %s" % server.upload_dir] + ["put %s" % path for path in sources] +
                ["ls", "get ../job-get.bin -o %s" % target, "bye"]))
        else:
            lines = ["Binary", "Cd %s" % server.upload_dir] + \
                    ["Put %s" % path for path in sources] + \
                    ["Dir", "Get ../job-get.bin %s" % target]
            script = runner_script(os.path.join(self.work, "job.fcs"), server, lines)
            command = [self.runner] + (["--passive"] if passive else ["--active"]) + [script]

        def check(result):
            for path in uploaded + [target]:
                actual = os.path.getsize(path) if os.path.exists(path) else -1
                if actual != size:
                    sys.exit("bench: the %s job left %s with %d bytes, expected %d\n%s"
                             % (client, path, actual, size, result["stdout"][-2000:]))

        return Job(command, before=self.fresh(*uploaded, target), check=check,
                   env=self.runner_env if client == "tarnex" else None)

    def small_job_rows(self, table, server):
        # A job takes some 50 ms: more rounds than the long rows, for a steady median.
        for passive in (False, True):
            mode = "PASV" if passive else "PORT"
            print("bench: %s: 12-line job, %s" % (server.name, mode), flush=True)
            medians = interleaved({client: self.small_job(server, client, passive)
                                   for client in ("tarnex", "lftp")},
                                  self.work, max(self.a.repeat, 15))
            tarnex_value = medians["tarnex"]["elapsed"]
            lftp_value = medians["lftp"]["elapsed"]
            ratio = tarnex_value / lftp_value if lftp_value else float("inf")
            table.rows.append(("12-line job: 5 Puts, Dir, Get of %d KiB (%s), s"
                               % (self.a.job_kib, mode), fmt(tarnex_value, "%.3f"), "–",
                               fmt(lftp_value, "%.3f"), "%.2f (÷ lftp)" % ratio,
                               "≤ 1.0 × lftp", "yes" if ratio <= 1.0 else "NO"))

    # -- mirror -----------------------------------------------------------------------------
    def mirror_job(self, server, client, seconds):
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
            return Job(lftp(server, False, "mirror tree %s" % target), before=fresh,
                       check=count_and_remove)
        script = runner_script(os.path.join(self.work, "mirror.fcs"), server,
                               ["Binary", "mirror tree %s" % target])

        def check(result):
            found = re.search(r"^mirror: (\d+) transferred, .* \(([\d.]+) s\)", result["stdout"],
                              re.MULTILINE)
            if not found or int(found.group(1)) != files:
                sys.exit("bench: tarnex-run did not mirror %d files:\n%s"
                         % (files, result["stdout"][-2000:]))
            seconds.append(float(found.group(2)))
            count_and_remove(result)

        return Job([self.runner, script], before=fresh, check=check, env=self.runner_env)

    def mirror_row(self, table, server):
        print("bench: mirror of %d files" % self.a.mirror_files, flush=True)
        seconds = []
        medians = interleaved({"tarnex": self.mirror_job(server, "tarnex", seconds),
                               "lftp": self.mirror_job(server, "lftp", seconds)},
                              self.work, self.a.repeat)
        tarnex_value = statistics.median(seconds)
        lftp_value = medians["lftp"]["elapsed"]
        ratio = tarnex_value / lftp_value if lftp_value else float("inf")
        table.rows.append(("mirror of %d files of %d KiB (PORT), s" % (self.a.mirror_files,
                                                                       self.a.mirror_kib),
                           fmt(tarnex_value, "%.2f"), "–", fmt(lftp_value, "%.2f"),
                           "%.2f (÷ lftp)" % ratio, "≤ 1.0 × lftp",
                           "yes" if ratio <= 1.0 else "NO"))

    # -- many files behind the latency proxy ------------------------------------------------
    MANY = {  # kind: what it moves, tarnex-run's line, lftp's command (source, destination)
        "mirror down": ("mirror", "mirror %s %s", "mirror%s %s %s"),
        "mirror up": ("mirror", "mirror -R %s %s", "mirror -R%s %s %s"),
        "mget": ("mget", "mget %s", "mget%s -O %s %s"),
    }

    def many_files_job(self, server, kind, client, parallel, seconds):
        """A mirror of the tree down into an empty local folder, or up into a new remote
        one, or an mget of the folder's files into an empty local folder, over PORT (PASV with
        `parallel`: pyftpdlib misses its own connects when one client opens several active
        data connections at once, and would have every client wait for its time-out). Tarnex is
        tarnex-run, timed by the command's summary line (its listings, plan and transfers, not
        the start and the login); lftp is timed as a whole process, login included. `parallel`:
        transfers at once (tarnex's --parallel N, lftp's --parallel=N or -P N), or 0."""
        verb, tarnex_line, lftp_line = self.MANY[kind]
        if kind == "mget":
            files = self.a.mget_files
            source = "mget/*"
            target = self.local_path("mget-%s" % client)
            written = target
        else:
            files = self.a.rtt_mirror_files
            remote = "rtt-up-%s" % client
            source = self.local_path("rtt-tree") if kind == "mirror up" else "rtt-tree"
            target = remote if kind == "mirror up" else self.local_path("rtt-down-%s" % client)
            written = os.path.join(server.root, remote) if kind == "mirror up" else target

        def fresh():
            shutil.rmtree(written, ignore_errors=True)
            if kind == "mget":
                os.makedirs(written)

        def count_and_remove(result):
            found = sum(len(names) for _, _, names in os.walk(written))
            if found != files:
                sys.exit("bench: the %s %s left %d files, expected %d\n%s"
                         % (client, kind, found, files, result["stdout"][-2000:]))
            fresh()

        if client == "lftp":
            option = ""
            if parallel:
                option = (" -P %d" if kind == "mget" else " --parallel=%d") % parallel
            return Job(lftp(server, bool(parallel),
                            lftp_line % (option, target, source) if kind == "mget"
                            else lftp_line % (option, source, target)),
                       before=fresh, check=count_and_remove)
        line = tarnex_line % (source,) if kind == "mget" else tarnex_line % (source, target)
        if parallel:
            line = line.replace(verb + " ", "%s --parallel %d " % (verb, parallel), 1)
        lines = (["Binary"] + (["Passive on"] if parallel else []) +
                 (["lcd %s" % target] if kind == "mget" else []) + [line])
        script = runner_script(os.path.join(self.work, "many.fcs"), server, lines)

        def check(result):
            found = re.search(r"^%s: (\d+) transferred, .* \(([\d.]+) s\)" % verb,
                              result["stdout"], re.MULTILINE)
            if not found or int(found.group(1)) != files:
                sys.exit("bench: tarnex-run did not move %d files (%s):\n%s"
                         % (files, line, result["stdout"][-2000:]))
            seconds.append(float(found.group(2)))
            count_and_remove(result)

        return Job([self.runner, script], before=fresh, check=check, env=self.runner_env)

    def takes_parallel(self, server, verb):
        """Whether tarnex-run's `verb` (mirror or mget) takes --parallel N: a runner without
        the option fails a script that gives it (an unknown option, or a pattern that matches
        nothing)."""
        probe = self.local_path("parallel-probe")
        shutil.rmtree(probe, ignore_errors=True)
        os.makedirs(probe)
        line = ("mget --parallel 2 mget/g00000.bin" if verb == "mget" else
                "mirror --parallel 2 --dry-run rtt-tree/d000 %s/d" % probe)
        script = runner_script(os.path.join(self.work, "probe.fcs"), server,
                               ["Binary", "lcd %s" % probe, line])
        completed = subprocess.run([self.runner, script], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, env=self.runner_env, timeout=120)
        shutil.rmtree(probe, ignore_errors=True)
        return completed.returncode == 0

    def many_files_row(self, table, server, kind, parallel, counter, target):
        files = self.a.mget_files if kind == "mget" else self.a.rtt_mirror_files
        kib = self.a.mget_kib if kind == "mget" else self.a.mirror_kib
        what = "mget" if kind == "mget" else "mirror %s" % ("upload" if kind == "mirror up"
                                                              else "download")
        label = "%s of %d files of %d KiB%s (%s), s" % (
            what, files, kib, ", --parallel %d" % parallel if parallel else "",
            "PASV" if parallel else "PORT")
        if parallel and not self.takes_parallel(server, self.MANY[kind][0]):
            table.rows.append((label, "not built", "–", "–", "–", target or "–", "–"))
            return
        print("bench: %s: %s" % (server.name, label), flush=True)
        seconds = []
        medians = interleaved({client: self.many_files_job(server, kind, client, parallel,
                                                           seconds)
                               for client in ("tarnex", "lftp")},
                              self.work, self.a.repeat, counter)
        tarnex_value = statistics.median(seconds)
        lftp_value = medians["lftp"]["elapsed"]
        ratio = tarnex_value / lftp_value if lftp_value else float("inf")
        met = "–" if not target else "yes" if ratio <= float(target.split()[1]) else "NO"
        table.rows.append((label, fmt(tarnex_value, "%.2f"), "–", fmt(lftp_value, "%.2f"),
                           "%.2f (÷ lftp)" % ratio, target or "–", met))
        table.notes.append("Commands per file, %s: tarnex %s, lftp %s." % (
            label[:-3], counter.per_file("tarnex", files), counter.per_file("lftp", files)))

    # -- the tables -------------------------------------------------------------------------
    def intro(self, server):
        return ("%s, %s, %d cores, curl %s, lftp %s; medians of %d runs; server: %s."
                % (datetime.date.today().isoformat(), platform.machine(), os.cpu_count(),
                   tool_version(["curl", "--version"]), tool_version(["lftp", "--version"]),
                   self.a.repeat, server))

    def run(self):
        self.prepare()
        tables = []
        if "pyftpdlib" in self.a.servers and not self.a.rtt_only:
            tables.append(self.pyftpdlib_table())
        if self.a.rtt_ms:
            tables.append(self.delayed_table())
        if "vsftpd" in self.a.servers and not self.a.mirror_only:
            try:
                tables.append(self.vsftpd_table())
            except Unavailable as reason:
                if os.geteuid() == 0:
                    sys.exit("bench: vsftpd does not serve: %s" % reason)
                print("bench: vsftpd cannot serve without root here (%s); no vsftpd table"
                      % reason, flush=True)
        if self.a.sftp:
            try:
                tables.append(self.sftp_table())
            except Unavailable as reason:
                print("bench: no SFTP table: %s" % reason, flush=True)
        return "\n".join(table.text() for table in tables)

    def pyftpdlib_table(self):
        table = Table(self.intro("pyftpdlib %s on 127.0.0.1 (one process)" % pyftpdlib_version()))
        server = Server(self.a.source, self.root, self.work)
        endpoint = server.endpoint
        if self.a.mirror_only:
            try:
                self.mirror_row(table, endpoint)
            finally:
                server.stop()
            return table
        try:
            for direction in ("download", "upload"):
                for passive in (False, True):
                    rates = []
                    extra = {"tarnex-run": self.runner_job(endpoint, rates)} if (
                        direction == "download" and not passive) else None
                    figures = self.transfer_rows(table, endpoint, direction, passive, 1.0, 1.2,
                                                 extra)
                    if rates:
                        runner = figures["tarnex-run"] | {"mib_s": statistics.median(rates)}
                        big_download = figures
            print("bench: memory", flush=True)
            small = interleaved({"tarnex": self.download_job(endpoint, "tarnex", False,
                                                             "small.bin")},
                                self.work, self.a.repeat)["tarnex"]
            self.clean_transfers(endpoint)
            small_rss = small["rss_kib"] / 1024.0
            rss_big = big_download["tarnex"]["rss_mib"]
            table.absolute_row("peak RSS, download %d MiB → %s, MiB" % (self.a.small_mib,
                                                                         self.big),
                               rss_big, "%.1f", "flat (≤ +10 %% over %.1f)" % small_rss,
                               rss_big <= small_rss * 1.10 + 1.0,
                               curl_value=big_download["curl"]["rss_mib"])
            self.listing_row(table, endpoint, 1.5)
            self.noop_row(table, endpoint)
            table.row("tarnex-run `Get` %s (PORT), MiB/s" % self.big, runner["mib_s"],
                      big_download["curl"]["mib_s"], None, "higher", 1.0, "%.0f")
            table.row("tarnex-run `Get` %s (PORT), CPU s per GiB" % self.big, runner["cpu_gib"],
                      big_download["curl"]["cpu_gib"], None, "lower", 1.2, "%.3f")
            self.mirror_row(table, endpoint)
        finally:
            server.stop()
        print("bench: silent server", flush=True)
        share, waited = self.silent_share("tarnex")
        curl_share, _ = self.silent_share("curl")
        table.absolute_row("silent server: CPU while waiting %.1f s for the time-out, %% of a core"
                           % waited, share, "%.2f", "< 1 %", share < 1.0, curl_value=curl_share)
        return table

    def delayed_table(self):
        """pyftpdlib behind the latency proxy: what the round trips of a network cost. The
        big download in passive mode (curl's and lftp's too), the mirrors of a tree both ways
        and an mget, one at a time and --parallel, with the commands each client sent per
        file."""
        one_way = self.a.rtt_ms // 2
        table = Table(self.intro("pyftpdlib %s on 127.0.0.1 behind the latency proxy, %d ms "
                                 "each way (%d ms round trip)"
                                 % (pyftpdlib_version(), one_way, self.a.rtt_ms)))
        server = Server(self.a.source, self.root, self.work)
        proxy = LatencyProxy(self.a.build, server.port, one_way)
        endpoint = dataclasses.replace(server.endpoint, name="pyftpdlib+%dms" % self.a.rtt_ms,
                                       port=proxy.port)
        counter = CommandCounter(proxy)
        try:
            self.transfer_rows(table, endpoint, "download", True, 1.0, 1.2)
            for parallel in (0, self.a.parallel):
                for kind in ("mirror down", "mirror up", "mget"):
                    target = ("≤ 0.9 × lftp" if parallel else
                              "" if kind == "mget" else "≤ 1.0 × lftp")
                    self.many_files_row(table, endpoint, kind, parallel, counter, target)
        finally:
            proxy.stop()
            server.stop()
        return table

    def vsftpd_table(self):
        if not os.access(VSFTPD, os.X_OK):
            sys.exit("bench: %s is missing (bench/run.sh installs it)" % VSFTPD)
        version = package_version("vsftpd")
        tls = "" if self.a.job_only or self.a.replace_only else (
            "; FTPS: explicit TLS, a self-signed RSA 2048 certificate, TLS session reuse "
            "required on data connections")
        table = Table(self.intro("vsftpd %s on 127.0.0.1, anonymous%s" % (version, tls)))
        folder, root = self.prepare_vsftpd()
        servers = []
        try:
            servers.append(Vsftpd("vsftpd", folder, root))
            if self.a.job_only:
                self.check_serves(servers[0].endpoint)
                self.small_job_rows(table, servers[0].endpoint)
                return table
            if self.a.replace_only:
                self.check_serves(servers[0].endpoint)
                self.replacement_rows(table, servers[0].endpoint)
                return table
            servers.append(Vsftpd("vsftpd-tls", folder, root, make_certificate(folder)))
            plain, tls = (server.endpoint for server in servers)
            for endpoint in (plain, tls):
                self.check_serves(endpoint)
            for direction in ("download", "upload"):
                for passive in (False, True):
                    self.transfer_rows(table, plain, direction, passive, 1.25, 0.6)
            self.replacement_rows(table, plain)
            self.listing_row(table, plain, 1.0)
            self.noop_row(table, plain)
            self.small_job_rows(table, plain)
            self.dir_row(table, plain)
            for direction in ("download", "upload"):
                for passive in (False, True):
                    self.transfer_rows(table, tls, direction, passive, 1.0, 1.0)
        finally:
            for server in servers:
                server.stop()
        return table

    # -- SFTP ---------------------------------------------------------------------------------
    def sftp_job(self, sshd, client, direction):
        """The big file down from or up to sshd by `client` (tarnex-run, OpenSSH's sftp -b,
        curl), timed as a whole process, login included; the file it wrote is checked for its
        size."""
        source = os.path.join(self.root, "big.bin")
        size = os.path.getsize(source)
        if direction == "download":
            remote, local = source, self.local_path("got-sftp-%s.bin" % client)
            written = local
        else:
            remote = os.path.join(self.work, "sftp-up", "up-%s.bin" % client)
            local = self.local_path("big-source.bin")
            written = remote
        env = None
        if client == "tarnex":
            verb = "Get %s %s" % (remote, local) if direction == "download" else "Put %s %s" % (
                local, remote)
            script = os.path.join(self.work, "sftp-%s.fcs" % direction)
            with open(script, "w", newline="") as stream:
                stream.write("".join(line + "\r\n" for line in [
                    "Open sftp://%s:%d" % (HOST, sshd.port), "Login root", "Binary", verb,
                    "Bye"]))
            command = [self.runner, "--ssh-config", sshd.client_config, script]
            env = self.runner_env
        elif client == "sftp":
            batch = os.path.join(self.work, "sftp-%s.batch" % direction)
            with open(batch, "w") as stream:
                stream.write("get %s %s\n" % (remote, local) if direction == "download"
                             else "put %s %s\n" % (local, remote))
            command = ["sftp", "-q", "-F", sshd.client_config, "-b", batch, "-P", str(sshd.port),
                       HOST]
        else:
            command = self.sftp_curl(sshd) + (
                ["-o", local, "sftp://root@%s:%d%s" % (HOST, sshd.port, remote)]
                if direction == "download" else
                ["-T", local, "sftp://root@%s:%d%s" % (HOST, sshd.port, remote)])
        return Job(command, before=self.fresh(written), check=self.expect_size(written, size),
                   env=env)

    @staticmethod
    def sftp_curl(sshd):
        # The run's user key, and the host key pinned by its SHA-256: no -k/--insecure.
        return ["curl", "-s", "-S", "--key", sshd.user_key, "--pubkey", sshd.user_key + ".pub",
                "--hostpubsha256", sshd.sha256]

    def curl_speaks(self, sshd):
        """Whether curl agrees on the server's one cipher (libssh2 1.10 knows neither AES-GCM
        nor ChaCha20-Poly1305): one small download, bounded."""
        probe = os.path.join(self.work, "sftp-probe.bin")
        with open(probe, "wb") as stream:
            stream.write(b"probe")
        try:
            completed = subprocess.run(
                self.sftp_curl(sshd) + ["-m", "20", "-o", os.devnull,
                                        "sftp://root@%s:%d%s" % (HOST, sshd.port, probe)],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
        except subprocess.TimeoutExpired:
            return False
        return completed.returncode == 0

    def sftp_table(self):
        table = PeerTable(
            "%s, %s, %d cores, OpenSSH %s (sshd with internal-sftp, ssh and sftp), curl %s "
            "(libssh2 %s); medians of %d alternated runs; 127.0.0.1, root with an Ed25519 key; "
            "the same single cipher offered by the server and asked for by every client."
            % (datetime.date.today().isoformat(), platform.machine(), os.cpu_count(),
               package_version("openssh-server"), tool_version(["curl", "--version"]),
               package_version("libssh2-1"), self.a.repeat))
        folder = os.path.join(self.work, "sshd")
        os.makedirs(folder, exist_ok=True)
        os.makedirs(os.path.join(self.work, "sftp-up"), exist_ok=True)
        size = self.a.size_mib * MIB
        for cipher in self.a.sftp_ciphers:
            sshd = Sshd(folder, cipher)
            try:
                clients = [client for client in SFTP_CLIENTS
                           if client != "curl" or self.curl_speaks(sshd)]
                if "curl" not in clients:
                    table.notes.append("curl cannot take part with %s: its libssh2 does not "
                                       "offer that cipher." % cipher)
                short = cipher.split("@")[0] + ("" if sshd.aead else " + hmac-sha2-256")
                for direction in ("download", "upload"):
                    label = "%s %s, %s" % (direction, self.big, short)
                    print("bench: sftp: %s" % label, flush=True)
                    jobs = {client: self.sftp_job(sshd, client, direction) for client in clients}
                    medians = interleaved(jobs, self.work, self.a.repeat)
                    figures = {name: self.figures(result, size)
                               for name, result in medians.items()}

                    def of(client, key):
                        return figures[client][key] if client in figures else None

                    table.peer_row("%s, MiB/s" % label, of("tarnex", "mib_s"),
                                   [of("sftp", "mib_s"), of("curl", "mib_s")], "higher", 1.0,
                                   "%.0f")
                    table.peer_row("%s, CPU s per GiB" % label, of("tarnex", "cpu_gib"),
                                   [of("sftp", "cpu_gib"), of("curl", "cpu_gib")], "lower", 1.0,
                                   "%.3f")
            finally:
                sshd.stop()
        return table

    def check_serves(self, server):
        """One listing of the root by curl (bounded): a server that takes connections but
        cannot log in or send data is told apart before anything is timed."""
        try:
            completed = subprocess.run(curl(server, True) + ["-m", "10", "-o", os.devnull,
                                                             url(server, "")],
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                       timeout=30)
        except subprocess.TimeoutExpired:
            raise Unavailable("%s answered no listing within 30 s" % server.name)
        if completed.returncode != 0:
            raise Unavailable("%s lists nothing: %s" % (
                server.name, completed.stdout.decode(errors="replace").strip()))


def filesystem_type(path):
    """The type of the file system that holds `path` ("tmpfs", "ext4", ...), from the mounts."""
    path = os.path.realpath(path)
    best, kind = "", "?"
    with open("/proc/self/mounts") as stream:
        for line in stream:
            fields = line.split()
            mount = fields[1].replace("\\040", " ")
            inside = path == mount or path.startswith(mount.rstrip("/") + "/")
            if inside and len(mount) >= len(best):
                best, kind = mount, fields[2]
    return kind


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


def package_version(package):
    try:
        output = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=10).stdout.decode().strip()
        return output or "?"
    except (OSError, subprocess.TimeoutExpired):
        return "?"


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
        tables = bench.run()
    finally:
        shutil.rmtree(bench.work, ignore_errors=True)
    print()
    print(tables)
    if arguments.markdown:
        with open(arguments.markdown, "w") as stream:
            stream.write(tables)
    return 0


if __name__ == "__main__":
    sys.exit(main())
