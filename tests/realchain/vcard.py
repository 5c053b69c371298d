#!/usr/bin/python3
"""A virtual PKCS#15 smart card for the vpcd reader driver.

Serves one PIN and any number of certificates from an ISO 7816-4 file system:
  vcard.py --port N --pin PIN [--token-label L] [--serial S]
           [--cert LABEL ID_HEX DERFILE]... [--private-cert LABEL ID_HEX DERFILE]...
A private certificate carries the PIN's authId, so OpenSC shows it only after login.
Runs until vpcd closes the connection.
"""
import argparse
import socket
import struct
import sys

# Debian installs the library outside Python's path and expects PyCrypto's module name.
sys.path.insert(0, "/usr/lib/python3/site-packages/virtualsmartcard")
import Cryptodome  # noqa: E402
sys.modules.setdefault("Crypto", Cryptodome)

from virtualsmartcard import TLVutils  # noqa: E402
from virtualsmartcard.VirtualSmartcard import Iso7816OS  # noqa: E402
from virtualsmartcard.SmartcardFilesystem import MF, DF, TransparentStructureEF  # noqa: E402

PKCS15_AID = bytes.fromhex("A000000063504B43532D3135")
PIN_TRIES = 3


def der_len(n):
    if n < 0x80:
        return bytes([n])
    b = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(b)]) + b


def tlv(tag, *parts):
    body = b"".join(parts)
    return bytes([tag]) + der_len(len(body)) + body


def fixed_pack(tlv_data, recalculate_length=False):
    # The packaged encoder joins ints as bytes on Python 3, so every SELECT
    # answering with file control information would crash the card.
    out = b""
    for item in tlv_data:
        tag, length, value = item[:3]
        if tag in (0x00, 0xFF):
            out += bytes([tag])
            continue
        if not isinstance(value, bytes):
            value = fixed_pack(value, recalculate_length)
        if recalculate_length:
            length = len(value)
        out += tag.to_bytes(max(1, (tag.bit_length() + 7) // 8), "big")
        out += der_len(length) + value
    return out


TLVutils.pack = fixed_pack


def utf8(s):
    return tlv(0x0C, s.encode("utf-8"))


def path(p):
    return tlv(0x30, tlv(0x04, p))


def build_fs(token_label, serial, certs):
    """certs: list of (label, id bytes, der bytes, private)."""
    mf = MF()
    app = DF(mf, 0x5015, dfname=PKCS15_AID)
    mf.append(app)
    base = bytes.fromhex("3F005015")

    def ef(fid, data):
        app.append(TransparentStructureEF(app, fid, data=data))

    # EF.ODF: where the authentication objects and certificates are described.
    ef(0x5031, tlv(0xA8, path(base + b"\x44\x01")) + tlv(0xA4, path(base + b"\x44\x04")))
    # EF.TokenInfo: version 0, serial, manufacturer, [0] label, read-only flag.
    ef(0x5032, tlv(0x30, tlv(0x02, b"\x00"), tlv(0x04, serial.encode()),
                   utf8("certexport tests"), tlv(0x80, token_label.encode("utf-8")),
                   tlv(0x03, b"\x07\x80")))
    # EF.AODF: one ascii-numeric PIN, 4..8 digits, reference 0,
    # flags case-sensitive|initialized.
    pin_attrs = tlv(0x30, tlv(0x03, b"\x03\x88"), tlv(0x0A, b"\x01"), tlv(0x02, b"\x04"),
                    tlv(0x02, b"\x08"), tlv(0x02, b"\x08"), tlv(0x80, b"\x00"), path(base))
    ef(0x4401, tlv(0x30, tlv(0x30, utf8("User PIN")), tlv(0x30, tlv(0x04, b"\x01")),
                   tlv(0xA1, pin_attrs)))
    cdf = b""
    for n, (label, cid, der, private) in enumerate(certs):
        fid = 0x4301 + n
        common = utf8(label)
        if private:
            common += tlv(0x03, b"\x07\x80") + tlv(0x04, b"\x01")
        cdf += tlv(0x30, tlv(0x30, common), tlv(0x30, tlv(0x04, cid)),
                   tlv(0xA1, tlv(0x30, path(base + fid.to_bytes(2, "big")))))
        ef(fid, der)
    ef(0x4404, cdf)
    return mf


class Card(Iso7816OS):
    def __init__(self, mf, pin):
        handlers = {0xA4: mf.selectFile, 0xB0: mf.readBinaryPlain,
                    0x20: self.verify, 0xC0: self.getResponse}
        Iso7816OS.__init__(self, mf, None, ins2handler=handlers)
        self.pin = pin
        self.tries = PIN_TRIES
        self.verified = False

    def verify(self, p1, p2, data):
        # 63Cx (x = tries left) rather than the library's bare 6300, which
        # OpenSC reports as a general error instead of an incorrect PIN.
        if p1 != 0:
            return 0x6A86, b""
        if not data:
            return (0x9000 if self.verified else 0x63C0 | self.tries), b""
        if self.tries == 0:
            return 0x6983, b""
        if data.rstrip(b"\x00\xff") == self.pin:
            self.tries, self.verified = PIN_TRIES, True
            return 0x9000, b""
        self.tries -= 1
        self.verified = False
        return 0x63C0 | self.tries, b""

    def powerUp(self):
        Iso7816OS.powerUp(self)
        self.verified = False

    def reset(self):
        Iso7816OS.reset(self)
        self.verified = False


def recv_exact(sock, n):
    buf = b""
    while len(buf) < n:
        # vpcd sends length and data in two writes; without quick ACKs every
        # APDU waits for the peer's delayed-ACK timer (~40 ms).
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        chunk = sock.recv(n - len(buf))
        if not chunk:
            return None
        buf += chunk
    return buf


def serve(card, port):
    sock = socket.create_connection(("127.0.0.1", port), timeout=5)
    sock.settimeout(None)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    while True:
        head = recv_exact(sock, 2)
        if head is None:
            return
        size = struct.unpack("!H", head)[0]
        msg = recv_exact(sock, size) if size else b""
        if msg is None:
            return
        answer = None
        if size == 1:  # vpcd control: 0 power off, 1 power on, 2 reset, 4 ATR
            if msg == b"\x01":
                card.powerUp()
            elif msg == b"\x02":
                card.reset()
            elif msg == b"\x04":
                answer = card.getATR()
        elif size:
            answer = card.execute(msg)
        if answer is not None:
            sock.sendall(struct.pack("!H", len(answer)) + answer)


def main():
    ap = argparse.ArgumentParser(description="virtual PKCS#15 card for vpcd")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--pin", required=True)
    ap.add_argument("--token-label", default="Test Card")
    ap.add_argument("--serial", default="0001")
    ap.add_argument("--cert", nargs=3, action="append", default=[],
                    metavar=("LABEL", "ID", "DER"))
    ap.add_argument("--private-cert", nargs=3, action="append", default=[],
                    metavar=("LABEL", "ID", "DER"))
    a = ap.parse_args()
    certs = []
    for private, entries in ((False, a.cert), (True, a.private_cert)):
        for label, cid, der_file in entries:
            with open(der_file, "rb") as f:
                certs.append((label, bytes.fromhex(cid), f.read(), private))
    card = Card(build_fs(a.token_label, a.serial, certs), a.pin.encode())
    try:
        serve(card, a.port)
    except (ConnectionError, socket.timeout, OSError) as e:
        print("vcard: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
