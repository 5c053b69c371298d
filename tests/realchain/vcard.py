#!/usr/bin/python3
"""A virtual PKCS#15 smart card for the vpcd reader driver, serving one PIN and certificates:
  vcard.py PORT PIN [--token-label L] [--cert|--private-cert LABEL ID_HEX DERFILE]...
A private certificate carries the PIN's authId, so OpenSC shows it only after login.
Runs until vpcd closes the connection.
"""
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

PIN_TRIES = 3


def der_len(n):
    if n < 0x80:
        return bytes([n])
    b = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(b)]) + b


def tlv(tag, *parts):
    body = b"".join(parts)
    return bytes([tag]) + der_len(len(body)) + body


def pack(items, recalculate_length=False):
    # The packaged encoder joins ints as bytes on Python 3, so every SELECT
    # answering with file control information would crash the card.
    out = b""
    for tag, _, value in (i[:3] for i in items):
        value = value if isinstance(value, bytes) else pack(value)
        out += tag.to_bytes((tag.bit_length() + 7) // 8 or 1, "big") + der_len(len(value)) + value
    return out


TLVutils.pack = pack


def utf8(s):
    return tlv(0x0C, s.encode("utf-8"))


def path(p):
    return tlv(0x30, tlv(0x04, p))


def build_fs(token_label, serial, certs):
    """certs: list of (label, id bytes, der bytes, private)."""
    mf = MF()
    app = DF(mf, 0x5015, dfname=bytes.fromhex("A000000063504B43532D3135"))
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
        fid = (0x4301 + n).to_bytes(2, "big")
        common = utf8(label)
        if private:
            common += tlv(0x03, b"\x07\x80") + tlv(0x04, b"\x01")
        cdf += tlv(0x30, tlv(0x30, common), tlv(0x30, tlv(0x04, cid)),
                   tlv(0xA1, tlv(0x30, path(base + fid))))
        ef(int.from_bytes(fid, "big"), der)
    ef(0x4404, cdf)
    return mf


class Card(Iso7816OS):
    def __init__(self, mf, pin):
        handlers = {0xA4: mf.selectFile, 0xB0: mf.readBinaryPlain,
                    0x20: self.verify, 0xC0: self.getResponse}
        Iso7816OS.__init__(self, mf, None, ins2handler=handlers)
        self.pin, self.tries, self.verified = pin, PIN_TRIES, False

    def verify(self, p1, p2, data):
        # 63Cx (x = tries left) rather than the library's bare 6300, which
        # OpenSC reports as a general error instead of an incorrect PIN.
        if p1 != 0:
            return 0x6A86, b""
        if not data:
            return (0x9000 if self.verified else 0x63C0 | self.tries), b""
        if self.tries == 0:
            return 0x6983, b""
        self.verified = data.rstrip(b"\x00\xff") == self.pin
        self.tries = PIN_TRIES if self.verified else self.tries - 1
        return (0x9000 if self.verified else 0x63C0 | self.tries), b""


def recv_exact(sock, n):
    buf = b""
    while len(buf) < n:
        # vpcd sends length and data in two writes; without quick ACKs every
        # APDU waits for the peer's delayed-ACK timer (~40 ms).
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        chunk = sock.recv(n - len(buf))
        if not chunk:
            raise EOFError
        buf += chunk
    return buf


def main(port, pin, *args):
    token_label, certs, i = "Test Card", [], 0
    while i < len(args):
        if args[i] == "--token-label":
            token_label, i = args[i + 1], i + 2
        else:   # --cert or --private-cert LABEL ID DER
            with open(args[i + 3], "rb") as f:
                certs.append((args[i + 1], bytes.fromhex(args[i + 2]), f.read(),
                              args[i] == "--private-cert"))
            i += 4
    card = Card(build_fs(token_label, port, certs), pin.encode())
    sock = socket.create_connection(("127.0.0.1", int(port)), timeout=5)
    sock.settimeout(None)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    try:
        while True:
            msg = recv_exact(sock, struct.unpack("!H", recv_exact(sock, 2))[0])
            if len(msg) == 1:  # vpcd control: 0 power off, 1 power on, 2 reset, 4 ATR
                if msg in (b"\x01", b"\x02"):
                    card.verified = False
                    (card.powerUp if msg == b"\x01" else card.reset)()
                answer = card.getATR() if msg == b"\x04" else None
            else:
                answer = card.execute(msg) if msg else None
            if answer is not None:
                sock.sendall(struct.pack("!H", len(answer)) + answer)
    except EOFError:
        pass


if __name__ == "__main__":
    main(*sys.argv[1:])
