#!/usr/bin/python3
"""Real-chain fixture: OpenSC -> pcscd -> vpcd -> virtual cards (vcard.py).

  chain.py start [--card PIN [VCARD OPTIONS]]...
  chain.py reinsert
  chain.py stop

Card n sits in reader n (at most two); its options are those of vcard.py. `start` keeps its files
in ./realchain (card n's APDU log in cardn.log, its PIN tries in cardn.pins) and prints
OPENSC_CONF=... and PCSCLITE_CSOCK_NAME=...; `reinsert` puts a pulled card back and waits until
OpenSC sees it; `stop` ends what `start` started. pcscd runs in a
private mount namespace with its own /run, so a system pcscd neither disturbs it nor is
disturbed. With CERTEXPORT_E2E_ROOT set to a Debian root that holds pcscd and vpcd, ./realchain
must lie in that root and pcscd runs there, chrooted; the paths printed are the root's own.
Exit status 77 means "cannot run here", with one line on stderr saying why.
"""
import glob
import json
import os
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DIR = os.path.abspath("realchain")
STATE = os.path.join(DIR, "state.json")
OPENSC_CONF = os.path.join(DIR, "opensc.conf")
SOCKET = os.path.join(DIR, "run", "pcscd", "pcscd.comm")
PYTHON = "/usr/bin/python3"   # other interpreters on PATH lack Debian's modules
VPCD = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so"
FIRST_PORT = 36100            # away from vpcd's default 35963, which a system pcscd may hold
ROOT = os.environ.get("CERTEXPORT_E2E_ROOT", "").rstrip("/")


def in_root(path):
    """The path as the root's programs see it."""
    return path[len(ROOT):] if ROOT else path


class Skip(Exception):
    pass


class Fail(Exception):
    pass


def wait_until(cond, timeout, step=0.02):
    deadline = time.monotonic() + timeout
    while not cond():
        if time.monotonic() >= deadline:
            return False
        time.sleep(step)
    return True


def quiet(cmd, timeout=10, **kw):
    try:
        return subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout, **kw)
    except (OSError, subprocess.TimeoutExpired):
        return None


def start_time(pid):
    """Kernel start time of pid (guards against a recycled pid), None if gone or a zombie."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except (OSError, IndexError):
        return None
    return None if fields[0] in ("Z", "X") else fields[19]


def alive(proc):
    return proc[1] is not None and start_time(proc[0]) == proc[1]


def tcp_ports(listening):
    ports = set()
    for name in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(name) as f:
            for cols in (line.split() for line in list(f)[1:]):
                if cols[3] == "0A" or not listening:
                    ports.add(int(cols[1].rsplit(":", 1)[1], 16))
    return ports


def teardown(state):
    """Ends the recorded processes, cards before pcscd so vpcd's ports close cleanly."""
    procs = state["procs"]
    for group in (procs[1:], procs[:1]):
        for sig in (signal.SIGTERM, signal.SIGKILL):
            for pid, _ in filter(alive, group):
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            if wait_until(lambda: not any(map(alive, group)), 3.0):
                break
    ports = set(state["ports"])
    wait_until(lambda: not ports & tcp_ports(True), 3.0)
    if os.path.exists(STATE):
        os.unlink(STATE)
    left = [str(p[0]) for p in procs if alive(p)]
    if left or ports & tcp_ports(True):
        raise Fail("left running: pids %s, ports %s" % (left, sorted(ports & tcp_ports(True))))


def check_prerequisites():
    if os.geteuid() != 0:
        raise Skip("needs root (pcscd must own its run directory)")
    if ROOT and not DIR.startswith(ROOT + "/"):
        raise Fail("%s does not lie in the root %s" % (DIR, ROOT))
    needed = [(ROOT + "/usr/sbin/pcscd", "pcscd"), (ROOT + VPCD, "vsmartcard-vpcd"),
              ("/usr/lib/python3/site-packages/virtualsmartcard", "python3-virtualsmartcard"),
              (ROOT + "/usr/lib/*/opensc-pkcs11.so", "opensc-pkcs11")]
    if not ROOT:
        needed.append(("/usr/bin/pkcs11-tool", "opensc"))
    for path, pkg in needed:
        if not glob.glob(path):
            raise Skip("missing %s (install Debian package %s)" % (path, pkg))
    r = quiet([PYTHON, "-c", "import Cryptodome"], timeout=20)
    if not r or r.returncode:
        raise Skip("missing Python module Cryptodome (install Debian package python3-pycryptodome)")
    r = quiet(["unshare", "-m", "true"])
    if not r or r.returncode:
        raise Skip("no private mount namespace for pcscd (unshare -m fails)")


def take_lock():
    """Serialises port choice and pcscd start between fixtures running in parallel. The lock is an
    abstract socket's name, which belongs to the network namespace as the ports do: a fixture in
    a root, whose /tmp is its own, shares it with the host's."""
    lock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)

    def locked():
        try:
            lock.bind("\0certexport-realchain")
            return True
        except OSError:
            return False
    if not wait_until(locked, 60, 0.05):
        lock.close()
        raise Fail("timed out waiting for the realchain lock")
    return lock


