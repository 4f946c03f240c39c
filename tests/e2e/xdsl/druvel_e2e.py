"""Shared steps of the druvel end-to-end scenarios.

Each scenario runs the real druvel inside namespaces of its own made by
tests/harness/nsrun, with the configuration manager stand-in placed at
/bin/cfgmgr. The stand-in's store and argument log live in a scratch folder
under the build tree (visible inside the namespace, unlike /tmp).
"""
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77


class Scenario:
    def __init__(self, argv):
        if len(argv) != 4:
            print(f"usage: {argv[0]} DRUVEL CFGMGR NSRUN", file=sys.stderr)
            sys.exit(2)
        self.druvel = os.path.abspath(argv[1])
        self.cfgmgr = os.path.abspath(argv[2])
        self.nsrun = os.path.abspath(argv[3])
        for path in (self.druvel, self.cfgmgr):
            if os.path.realpath(path).startswith(("/tmp/", "/run/", "/var/run/")):
                # nsrun covers these with fresh tmpfs: the programs would vanish.
                print(f"{path} lies under /tmp or /run, hidden inside the namespace - skipping")
                sys.exit(SKIP)
        if not os.path.exists(self.nsrun):
            print("no namespace harness at", self.nsrun, "- skipping")
            sys.exit(SKIP)
        base = os.environ.get("FW_BUILD_DIR", os.path.dirname(self.druvel))
        self.dir = tempfile.mkdtemp(prefix="druvel_e2e_", dir=base)
        self.env = dict(os.environ, CFGMGR_DB=os.path.join(self.dir, "store"),
                        CFGMGR_LOG=os.path.join(self.dir, "argv.log"))
        self.failures = 0

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    # -- files and keys --------------------------------------------------
    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)
        return self.path(name)

    def store(self, key, value):
        subprocess.run([self.cfgmgr, "-w", f"{key}={value}"], env=self.env, check=True)

    def argv_log(self):
        try:
            with open(self.path("argv.log")) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    # -- running ---------------------------------------------------------
    def command(self, args, files=(), shell=None):
        cmd = [self.nsrun, "--hostname", "board", "--file", f"/bin/cfgmgr={self.cfgmgr}"]
        for dest, src in files:
            cmd += ["--file", f"{dest}={src}"]
        cmd.append("--")
        if shell is not None:
            # A shell line inside the namespace; "$DRUVEL" is the program.
            cmd += ["env", f"DRUVEL={self.druvel}", "sh", "-c", shell]
        else:
            cmd += [self.druvel] + list(args)
        return cmd

    def run(self, args=(), stdin=b"", files=(), shell=None, timeout=30):
        p = subprocess.run(self.command(args, files, shell), input=stdin, env=self.env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        if p.returncode == SKIP:
            print("namespaces unavailable - skipping")
            sys.exit(SKIP)
        return p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")

    # -- checks ----------------------------------------------------------
    def check(self, what, ok, detail=""):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            self.failures += 1
            if detail:
                print("     " + detail.replace("\n", "\n     "))

    def equal(self, what, got, want):
        self.check(what, got == want, f"got  {got!r}\nwant {want!r}")

    def contains(self, what, text, part):
        self.check(what, part in text, f"{part!r} not in {text!r}")

    def finish(self):
        self.close()
        print(f"{self.failures} failure(s)")
        sys.exit(1 if self.failures else 0)


class Terminal:
    """druvel on a pseudo terminal, typed at key by key."""

    def __init__(self, scenario, args=()):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            cmd = scenario.command(args)
            os.execve(cmd[0], cmd, scenario.env)
        self.seen = b""

    def send(self, data):
        os.write(self.fd, data.encode("latin-1") if isinstance(data, str) else data)

    def read_until(self, want, timeout=10.0):
        """Output up to and including want (bytes or str); None on time-out."""
        want = want.encode("latin-1") if isinstance(want, str) else want
        end = time.monotonic() + timeout
        while want not in self.seen:
            left = end - time.monotonic()
            if left <= 0:
                return None
            r, _, _ = select.select([self.fd], [], [], left)
            if not r:
                continue
            try:
                chunk = os.read(self.fd, 4096)
            except OSError:
                return None
            if not chunk:
                return None
            self.seen += chunk
        i = self.seen.index(want) + len(want)
        out, self.seen = self.seen[:i], self.seen[i:]
        return out.decode("latin-1")

    def wait(self, timeout=10.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                return os.waitstatus_to_exitcode(status)
            try:
                r, _, _ = select.select([self.fd], [], [], 0.1)
                if r:
                    self.seen += os.read(self.fd, 4096)
            except OSError:
                time.sleep(0.05)
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        return None

    def close(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        except (ProcessLookupError, ChildProcessError):
            pass
        os.close(self.fd)
