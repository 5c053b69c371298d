#!/usr/bin/python3
"""Real-chain fixture: OpenSC -> pcscd -> vpcd -> virtual PKCS#15 cards (vcard.py).

  chain.py start [--dir DIR] [--module PATH] [--card PIN [CARD OPTIONS]]...
  chain.py stop  [--dir DIR]

Card options (they apply to the --card before them):
  --cert LABEL ID_HEX DER     a public certificate
  --private-cert LABEL ID DER a certificate shown only after login
  --token-label TEXT          the card's label (OpenSC appends " (User PIN)")
Card n sits in reader n, so at most two cards.

`start` works in DIR (default: the current directory), keeps its files in DIR/realchain,
and prints NAME=VALUE lines: OPENSC_CONF, PCSCLITE_CSOCK_NAME, REALCHAIN_PORT.
pcscd runs in a private mount namespace with its own /run, so it neither disturbs nor is
disturbed by a system pcscd (e.g. Debian's pcscd.socket); the client library finds it
through PCSCLITE_CSOCK_NAME. The system pcscd is never stopped. Without namespaces,
the fixture falls back to the shared /run/pcscd and skips if another pcscd uses it.
Exit status 77 means "cannot run here" (skip), with one line on stderr saying why.
"""
import fcntl
import glob
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
VPCD_DRIVER = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so"
VSC_LIB = "/usr/lib/python3/site-packages/virtualsmartcard/virtualsmartcard"
PYTHON = "/usr/bin/python3"
LOCK_FILE = "/run/lock/certexport-realchain.lock"
FIRST_PORT = 36100            # away from vpcd's default 35963, which a system pcscd may hold
START_TIMEOUT = 15.0


class Skip(Exception):
    pass


class Fail(Exception):
    pass


# ---- processes ---------------------------------------------------------------