def tokens_seen(env, ncards):
    """True when OpenSC lists both readers and a token in as many of them as there are cards
    (a card with two PINs shows two slots, each with a token, in one reader; a JPKI card with a
    blocked PIN shows one whose token OpenSC does not recognise). A root holds no
    OpenSC tools, and the host's cannot talk to another pcsc-lite's pcscd: there pcscd's own log
    tells how many cards it holds."""
    if ROOT:
        with open(os.path.join(DIR, "pcscd.log"), errors="replace") as f:
            log = f.read()
        return log.count("Card inserted into") - log.count("Card Removed From") == ncards
    r = quiet(["pkcs11-tool", "-L"], env=env)
    if r is None or r.returncode != 0:
        return False
    readers, with_token, reader = set(), set(), None
    for line in r.stdout.decode("utf-8", "replace").splitlines():
        if line.startswith("Slot ") and "Virtual PCD" in line:
            reader = line.split(": ", 1)[1]
            readers.add(reader)
        elif line.strip().startswith("token label") or "(token not recognized)" in line:
            with_token.add(reader)
    return len(readers) >= 2 and len(with_token) == ncards


def start(argv):
    cards = []
    for a in argv:
        if a == "--card":
            cards.append([])
        elif not cards:
            raise Fail("%s before any --card" % a)
        else:
            cards[-1].append(a)
    if len(cards) > 2 or any(not c for c in cards):
        raise Fail("at most two cards, each --card with a PIN")
    check_prerequisites()
    os.makedirs(os.path.join(DIR, "run"), exist_ok=True)
    if os.path.exists(STATE):
        with open(STATE) as f:
            teardown(json.load(f))          # a previous start without stop
    state = {"procs": [], "ports": [], "cards": len(cards)}

    def spawn(cmd, log):
        with open(os.path.join(DIR, log), "wb") as f:
            p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT)
        state["procs"].append([p.pid, start_time(p.pid)])
        with open(STATE, "w") as f:
            json.dump(state, f)
        return p

    try:
        lock = take_lock()
        try:
            busy = tcp_ports(False)
            port = next((p for p in range(FIRST_PORT, FIRST_PORT + 400, 2)
                         if not {p, p + 1} & busy), None)
            if port is None:
                raise Fail("no free TCP port pair for vpcd")
            state["ports"] = [port, port + 1]
            conf = os.path.join(DIR, "reader.conf.d")
            os.makedirs(conf, exist_ok=True)
            with open(os.path.join(conf, "vpcd"), "w") as f:
                f.write('FRIENDLYNAME "Virtual PCD"\nDEVICENAME /dev/null:0x%04X\n'
                        'LIBPATH %s\nCHANNELID 0x%04X\n' % (port, VPCD, port))
            # unshare and chroot exec in place, so the recorded pid is pcscd's own.
            chroot = ["chroot", ROOT] if ROOT else []
            pcscd = chroot + ["/usr/sbin/pcscd", "-f", "-c", in_root(conf)]
            help_text = quiet(chroot + ["/usr/sbin/pcscd", "--help"])
            if help_text and b"--disable-polkit" in help_text.stdout:
                pcscd.append("--disable-polkit")  # pcsc-lite 2 asks polkit, which may not run here
            if ROOT:
                pcscd.append("--info")  # logs the cards it holds
            pcscd = spawn(["unshare", "-m", "sh", "-c",
                           'mount --bind "$1" "$2/run" && shift 2 && exec "$@"',
                           "sh", os.path.join(DIR, "run"), ROOT] + pcscd, "pcscd.log")
            wait_until(lambda: {port, port + 1} <= tcp_ports(True) or pcscd.poll() is not None,
                       10.0)
            if not {port, port + 1} <= tcp_ports(True) or pcscd.poll() is not None:
                raise Fail("vpcd did not listen on ports %d, %d; see %s/pcscd.log"
                           % (port, port + 1, DIR))
        finally:
            lock.close()
        for n, card in enumerate(cards):
            spawn([PYTHON, os.path.join(HERE, "vcard.py"), str(port + n)] + card +
                  ["--pin-state", os.path.join(DIR, "card%d.pins" % n)], "card%d.log" % n)
        with open(OPENSC_CONF, "w") as f:
            f.write("app default {\n    enable_default_driver = true;\n"
                    "    framework pkcs15 {\n        use_file_caching = no;\n    }\n}\n")
        wait_for_tokens(state)
    except BaseException:
        teardown(state)
        raise
    print("OPENSC_CONF=%s\nPCSCLITE_CSOCK_NAME=%s" % (in_root(OPENSC_CONF), in_root(SOCKET)))


def wait_for_tokens(state):
    env = dict(os.environ, OPENSC_CONF=OPENSC_CONF, PCSCLITE_CSOCK_NAME=SOCKET)
    gone = lambda: not all(map(alive, state["procs"]))
    if not wait_until(lambda: gone() or tokens_seen(env, state["cards"]), 15.0, 0.05) or gone():
        raise Fail("OpenSC did not see %d card(s)%s; logs in %s"
                   % (state["cards"], " (a process exited)" if gone() else "", DIR))


def reinsert():
    """Puts pulled cards back (vcard.py --pull-after) and waits until OpenSC sees them."""
    with open(STATE) as f:
        state = json.load(f)
    for pid, _ in filter(alive, state["procs"][1:]):
        os.kill(pid, signal.SIGUSR1)
    wait_for_tokens(state)


def main():
    def on_signal(signum, frame):
        raise SystemExit(128 + signum)
    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, on_signal)
    cmd = sys.argv[1] if len(sys.argv) > 1 else ""
    try:
        if cmd == "start":
            start(sys.argv[2:])
        elif cmd == "reinsert" and len(sys.argv) == 2:
            reinsert()
        elif cmd == "stop" and len(sys.argv) == 2:
            if os.path.exists(STATE):
                with open(STATE) as f:
                    teardown(json.load(f))
        else:
            raise Fail("usage: chain.py start [--card PIN [OPTIONS]]... | reinsert | stop")
    except Skip as e:
        print("realchain skipped: %s" % e, file=sys.stderr)
        return 77
    except Fail as e:
        print("realchain %s failed: %s" % (cmd, e), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
