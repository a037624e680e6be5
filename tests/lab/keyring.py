#!/usr/bin/python3
"""A private desktop keyring for the tests: a D-Bus session bus of its own, with no service files
(so nothing is started on it behind the test's back), and on it a real gnome-keyring-daemon
serving the Secret Service, its keyrings in a folder of the run (its own XDG_DATA_HOME,
XDG_RUNTIME_DIR and HOME), unlocked with a test password. Nothing touches the machine's own
keyring or another run's; every process is stopped by its PID.

Kinds of keyring (`mode`):
  unlocked           the usual desktop: the login keyring unlocked with the session
  locked             a keyring daemon with no unlocked keyring and no way to ask the user: it
                     finds nothing and refuses to store
  no-secret-service  a session bus where nobody serves the Secret Service

As a module: k = Keyring(lab, folder); k.start(mode); k.env (the variables a program needs to
reach it); k.lookup(user) (what secret-tool finds); k.freeze() (a keyring that never answers).

As a command, so that tests in other languages run a program inside such a session:

    keyring.py FOLDER [--mode MODE] -- COMMAND [ARGS...]
"""

import argparse
import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lab import Lab, LabError, Proc, wait_until  # noqa: E402

# The entries' service name, as the program stores them (the label a keyring manager shows).
SERVICE = "Orvane Softphone"
TEST_PASSWORD = b"keyring-test-password"

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


class Keyring:
    def __init__(self, lab, folder):
        self.lab = lab
        self.folder = folder
        self.daemon = None
        self.bus = None
        self.frozen = False
        for sub in ("data", "runtime", "home", "config"):
            os.makedirs(os.path.join(folder, sub), mode=0o700, exist_ok=True)
        self.address = "unix:path=" + os.path.join(folder, "bus")
        self.env = {"DBUS_SESSION_BUS_ADDRESS": self.address}

    def _tool_env(self):
        """The environment of the keyring's own processes and of secret-tool."""
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(DBUS_SESSION_BUS_ADDRESS=self.address, XDG_DATA_HOME=os.path.join(self.folder, "data"),
                   XDG_RUNTIME_DIR=os.path.join(self.folder, "runtime"), HOME=os.path.join(self.folder, "home"),
                   XDG_CONFIG_HOME=os.path.join(self.folder, "config"))
        return env

    def _bus_call(self, *args):
        try:
            return subprocess.run(["dbus-send", "--bus=" + self.address, "--print-reply",
                                   "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus"] + list(args),
                                  capture_output=True, text=True, timeout=5)
        except subprocess.TimeoutExpired:
            return None

    def served(self):
        r = self._bus_call("org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets")
        return r is not None and r.returncode == 0 and "boolean true" in r.stdout

    def start(self, mode="unlocked"):
        config = os.path.join(self.folder, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(socket=os.path.join(self.folder, "bus")))
        self.bus = Proc(self.lab, "keyring-bus", ["dbus-daemon", "--config-file=" + config, "--nofork",
                                                  "--nopidfile"], env=self._tool_env())

        def bus_up():
            r = self._bus_call("org.freedesktop.DBus.ListNames")
            return not self.bus.alive() or (r is not None and r.returncode == 0)

        if not wait_until(bus_up, 10, 0.05) or not self.bus.alive():
            raise LabError("the keyring's D-Bus session did not start", [self.bus.log])
        if mode == "no-secret-service":
            return
        args = ["gnome-keyring-daemon", "--foreground", "--components=secrets"]
        if mode == "unlocked":
            args.append("--unlock")
        elif mode != "locked":
            raise LabError("no such keyring mode: " + mode)
        log = os.path.join(self.lab.run, "gnome-keyring.log")
        with open(log, "ab") as out:
            popen = subprocess.Popen(args, env=self._tool_env(), stdin=subprocess.PIPE, stdout=out, stderr=out,
                                     cwd=self.folder)
        self.daemon = _Adopted(self.lab, "gnome-keyring", popen, log)
        if mode == "unlocked":
            # The login keyring's password, as a desktop session's login hands it over.
            popen.stdin.write(TEST_PASSWORD)
        popen.stdin.close()
        if not wait_until(lambda: not self.daemon.alive() or self.served(), 15, 0.05) or not self.daemon.alive():
            raise LabError("gnome-keyring-daemon did not serve the Secret Service", [log])

    def freeze(self):
        """The Secret Service stays on the bus but never answers again (until thawed)."""
        os.kill(self.daemon.pid, signal.SIGSTOP)
        self.frozen = True

    def thaw(self):
        if self.daemon and self.frozen:
            os.kill(self.daemon.pid, signal.SIGCONT)
            self.frozen = False

    def lookup(self, user):
        """The secret stored for `user` under the program's service name, as secret-tool finds
        it (bytes), or None when there is none."""
        r = subprocess.run(["secret-tool", "lookup", "user", user, "server", SERVICE], env=self._tool_env(),
                           capture_output=True, timeout=10)
        return r.stdout if r.returncode == 0 else None

    def describe(self, user):
        """secret-tool's description of the entries for `user` (label, attributes, secret)."""
        r = subprocess.run(["secret-tool", "search", "--all", "user", user], env=self._tool_env(),
                           capture_output=True, text=True, timeout=10)
        return r.stdout + r.stderr

    def stop(self):
        self.thaw()
        if self.daemon:
            self.daemon.stop()
            self.daemon = None
        if self.bus:
            self.bus.stop()
            self.bus = None


class _Adopted(Proc):
    """A process started here with a pipe to its input, kept in the lab's PID list like the rest."""

    def __init__(self, lab, name, popen, log):  # noqa: super().__init__ would start another
        self.lab, self.name, self.log, self.popen, self.pid = lab, name, log, popen, popen.pid
        lab.remember(self)


def main():
    parser = argparse.ArgumentParser(description="Runs a command inside a private keyring session.",
                                     usage="keyring.py FOLDER [--mode MODE] -- COMMAND [ARGS...]")
    parser.add_argument("folder")
    parser.add_argument("--mode", default="unlocked", choices=("unlocked", "locked", "no-secret-service"))
    argv = sys.argv[1:]
    if "--" not in argv or argv.index("--") == len(argv) - 1:
        parser.error("no command")
    a = parser.parse_args(argv[:argv.index("--")])
    command = argv[argv.index("--") + 1:]
    os.makedirs(a.folder, exist_ok=True)
    lab = Lab(a.folder)
    keyring = Keyring(lab, os.path.join(a.folder, "keyring"))
    child = None

    def stop(signum, frame):
        if child and child.poll() is None:
            child.terminate()
        raise SystemExit(128 + signum)

    signal.signal(signal.SIGTERM, stop)
    try:
        keyring.start(a.mode)
        env = dict(os.environ, **keyring.env)
        env["ORVANE_KEYRING_MODE"] = a.mode
        child = subprocess.Popen(command, env=env)
        return child.wait()
    except LabError as e:
        print("keyring.py: %s" % e, file=sys.stderr)
        for log in e.logs:
            print(open(log, errors="replace").read()[-2000:], file=sys.stderr)
        return 125
    finally:
        keyring.stop()
        lab.stop_all()


if __name__ == "__main__":
    sys.exit(main())
