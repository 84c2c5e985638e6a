#!/usr/bin/python3
"""The FTP drop box for files customers send to agents: pyftpdlib serving one folder with one user.

Usage: pelio-dropbox.py --root DIR [--host 127.0.0.1] [--port 2121] [--user pelio] [--password pelio]

The customer's program sends names in code page 949 (the code page its peers use). pyftpdlib reads
and writes names as UTF-8 only, so this handler reads the names of commands as UTF-8 or else code
page 949, and writes replies and listings in code page 949; on disk the names stay UTF-8, as the web site that publishes the folder
as "userfiles/" expects. File contents are not touched. Port 0 takes a free port; the line
"starting FTP server on HOST:PORT" says which.
"""
import argparse
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

PEER_CODEC = "cp949"
LISTINGS = ("LIST", "NLST", "MLSD", "MLST")


def to_peer(data):
    return data.decode("utf8", "replace").encode(PEER_CODEC, "replace")


class DropBoxHandler(FTPHandler):
    def decode(self, raw):
        # Code page 949 Korean is almost never valid UTF-8, so UTF-8 is tried first: other clients
        # that send UTF-8 names keep working.
        try:
            return raw.decode("utf8")
        except UnicodeDecodeError:
            return raw.decode(PEER_CODEC, "replace")

    def push(self, s):
        self.push_raw(s.encode(PEER_CODEC, "replace"))

    def push_raw(self, data):
        # The command channel's own push, below the text-to-bytes step of FTPHandler.push.
        super(FTPHandler, self).push(data)

    def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
        if cmd in LISTINGS:
            if isproducer:
                data = (to_peer(chunk) for chunk in data)
            else:
                data = to_peer(data)
        return super().push_dtp_data(data, isproducer=isproducer, file=file, cmd=cmd)


def main():
    parser = argparse.ArgumentParser(description="FTP drop box (code page 949 names)")
    parser.add_argument("--root", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=2121)
    parser.add_argument("--user", default="pelio")
    parser.add_argument("--password", default="pelio")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    DropBoxHandler.authorizer = authorizer
    DropBoxHandler.passive_ports = None
    server = FTPServer((args.host, args.port), DropBoxHandler)
    host, port = server.socket.getsockname()[:2]
    print("starting FTP server on %s:%d" % (host, port), flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