def start_time(pid):
    """Kernel start time of pid, or None if gone (a zombie counts as gone)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except (OSError, IndexError):
        return None
    return None if fields[0] in ("Z", "X") else fields[19]


def alive(rec):
    return rec["start"] is not None and start_time(rec["pid"]) == rec["start"]


def reap():
    # Children of this process (only while start is running); others are reaped by init.
    try:
        while os.waitpid(-1, os.WNOHANG)[0] > 0:
            pass
    except ChildProcessError:
        pass


def kill_all(procs):
    """Terminate recorded processes (cards first, pcscd last) and wait for them."""
    for sig, limit in ((signal.SIGTERM, 3.0), (signal.SIGKILL, 3.0)):
        live = [p for p in procs if alive(p)]
        for p in live:
            try:
                os.kill(p["pid"], sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            reap()
            if not any(alive(p) for p in live):
                break
            time.sleep(0.02)
    return [p for p in procs if alive(p)]


def listening_ports():
    ports = set()
    for name in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(name) as f:
                next(f)
                for line in f:
                    cols = line.split()
                    if cols[3] == "0A":
                        ports.add(int(cols[1].rsplit(":", 1)[1], 16))
        except OSError:
            pass
    return ports


def used_ports():
    ports = set()
    for name in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(name) as f:
                next(f)
                for line in f:
                    ports.add(int(line.split()[1].rsplit(":", 1)[1], 16))
        except OSError:
            pass
    return ports


def wait_until(cond, timeout, step=0.02):
    deadline = time.monotonic() + timeout
    while True:
        if cond():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(step)


# ---- state -------------------------------------------------------------------

class State:
    def __init__(self, workdir):
        self.dir = os.path.join(workdir, "realchain")
        self.path = os.path.join(self.dir, "state.json")
        self.data = {"procs": [], "ports": [], "tmpdirs": []}

    def load(self):
        try:
            with open(self.path) as f:
                self.data = json.load(f)
            return True
        except (OSError, ValueError):
            return False

    def save(self):
        tmp = self.path + ".tmp"
        with open(tmp, "w") as f:
            json.dump(self.data, f)
        os.replace(tmp, self.path)

    def add_proc(self, name, proc):
        st = start_time(proc.pid)
        self.data["procs"].append({"name": name, "pid": proc.pid, "start": st})
        self.save()


def teardown(state):
    """Kill everything the state names; returns a complaint or None."""
    procs = state.data["procs"]
    # Cards first: the card then closes its connection, so vpcd's ports carry no TIME_WAIT.
    procs = [p for p in procs if p["name"] != "pcscd"] + [p for p in procs if p["name"] == "pcscd"]
    left = kill_all(procs)
    ports = state.data["ports"]
    wait_until(lambda: not (set(ports) & listening_ports()), 3.0)
    for d in state.data["tmpdirs"]:
        for f in glob.glob(os.path.join(d, "pcscd", "*")):
            try:
                os.unlink(f)
            except OSError:
                pass
        for sub in (os.path.join(d, "pcscd"), d):
            try:
                os.rmdir(sub)
            except OSError:
                pass
    state.data = {"procs": [], "ports": [], "tmpdirs": []}
    try:
        os.unlink(state.path)
    except OSError:
        pass
    if left:
        return "processes still alive: %s" % " ".join(str(p["pid"]) for p in left)
    still = set(ports) & listening_ports()
    if still:
        return "ports still listening: %s" % " ".join(map(str, sorted(still)))
    return None


# ---- start ---------------------------------------------------------------------

def parse_cards(argv):
    opts = {"dir": os.getcwd(), "module": None}
    cards = []
    i = 0

    def take(n):
        nonlocal i
        if i + n >= len(argv):
            raise Fail("%s needs %d value(s)" % (argv[i], n))
        vals = argv[i + 1:i + 1 + n]
        i += n + 1
        return vals

    while i < len(argv):
        a = argv[i]
        if a in ("--dir", "--module"):
            opts[a[2:]] = take(1)[0]
        elif a == "--card":
            cards.append({"pin": take(1)[0], "args": []})
        elif a in ("--cert", "--private-cert", "--token-label"):
            if not cards:
                raise Fail("%s before any --card" % a)
            vals = take(3 if a != "--token-label" else 1)
            if a != "--token-label":
                vals[2] = os.path.abspath(os.path.join(HERE, vals[2])
                                          if not os.path.exists(vals[2]) else vals[2])
                if not os.path.isfile(vals[2]):
                    raise Fail("no such certificate file: %s" % vals[2])
            cards[-1]["args"] += [a] + vals
        else:
            raise Fail("unknown argument: %s" % a)
    if len(cards) > 2:
        raise Fail("at most two cards (one per reader)")
    return opts, cards


def find_module(given):
    if given:
        return given
    for pattern in ("/usr/lib/*/opensc-pkcs11.so", "/usr/lib/opensc-pkcs11.so",
                    "/usr/lib/*/pkcs11/opensc-pkcs11.so"):
        hits = sorted(glob.glob(pattern))
        if hits:
            return hits[0]
    return None


def check_prerequisites(module):
    if os.geteuid() != 0:
        raise Skip("needs root (pcscd must own its run directory)")
    needs = [("/usr/sbin/pcscd", "pcscd"), (VPCD_DRIVER, "vsmartcard-vpcd"),
             (VSC_LIB, "python3-virtualsmartcard"), (PYTHON, "python3"),
             ("/usr/bin/pkcs11-tool", "opensc")]
    for path, pkg in needs:
        if not os.path.exists(path):
            raise Skip("missing %s (install Debian package %s)" % (path, pkg))
    if not module or not os.path.exists(module):
        raise Skip("OpenSC PKCS#11 module not found (install Debian package opensc-pkcs11)")
    r = subprocess.run([PYTHON, "-c", "import Cryptodome"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)
    if r.returncode != 0:
        raise Skip("missing Python module Cryptodome (install Debian package python3-pycryptodome)")


def namespaces_work():
    try:
        r = subprocess.run(["unshare", "-m", "true"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)
        return r.returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def other_pcscd():
    """Describe a pcscd already using the shared /run/pcscd, or None."""
    for d in glob.glob("/proc/[0-9]*"):
        try:
            with open(d + "/comm") as f:
                if f.read().strip() == "pcscd" and start_time(int(d[6:])):
                    return "another pcscd is running (pid %s)" % d[6:]
        except OSError:
            pass
    for unit in ("pcscd.socket", "pcscd.service"):
        try:
            r = subprocess.run(["systemctl", "is-active", "--quiet", unit], timeout=10,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            if r.returncode == 0:
                return "systemd unit %s is active and no mount namespace is available" % unit
        except (OSError, subprocess.TimeoutExpired):
            pass
    return None


def take_lock():
    # Serialises port choice and pcscd start between fixtures running in parallel.
    path = LOCK_FILE if os.path.isdir(os.path.dirname(LOCK_FILE)) else "/tmp/certexport-realchain.lock"
    fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o644)
    deadline = time.monotonic() + 60
    while True:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return fd
        except BlockingIOError:
            if time.monotonic() >= deadline:
                os.close(fd)
                raise Fail("timed out waiting for %s" % path)
            time.sleep(0.05)


def pick_ports():
    busy = used_ports()
    for port in range(FIRST_PORT, FIRST_PORT + 400, 2):
        if port not in busy and port + 1 not in busy:
            return port
    raise Fail("no free TCP port pair for vpcd")


def tokens_seen(env, module, ncards):
    try:
        r = subprocess.run(["pkcs11-tool", "--module", module, "-L"], env=env,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
    except subprocess.TimeoutExpired:
        return False
    out = r.stdout.decode("utf-8", "replace")
    if b"Failed to load pkcs11 module" in r.stderr:
        raise Fail("pkcs11-tool cannot load %s: %s" % (module, r.stderr.decode("utf-8", "replace")
                                                      .strip().splitlines()[0]))
    slots = sum(1 for l in out.splitlines() if l.startswith("Slot ") and "Virtual PCD" in l)
    tokens = sum(1 for l in out.splitlines() if l.strip().startswith("token label"))
    return r.returncode == 0 and slots >= 2 and tokens == ncards


def start(argv):
    opts, cards = parse_cards(argv)
    module = find_module(opts["module"])
    check_prerequisites(module)
    workdir = os.path.abspath(opts["dir"])
    state = State(workdir)
    os.makedirs(state.dir, exist_ok=True)
    if state.load():
        teardown(state)          # a previous start without stop
    state.save()
    private_ns = namespaces_work()

    def spawn(name, cmd, log):
        with open(os.path.join(state.dir, log), "wb") as f:
            p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT)
        state.add_proc(name, p)
        return p

    try:
        lock = take_lock()
        try:
            if not private_ns:
                why = other_pcscd()
                if why:
                    raise Skip(why)
            port = pick_ports()
            state.data["ports"] = [port, port + 1]
            conf = os.path.join(state.dir, "reader.conf.d")
            os.makedirs(conf, exist_ok=True)
            with open(os.path.join(conf, "vpcd"), "w") as f:
                f.write('FRIENDLYNAME "Virtual PCD"\nDEVICENAME /dev/null:0x%04X\n'
                        'LIBPATH %s\nCHANNELID 0x%04X\n' % (port, VPCD_DRIVER, port))
            if private_ns:
                run = os.path.join(state.dir, "run")
                if len(run) > 80:      # a socket path must stay under 108 bytes
                    run = tempfile.mkdtemp(prefix="rc-", dir="/tmp")
                    state.data["tmpdirs"].append(run)
                os.makedirs(run, exist_ok=True)
                socket_path = os.path.join(run, "pcscd", "pcscd.comm")
                cmd = ["unshare", "-m", "sh", "-c",
                       'mount --bind "$1" /run && exec /usr/sbin/pcscd -f -c "$2"',
                       "sh", run, conf]
            else:
                socket_path = "/run/pcscd/pcscd.comm"
                cmd = ["/usr/sbin/pcscd", "-f", "-c", conf]
            pcscd = spawn("pcscd", cmd, "pcscd.log")
            if not wait_until(lambda: {port, port + 1} <= listening_ports()
                              or pcscd.poll() is not None, 10.0):
                raise Fail("vpcd did not listen on ports %d and %d" % (port, port + 1))
            if pcscd.poll() is not None:
                raise Fail("pcscd exited (%s); see %s" % (pcscd.returncode,
                           os.path.join(state.dir, "pcscd.log")))
        finally:
            os.close(lock)

        for n, card in enumerate(cards):
            args = [PYTHON, os.path.join(HERE, "vcard.py"), "--port", str(port + n),
                    "--pin", card["pin"], "--serial", "%04d" % (n + 1)] + card["args"]
            spawn("card%d" % n, args, "card%d.log" % n)

        opensc_conf = os.path.join(state.dir, "opensc.conf")
        with open(opensc_conf, "w") as f:
            f.write("app default {\n    enable_default_driver = true;\n"
                    "    framework pkcs15 {\n        use_file_caching = no;\n    }\n}\n")
        env = dict(os.environ, OPENSC_CONF=opensc_conf, PCSCLITE_CSOCK_NAME=socket_path)

        def exited():
            return [p["name"] for p in state.data["procs"] if not alive(p)]
        if not wait_until(lambda: exited() or tokens_seen(env, module, len(cards)),
                          START_TIMEOUT, 0.05) or exited():
            gone = exited()
            raise Fail("OpenSC did not see %d token(s)%s; logs in %s"
                       % (len(cards), " (exited: %s)" % ", ".join(gone) if gone
                          else " within %ds" % START_TIMEOUT, state.dir))
    except BaseException:
        teardown(state)
        raise
    print("OPENSC_CONF=%s" % opensc_conf)
    print("PCSCLITE_CSOCK_NAME=%s" % socket_path)
    print("REALCHAIN_PORT=%d" % port)
    return 0


def stop(argv):
    workdir = os.getcwd()
    if argv[:1] == ["--dir"] and len(argv) == 2:
        workdir = argv[1]
    elif argv:
        raise Fail("usage: chain.py stop [--dir DIR]")
    state = State(os.path.abspath(workdir))
    if not state.load():
        return 0
    problem = teardown(state)
    if problem:
        raise Fail(problem)
    return 0


def on_signal(signum, frame):
    raise SystemExit(128 + signum)


def main():
    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, on_signal)
    if len(sys.argv) < 2 or sys.argv[1] not in ("start", "stop"):
        print("usage: chain.py start|stop [options]", file=sys.stderr)
        return 2
    try:
        return (start if sys.argv[1] == "start" else stop)(sys.argv[2:])
    except Skip as e:
        print("realchain skipped: %s" % e, file=sys.stderr)
        return SKIP
    except Fail as e:
        print("realchain %s failed: %s" % (sys.argv[1], e), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
