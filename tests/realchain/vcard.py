#!/usr/bin/python3
"""A virtual smart card for the vpcd reader driver, in one of two layouts:
  vcard.py PORT PIN [--signing-pin PIN] [--token-label L] [--pin-state FILE] [--pull-after WHEN]
           [--cert|--private-cert|--signing-cert LABEL ID_HEX DERFILE]...
  vcard.py PORT PIN --layout jpki --signing-pin PIN [--pin-state FILE] [--pull-after WHEN]
           [--ef FID DERFILE]...
The first (--layout pkcs15, the default) is a PKCS#15 file system that OpenSC's generic driver
reads. PIN is the first PIN object ("User PIN", 4 to 8 digits); --signing-pin adds a second one
("Signing PIN", 6 to 8 digits), as on cards with an authentication and a signing PIN. A
--private-cert is bound to the first PIN and a --signing-cert to the signing PIN: OpenSC shows
it only after a login with that PIN, and the card answers 6982 to reading its file (EF 4301,
4302, ... in the order given) until that PIN has been verified since the card was powered.
Each PIN has 3 tries.
--layout jpki is the JPKI application of the national ID card, as OpenSC's jpki driver reads it:
the card's ATR, the application selected by its DF name D392F000260100000001, and in it the
certificates' EFs, each given with --ef (000A authentication, 0001 signing, 000B and 0002 their
CA certificates), and the PIN EFs 0018 for PIN ("Authentication PIN", 3 tries) and 001B for the
signing PIN ("Signing PIN", 5 tries). VERIFY (P2 80) acts on the PIN EF selected last: with data
it checks the PIN, without it answers the PIN's state. EF 0001 is read only after the signing
PIN, and selecting the application again ends both PINs' verification, as OpenSC 0.26's jpki
driver logs out.
In both, a wrong PIN answers 63Cx (x tries left); a blocked one 6983. --pin-state keeps the tries
left in FILE ("<label> <tries>" lines), read at start when present and rewritten on each change,
as a card keeps them across sessions. --pull-after verify|read:FID makes the card leave the
reader once, right after answering the first successful VERIFY or READ BINARY of EF FID (hex);
SIGUSR1 puts it back. Every APDU goes to standard output as "apdu <command> -> <status>".
Runs until vpcd closes the connection.
"""
import os
import signal
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
from virtualsmartcard.SWutils import SwError  # noqa: E402

JPKI_AID = bytes.fromhex("D392F000260100000001")
JPKI_ATR = bytes.fromhex("3BE000FF8131FE4514")  # the ATR OpenSC's jpki driver knows the card by


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


class Pin:
    def __init__(self, label, value, min_length, reference, auth_id, max_tries=3):
        self.label, self.value, self.min_length = label, value, min_length
        self.reference, self.auth_id, self.max_tries = reference, auth_id, max_tries
        self.tries, self.verified = max_tries, False


def build_fs(token_label, serial, pins, certs):
    """certs: list of (label, id bytes, der bytes, the Pin it is bound to or None)."""
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
    # EF.AODF: ascii-numeric PINs of min..8 digits, flags case-sensitive|initialized.
    aodf = b""
    for pin in pins:
        attrs = tlv(0x30, tlv(0x03, b"\x03\x88"), tlv(0x0A, b"\x01"),
                    tlv(0x02, bytes([pin.min_length])), tlv(0x02, b"\x08"), tlv(0x02, b"\x08"),
                    tlv(0x80, bytes([pin.reference])), path(base))
        aodf += tlv(0x30, tlv(0x30, utf8(pin.label)), tlv(0x30, tlv(0x04, pin.auth_id)),
                    tlv(0xA1, attrs))
    ef(0x4401, aodf)
    cdf, protected = b"", {}
    for n, (label, cid, der, pin) in enumerate(certs):
        fid = 0x4301 + n
        common = utf8(label)
        if pin:
            common += tlv(0x03, b"\x07\x80") + tlv(0x04, pin.auth_id)
            protected[fid] = pin
        cdf += tlv(0x30, tlv(0x30, common), tlv(0x30, tlv(0x04, cid)),
                   tlv(0xA1, tlv(0x30, path(base + fid.to_bytes(2, "big")))))
        ef(fid, der)
    ef(0x4404, cdf)
    return mf, protected


