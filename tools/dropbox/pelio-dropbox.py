#!/usr/bin/python3
"""The FTP drop box for files customers send to agents: pyftpdlib serving one folder with one user.

Usage: pelio-dropbox.py --root DIR [--host 127.0.0.1] [--port 2121] [--user pelio] [--password pelio]
                         [--tls-cert FILE [--tls-required]]

The customer's program sends names in code page 949 (the code page its peers use). pyftpdlib reads
and writes names as UTF-8 only, so this handler reads the names of commands as UTF-8 or else code
page 949, and writes replies and listings in code page 949; on disk the names stay UTF-8, as the web site that publishes the folder
as "userfiles/" expects. File contents are not touched. Port 0 takes a free port; the line
"starting FTP server on HOST:PORT" says which.

With --tls-cert the box offers TLS (explicit, AUTH TLS) with the key and certificate in FILE (PEM);
when FILE does not exist a new P-256 key and a self-signed certificate are made there (mode 0600).
The line "tls pin sha256//..." gives the pin of its public key, the value of the customer's setting
[FileSend] DropBoxPin. --tls-required refuses logins and transfers without TLS.
"""
import argparse
import base64
import datetime
import hashlib
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

PEER_CODEC = "cp949"
LISTINGS = ("LIST", "NLST", "MLSD", "MLST")


def to_peer(data):
    return data.decode("utf8", "replace").encode(PEER_CODEC, "replace")


class CodePageMixin:
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


class DropBoxHandler(CodePageMixin, FTPHandler):
    pass


class TlsDataHandler(TLS_DTPHandler):
    # A data connection usually comes before its command (STOR, RETR). pyftpdlib 1.5.7 closes such a
    # connection as "not receiving" while its TLS handshake is still under way; keep it until then.
    def readable(self):
        if self._ssl_accepting:
            return True
        return super().readable()


class TlsDropBoxHandler(CodePageMixin, TLS_FTPHandler):
    dtp_handler = TlsDataHandler


def tls_context(path):
    """TLS 1.2 with the key and certificate in path.

    A TLS 1.3 server sends its session tickets after the handshake, on every data connection too. A
    client that only uploads never reads them and closes the connection with them unread, which
    resets it, and the reset can throw away the upload's last bytes before this server read them.
    TLS 1.2 sends its tickets inside the handshake, where the client reads them.
    """
    from OpenSSL import SSL

    context = SSL.Context(SSL.TLS_SERVER_METHOD)
    context.set_min_proto_version(SSL.TLS1_2_VERSION)
    context.set_max_proto_version(SSL.TLS1_2_VERSION)
    context.use_certificate_chain_file(path)
    context.use_privatekey_file(path)
    return context


def make_key_and_certificate(path):
    """Writes a new P-256 key and a self-signed certificate for 127.0.0.1 and localhost to path."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID
    import ipaddress

    key = ec.generate_private_key(ec.SECP256R1())
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "pelio drop box")])
    now = datetime.datetime.now(datetime.timezone.utc)
    certificate = (
        x509.CertificateBuilder()
        .subject_name(name)
        .issuer_name(name)
        .public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(now - datetime.timedelta(days=1))
        .not_valid_after(now + datetime.timedelta(days=3650))
        .add_extension(
            x509.SubjectAlternativeName(
                [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]
            ),
            critical=False,
        )
        .sign(key, hashes.SHA256())
    )
    pem = key.private_bytes(
        serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()
    ) + certificate.public_bytes(serialization.Encoding.PEM)
    descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(descriptor, "wb") as out:
        out.write(pem)


def public_key_pin(path):
    """The pin of the certificate in path: sha256// + Base64 of the SHA-256 of its public key."""
    from cryptography import x509
    from cryptography.hazmat.primitives import serialization

    with open(path, "rb") as source:
        certificate = x509.load_pem_x509_certificate(source.read())
    der = certificate.public_key().public_bytes(
        serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo
    )
    return "sha256//" + base64.b64encode(hashlib.sha256(der).digest()).decode("ascii")


def main():
    parser = argparse.ArgumentParser(description="FTP drop box (code page 949 names)")
    parser.add_argument("--root", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=2121)
    parser.add_argument("--user", default="pelio")
    parser.add_argument("--password", default="pelio")
    parser.add_argument("--tls-cert", help="key and certificate (PEM); made when missing")
    parser.add_argument("--tls-required", action="store_true", help="refuse sessions without TLS")
    args = parser.parse_args()
    if args.tls_required and not args.tls_cert:
        parser.error("--tls-required needs --tls-cert")

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    handler = DropBoxHandler
    if args.tls_cert:
        if not os.path.exists(args.tls_cert):
            make_key_and_certificate(args.tls_cert)
        handler = TlsDropBoxHandler
        handler.ssl_context = tls_context(args.tls_cert)
        handler.tls_control_required = args.tls_required
        handler.tls_data_required = args.tls_required
        print("tls pin %s" % public_key_pin(args.tls_cert), flush=True)
    handler.authorizer = authorizer
    handler.passive_ports = None
    server = FTPServer((args.host, args.port), handler)
    host, port = server.socket.getsockname()[:2]
    print("starting FTP server on %s:%d" % (host, port), flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    sys.exit(main())
