#!/usr/bin/env python3
"""A scripted SFTP "server" for the session's tests: speaks just enough version 3 to reach the
fault its mode names, then reads its input until the end."""
import struct
import sys

mode = sys.argv[1]
inp = sys.stdin.buffer
out = sys.stdout.buffer


def read_packet():
    head = inp.read(4)
    if len(head) < 4:
        sys.exit(0)
    body = inp.read(struct.unpack('>I', head)[0])
    return body[0], body[1:]


def send(kind, payload):
    out.write(struct.pack('>IB', len(payload) + 1, kind) + payload)
    out.flush()


def string(data):
    return struct.pack('>I', len(data)) + data


def drain():
    while inp.read(65536):
        pass
    sys.exit(0)


read_packet()  # INIT
if mode == 'version4':
    send(2, struct.pack('>I', 4))
    drain()
send(2, struct.pack('>I', 3))
while True:
    kind, body = read_packet()
    request = struct.unpack('>I', body[:4])[0]
    if mode == 'oversized':
        out.write(struct.pack('>I', 0x7fffffff) + b'\x65')
        out.flush()
        drain()
    elif mode == 'unknown-id':
        send(101, struct.pack('>II', request + 1000, 0) + string(b'') + string(b''))
        drain()
    elif mode == 'silent-after-login' and kind == 16:  # REALPATH: the login's
        send(104, struct.pack('>II', request, 1) + string(b'/fake') + string(b'') +
             struct.pack('>I', 0))
    # silent-after-login: nothing more is ever answered