def build_jpki_fs(auth_pin, signing_pin, efs):
    """efs: {fid: bytes}. Returns the MF, the protected EFs and the PIN EFs."""
    mf = MF()
    app = DF(mf, 0x0100, dfname=JPKI_AID)  # the card is reached by the name; the FID is unused
    mf.append(app)
    pin_efs = {0x0018: auth_pin, 0x001B: signing_pin}
    for fid, data in sorted({**efs, **dict.fromkeys(pin_efs, b"")}.items()):
        app.append(TransparentStructureEF(app, fid, data=data))
    return mf, {0x0001: signing_pin}, pin_efs


class Card(Iso7816OS):
    def __init__(self, mf, pins, protected, state_file, pull_after, pin_efs=None):
        handlers = {0xA4: self.select, 0xB0: self.read_binary,
                    0x20: self.verify, 0xC0: self.getResponse}
        Iso7816OS.__init__(self, mf, None, ins2handler=handlers)
        self.pins = {pin.reference: pin for pin in pins}
        self.protected, self.state_file, self.pin_efs = protected, state_file, pin_efs
        if pin_efs:
            self.atr = JPKI_ATR
        self.pull_after, self.pull_now = pull_after, False
        if state_file and os.path.exists(state_file):
            with open(state_file) as f:
                tries = dict(line.rsplit(" ", 1) for line in f.read().splitlines())
            for pin in pins:
                pin.tries = int(tries.get(pin.label, pin.tries))
        self.save_state()

    def save_state(self):
        if self.state_file:
            with open(self.state_file, "w") as f:
                f.writelines("%s %d\n" % (pin.label, pin.tries) for pin in self.pins.values())

    def power_cycle(self):
        for pin in self.pins.values():
            pin.verified = False

    def event(self, what):
        if self.pull_after and self.pull_after.lower() == what.lower():
            self.pull_after, self.pull_now = None, True

    def select(self, p1, p2, data):
        answer = self.mf.selectFile(p1, p2, data)
        if self.pin_efs and p1 == 4:  # the JPKI application selected anew: PINs unverified
            self.power_cycle()
        return answer

    def verify(self, p1, p2, data):
        # 63Cx (x = tries left) rather than the library's bare 6300, which
        # OpenSC reports as a general error instead of an incorrect PIN.
        if self.pin_efs:  # JPKI: P2 80 stands for the PIN of the selected PIN EF
            ef = self.mf.currentEF()
            pin = self.pin_efs.get(ef.fid) if ef and p2 == 0x80 else None
        else:
            pin = self.pins.get(p2)
        if p1 != 0 or pin is None:
            return 0x6A86 if p1 != 0 else 0x6A88, b""
        if pin.tries == 0:
            return 0x6983, b""
        if not data:
            return (0x9000 if pin.verified else 0x63C0 | pin.tries), b""
        pin.verified = data.rstrip(b"\x00\xff") == pin.value
        pin.tries = pin.max_tries if pin.verified else pin.tries - 1
        self.save_state()
        if pin.verified:
            self.event("verify")
        return (0x9000 if pin.verified else 0x63C0 | pin.tries), b""

    def read_binary(self, p1, p2, data):
        ef = self.mf.dataUnitsDecodePlain(p1, p2, data)[0]
        pin = self.protected.get(ef.fid)
        if pin and not pin.verified:
            # Raised: a status returned with no data would become 6282 (end of file) for a read.
            raise SwError(0x6982)
        answer = self.mf.readBinaryPlain(p1, p2, data)
        self.event("read:%04X" % ef.fid)
        return answer
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


