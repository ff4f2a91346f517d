#!/usr/bin/python3
"""A small FTP server on 127.0.0.1 for Tarnex's tests, demo and benchmarks.

    ftpd.py --port 0 --root DIR --user U --password P [--anonymous] [--port-file FILE]
            [--host ::1] [--tls explicit|implicit --cert FILE]
    ftpd.py --check

Serves DIR to the user U (all rights) and, with --anonymous, read-only to "anonymous".
Port 0 lets the system choose; once the server listens, the port is printed alone on a line
of standard output and, with --port-file, written to FILE. Both PORT and PASV work. Names
travel as raw bytes, so Shift-JIS names reach the disk unchanged. SIGTERM stops it cleanly.
--check only tests that the server library can be loaded (exit status 0) and prints nothing.
Run it with Debian's /usr/bin/python3, which sees the python3-pyftpdlib package.
"""

import argparse
import logging
import os
import signal
import sys

LOOPBACK_HOSTS = ("127.0.0.1", "::1")  # loopback only, whatever else the machine has


def load_library():
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
    return DummyAuthorizer, FTPHandler, FTPServer


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description="FTP server on 127.0.0.1 for Tarnex tests")
    parser.add_argument("--check", action="store_true",
                        help="only test that the FTP server library is installed")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (0 = any free)")
    parser.add_argument("--host", default="127.0.0.1", choices=LOOPBACK_HOSTS,
                        help="loopback address to listen on")
    parser.add_argument("--root", help="folder to serve")
    parser.add_argument("--user", default="tarnex")
    parser.add_argument("--password", default="tarnex")
    parser.add_argument("--anonymous", action="store_true",
                        help="also let 'anonymous' in, read-only")
    parser.add_argument("--port-file", help="write the port here once listening")
    parser.add_argument("--tls", choices=("explicit", "implicit"),
                        help="FTPS: AUTH TLS required, or TLS from the first byte")
    parser.add_argument("--cert", help="PEM file with the certificate and its private key")
    parser.add_argument("--verbose", action="store_true", help="log every command")
    arguments = parser.parse_args(argv)
    if not arguments.check:
        if not arguments.root:
            parser.error("--root is required")
        if not os.path.isdir(arguments.root):
            parser.error("--root %s is not a folder" % arguments.root)
        if not 0 <= arguments.port <= 65535:
            parser.error("--port must be 0..65535")
        if arguments.tls and not arguments.cert:
            parser.error("--tls needs --cert")
    return arguments


def make_handler(base, authorizer, implicit_tls=False):
    from pyftpdlib.handlers import FTPHandler

    class Handler(base):
        # Commands and names are bytes to the client; decoding with surrogateescape keeps
        # every byte, and the file system functions turn them back into the same bytes.
        unicode_errors = "surrogateescape"
        # Data connections go back to the client's own loopback address, to its ephemeral
        # port; the defaults that refuse other addresses and ports below 1024 stay in force.
        permit_foreign_addresses = False
        permit_privileged_ports = False
        banner = "Tarnex test FTP server ready."
        # Tests try wrong passwords on purpose; no need to make them wait for the answer.
        auth_failed_timeout = 0

        def push(self, text):
            # Replies may quote names with undecodable bytes; send those bytes back as they came.
            super(FTPHandler, self).push(text.encode("utf8", self.unicode_errors))

        def handle(self):
            # Implicit TLS: the connection is secured before the greeting, which then goes
            # out encrypted like everything after it.
            if implicit_tls:
                self.secure_connection(self.ssl_context)
                self._pbsz = True
            super().handle()

    Handler.authorizer = authorizer
    return Handler


def write_port_file(path, port):
    # Write then rename, so that a reader never sees a half-written file.
    temporary = path + ".tmp"
    with open(temporary, "w") as stream:
        stream.write("%d\n" % port)
    os.replace(temporary, path)


def serve(arguments):
    DummyAuthorizer, FTPHandler, FTPServer = load_library()
    logging.basicConfig(level=logging.DEBUG if arguments.verbose else logging.WARNING,
                        format="ftpd.py: %(message)s")
    root = os.path.abspath(arguments.root)
    authorizer = DummyAuthorizer()
    authorizer.add_user(arguments.user, arguments.password, root, perm="elradfmwMT")
    if arguments.anonymous:
        authorizer.add_anonymous(root)
    base = FTPHandler
    if arguments.tls:
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler
        base.certfile = arguments.cert
        # Nothing in clear: names and passwords only after AUTH, data only protected.
        base.tls_control_required = True
        base.tls_data_required = True
    handler = make_handler(base, authorizer, arguments.tls == "implicit")
    server = FTPServer((arguments.host, arguments.port), handler)
    port = server.socket.getsockname()[1]
    if arguments.port_file:
        write_port_file(arguments.port_file, port)
    print(port, flush=True)
    # serve_forever turns SystemExit into a clean shutdown of every connection.
    signal.signal(signal.SIGTERM, lambda *unused: sys.exit(0))
    server.serve_forever(handle_exit=True)


def main(argv):
    arguments = parse_arguments(argv)
    if arguments.check:
        try:
            load_library()
        except ImportError:
            return 1
        return 0
    serve(arguments)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