def serve(card, sock):
    """Answers vpcd until it closes the connection (False) or the card is pulled (True)."""
    while True:
        try:
            msg = recv_exact(sock, struct.unpack("!H", recv_exact(sock, 2))[0])
        except EOFError:
            return False
        if len(msg) == 1:  # vpcd control: 0 power off, 1 power on, 2 reset, 4 ATR
            if msg in (b"\x01", b"\x02"):
                card.power_cycle()
                (card.powerUp if msg == b"\x01" else card.reset)()
            answer = card.getATR() if msg == b"\x04" else None
        else:
            answer = card.execute(msg) if msg else None
            print("apdu %s -> %s" % (msg.hex(), answer[-2:].hex()), flush=True)
        if answer is not None:
            sock.sendall(struct.pack("!H", len(answer)) + answer)
        if card.pull_now:
            return True


def main(port, first_pin, *args):
    token_label, signing_pin, state_file, pull_after = None, None, None, None
    layout, cert_args, efs, i = "pkcs15", [], {}, 0
    while i < len(args):
        if args[i] in ("--cert", "--private-cert", "--signing-cert"):
            cert_args.append(args[i:i + 4])
            i += 4
            continue
        if args[i] == "--ef":
            with open(args[i + 2], "rb") as f:
                efs[int(args[i + 1], 16)] = f.read()
            i += 3
            continue
        value = args[i + 1]
        if args[i] == "--token-label":
            token_label = value
        elif args[i] == "--signing-pin":
            signing_pin = value
        elif args[i] == "--pin-state":
            state_file = value
        elif args[i] == "--pull-after":
            pull_after = value
        elif args[i] == "--layout" and value in ("pkcs15", "jpki"):
            layout = value
        else:
            sys.exit("vcard.py: unknown option %s" % args[i])
        i += 2
    if layout == "jpki":
        if not signing_pin or cert_args or token_label:
            sys.exit("vcard.py: --layout jpki needs --signing-pin and takes --ef, not certificates")
        pins = [Pin("Authentication PIN", first_pin.encode(), 4, 1, b"\x01"),
                Pin("Signing PIN", signing_pin.encode(), 6, 2, b"\x02", max_tries=5)]
        mf, protected, pin_efs = build_jpki_fs(*pins, efs)
        card = Card(mf, pins, protected, state_file, pull_after, pin_efs)
    elif efs:
        sys.exit("vcard.py: --ef needs --layout jpki")
    else:
        pins = [Pin("User PIN", first_pin.encode(), 4, 1, b"\x01")]
        if signing_pin:
            pins.append(Pin("Signing PIN", signing_pin.encode(), 6, 2, b"\x02"))
        signing = pins[1] if signing_pin else None
        bound = {"--cert": None, "--private-cert": pins[0], "--signing-cert": signing}
        certs = []
        for kind, label, cid, der_file in cert_args:
            if kind == "--signing-cert" and not signing:
                sys.exit("vcard.py: --signing-cert needs --signing-pin")
            with open(der_file, "rb") as f:
                certs.append((label, bytes.fromhex(cid), f.read(), bound[kind]))
        mf, protected = build_fs(token_label or "Test Card", port, pins, certs)
        card = Card(mf, pins, protected, state_file, pull_after)
    # SIGUSR1 only wakes the pulled card; blocked so that it never ends the process.
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR1})
    while True:
        sock = socket.create_connection(("127.0.0.1", int(port)), timeout=5)
        sock.settimeout(None)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        pulled = serve(card, sock)
        sock.close()
        if not pulled:
            return
        print("pulled", flush=True)
        card.pull_now = False
        signal.sigwait({signal.SIGUSR1})
        print("back", flush=True)


if __name__ == "__main__":
    main(*sys.argv[1:])
