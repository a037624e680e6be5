#!/usr/bin/python3
"""The saved password and the desktop's keyring, with the real program in real windows under Xvfb
against real peers (kamailio, PulseAudio, the HTTPS billing stub) and a real gnome-keyring-daemon
in a private D-Bus session (tests/lab/keyring.py):

- saved with "Save": after registering, the password is in the keyring (secret-tool finds it
  under the program's name) and not in the settings file; the next start fills it from the
  keyring, even for an Enter pressed at once, and registers; clearing "Save" removes the entry;
- a settings file of the version before the keyring: its password is used, and after the next
  registration moved into the keyring and removed from the file, the rest of the file unchanged;
- no D-Bus session at all: the login window opens at once, logging in works, the password is kept
  in the file, the log says why once; a later start with a keyring moves it there;
- a Secret Service that never answers: the login window opens at once, an Enter waits only a few
  seconds for it, logging in works, the file is used, and the program still ends at once.

The password is the one with the characters that mean something in XML, as in the registration
tests, through the keyring.

    keyring_test.py <orvane-softphone>
"""

import json
import os
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lab"))

from lab import LAB, Lab, LabError, check, failures, Proc, free_port, tail, wait_until  # noqa: E402
from keyring import Keyring  # noqa: E402
from xui import Screen  # noqa: E402

TITLE = "Orvane Softphone"
LOGIN = (289, 300)
MAIN = (285, 473)
USER = "carol"
PASSWORD = "p&<>\"'w"
# How the settings file spells it (QSettings escapes the double quote).
PASSWORD_IN_FILE = PASSWORD.replace('"', '\\"')
FIXTURE = os.path.join(LAB, "fixtures", "SoftPhone-before-keyring.conf")
# Opening at once: well under the 25 s a D-Bus call waits for a silent service.
OPENS_WITHIN = 10


def dlu(x, y):
    return (x * 6 + 2) // 4, (y * 13 + 4) // 8


PASSWORD_FIELD = tuple(v + 6 for v in dlu(81, 77))


class Phone:
    """One start of the program with the home folder given and a session bus or none."""

    def __init__(self, lab, screen, home, name, bus):
        self.lab, self.screen, self.home = lab, screen, home
        for sub in ("config", "data", "runtime"):
            os.makedirs(os.path.join(home, sub), mode=0o700, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("ORVANE_", "QT_", "DBUS_"))}
        env.update(lab.pulse_env)
        env.update(bus)
        env.update(DISPLAY=lab.display, QT_QPA_PLATFORM="xcb",
                   XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_DATA_HOME=os.path.join(home, "data"),
                   XDG_RUNTIME_DIR=os.path.join(home, "runtime"), ORVANE_SIP_SERVER="127.0.0.1:%d" % lab.sip_port,
                   ORVANE_BILLING_HOST="127.0.0.1:%d" % lab.billing_port, ORVANE_CA_FILE=lab.ca_file)
        self.queries = lab.balance_queries()
        started = time.time()
        self.proc = Proc(lab, name, [os.path.abspath(sys.argv[1])], env=env)
        login = screen.wait_window(TITLE, LOGIN, started, 30, self.proc.alive)
        if not login:
            raise LabError("no login window", [self.proc.log])
        self.opened_after = login[0] - started
        self.login = login[1]
        screen.focus(self.login)

    def type_login(self, user, password, save):
        """Types into the fresh login window (focus on the user name) and confirms with Enter."""
        self.screen.type(user)
        self.screen.key("Tab")
        self.screen.type(password)
        self.screen.key("Tab")
        if save:
            self.screen.key("space")
        self.screen.key("Return")

    def registered(self):
        """Waits for the login to register (the balance is asked for after it); the password the
        server accepted, from the billing query, or None."""
        if not wait_until(lambda: self.lab.balance_queries() > self.queries, 20, 0.05):
            return None
        pwd = last_query(self.lab).get("pwd") or [None]
        return pwd[0]

    def settings(self):
        return read_settings(self.home)

    def log_lines(self, needle):
        with open(self.proc.log, errors="replace") as f:
            return [line for line in f if needle in line]

    def end(self):
        """SIGTERM, as when the desktop session ends; the exit code, or None when it hung."""
        self.proc.popen.send_signal(signal.SIGTERM)
        try:
            rc = self.proc.popen.wait(10)
        except subprocess.TimeoutExpired:
            rc = None
        self.proc.stop()
        return rc


def settings_path(home):
    return os.path.join(home, "config", "Kestu", "SoftPhone.conf")


def read_settings(home):
    """The settings file's values as written (QSettings' escapes kept), and its raw text."""
    try:
        with open(settings_path(home), encoding="utf-8") as f:
            text = f.read()
    except OSError:
        return {}, ""
    values = {}
    for line in text.splitlines():
        if "=" in line and not line.startswith("["):
            k, v = line.split("=", 1)
            values[k] = v
    return values, text


def last_query(lab):
    ctx = ssl.create_default_context(cafile=lab.ca_file)
    with urllib.request.urlopen("https://127.0.0.1:%d/last-query" % lab.billing_port, context=ctx, timeout=5) as r:
        return json.loads(r.read().decode())


def saved_case(lab, screen, keyring, run):
    home = os.path.join(run, "saved")
    phone = Phone(lab, screen, home, "phone-save", keyring.env)
    check(phone.opened_after < OPENS_WITHIN, f"with a keyring the login window opens at once ({phone.opened_after:.1f} s)")
    phone.type_login(USER, PASSWORD, save=True)
    check(phone.registered() == PASSWORD, "a login with Save registers with the special-character password")
    check(wait_until(lambda: keyring.lookup(USER) == PASSWORD.encode(), 10, 0.1),
          "the password is in the keyring under the program's name (secret-tool)", keyring.describe(USER))
    check("label = " + "Orvane Softphone" in keyring.describe(USER), "labelled with the program's name")
    check(wait_until(lambda: phone.settings()[0].get("Password1") == "", 10, 0.1),
          "and the settings file holds no password", phone.settings()[1])
    values, text = phone.settings()
    check(PASSWORD not in text and PASSWORD_IN_FILE not in text, "not anywhere in the file (grep)", text)
    check(values.get("UserName") == USER and values.get("Save") == "Y", "the file keeps the user name and Save", text)
    check(oct(os.stat(settings_path(home)).st_mode & 0o777) == "0o600", "the file stays private (0600)")
    check(phone.end() == 0, "the phone ends with 0")

    # Restart: Enter pressed at once (an Enter before the keyring's answer waits for it).
    phone = Phone(lab, screen, home, "phone-restart", keyring.env)
    screen.key("Return")
    check(phone.registered() == PASSWORD, "after a restart the password comes from the keyring and registers")
    check(PASSWORD_IN_FILE not in phone.settings()[1], "and the file still holds none")
    check(phone.end() == 0, "the phone ends with 0")

    # Save cleared: the entry goes.
    phone = Phone(lab, screen, home, "phone-unsave", keyring.env)
    screen.key("Tab")
    screen.key("Tab")
    screen.key("space")  # the Save box, ticked from the saved login
    screen.key("Return")
    check(phone.registered() == PASSWORD, "with Save cleared the keyring's password still logs in")
    check(wait_until(lambda: keyring.lookup(USER) is None, 10, 0.1), "and its entry is deleted from the keyring",
          keyring.describe(USER))
    values, text = phone.settings()
    check(values.get("Save") == "N" and values.get("Password1") == "" and PASSWORD_IN_FILE not in text,
          "the file says Save N and holds no password", text)
    check(phone.end() == 0, "the phone ends with 0")


def migration_case(lab, screen, keyring, run):
    home = os.path.join(run, "migrate")
    os.makedirs(os.path.dirname(settings_path(home)), mode=0o700)
    shutil.copy(FIXTURE, settings_path(home))
    os.chmod(settings_path(home), 0o600)
    before, _ = read_settings(home)
    check(before.get("Password1") == PASSWORD_IN_FILE and keyring.lookup(USER) is None,
          "the file of the version before the keyring holds the password; the keyring does not")
    phone = Phone(lab, screen, home, "phone-migrate", keyring.env)
    screen.key("Return")
    check(phone.registered() == PASSWORD, "its password logs in")
    check(wait_until(lambda: keyring.lookup(USER) == PASSWORD.encode(), 10, 0.1),
          "after registering it is moved into the keyring", keyring.describe(USER))
    check(wait_until(lambda: phone.settings()[0].get("Password1") == "", 10, 0.1), "and removed from the file",
          phone.settings()[1])
    after, text = phone.settings()
    same = {k: v for k, v in before.items() if k not in ("Password1", "SIPIP")}
    check({k: after.get(k) for k in same} == same and set(after) == set(before),
          "the rest of the file keeps its keys and values", text)
    check(phone.end() == 0, "the phone ends with 0")


def no_bus_case(lab, screen, keyring, run):
    home = os.path.join(run, "nobus")
    # No session bus at all; where dbus-launch could start one from the display, one that leads
    # nowhere instead (a started bus could reach the machine's own keyring).
    bus = {}
    if shutil.which("dbus-launch"):
        bus = {"DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(run, "no-bus")}
    phone = Phone(lab, screen, home, "phone-nobus", bus)
    check(phone.opened_after < OPENS_WITHIN, f"without D-Bus the login window opens at once ({phone.opened_after:.1f} s)")
    phone.type_login(USER, PASSWORD, save=True)
    check(phone.registered() == PASSWORD, "logging in works")
    check(wait_until(lambda: len(phone.log_lines("orvane.keyring")) > 0, 10, 0.1), "the log says why")
    values, _ = phone.settings()
    check(values.get("Password1") == PASSWORD_IN_FILE, "the password is kept in the settings file")
    check(phone.end() == 0, "the phone ends with 0")
    lines = phone.log_lines("orvane.keyring")
    check(len(lines) == 1 and PASSWORD not in lines[0], "once, without the password", "".join(lines))

    phone = Phone(lab, screen, home, "phone-nobus2", bus)
    screen.key("Return")
    check(phone.registered() == PASSWORD, "the next start without D-Bus logs in from the file")
    check(phone.end() == 0, "the phone ends with 0")

    # A later start finds a keyring: it is tried again, and takes the password.
    phone = Phone(lab, screen, home, "phone-nobus3", keyring.env)
    screen.key("Return")
    check(phone.registered() == PASSWORD, "a later start with a keyring logs in")
    check(wait_until(lambda: keyring.lookup(USER) == PASSWORD.encode(), 10, 0.1)
          and wait_until(lambda: phone.settings()[0].get("Password1") == "", 10, 0.1),
          "and moves the password from the file into the keyring", phone.settings()[1])
    check(phone.end() == 0, "the phone ends with 0")


def silent_case(lab, screen, keyring, run):
    home = os.path.join(run, "silent")
    # The saved login of a keyring user: the file holds no password.
    os.makedirs(os.path.dirname(settings_path(home)), mode=0o700)
    with open(settings_path(home), "w") as f:
        f.write("[General]\nAccNumber=\nAccPasword=\nPassword1=\nSIPIP=\nSave=Y\nUserName=%s\n" % USER)
    keyring.freeze()
    phone = Phone(lab, screen, home, "phone-silent", keyring.env)
    check(phone.opened_after < OPENS_WITHIN,
          f"with a keyring that never answers the login window opens at once ({phone.opened_after:.1f} s)")
    pressed = time.time()
    screen.key("Return")
    box = wait_until(lambda: screen.visible(TITLE, other_than=(LOGIN, MAIN)), 20, 0.05)
    waited = time.time() - pressed
    check(bool(box) and 2.0 <= waited <= 10.0,
          f"Enter waits a few seconds for it, then goes on without it ({waited:.1f} s; the field is empty: refused)")
    if box:
        screen.focus(box[0])
        screen.key("Return")
        wait_until(lambda: not screen.visible(TITLE, other_than=(LOGIN, MAIN)), 5, 0.05)
    screen.focus(phone.login)
    screen.click(phone.login, *PASSWORD_FIELD)
    screen.type(PASSWORD)
    screen.key("Return")
    check(phone.registered() == PASSWORD, "typing the password logs in")
    check(wait_until(lambda: phone.settings()[0].get("Password1") == PASSWORD_IN_FILE, 5, 0.1),
          "the password is kept in the settings file", phone.settings()[1])
    lines = phone.log_lines("orvane.keyring")
    check(len(lines) == 1, "the log says once why", "".join(lines))
    ending = time.time()
    check(phone.end() == 0 and time.time() - ending < 8, "the phone still ends at once")
    keyring.thaw()


def main():
    run = tempfile.mkdtemp(prefix="orvane-keyring-")
    lab = Lab(run)
    screen = None
    keyring = None
    try:
        lab.uas_port = free_port()
        lab.media_port = 0
        lab.start_kamailio([(USER, PASSWORD)])
        lab.start_pulse()
        lab.start_billing()
        lab.start_xvfb()
        screen = Screen(lab.display)
        keyring = Keyring(lab, os.path.join(run, "keyring"))
        keyring.start("unlocked")
        for case in (saved_case, migration_case, no_bus_case, silent_case):
            print(f"-- {case.__name__}", flush=True)
            try:
                case(lab, screen, keyring, run)
            except LabError as e:
                check(False, str(e))
                for log in e.logs:
                    print(f"--- {log}\n{tail(log)}")
    except LabError as e:
        check(False, str(e))
        for log in e.logs:
            print(f"--- {log}\n{tail(log)}")
    finally:
        if screen:
            screen.close()
        if keyring:
            keyring.stop()
        lab.stop_all()
        if failures:
            for name in sorted(os.listdir(run)):
                if name.endswith(".log"):
                    print(f"--- {name}\n{tail(os.path.join(run, name), 30)}")
        if os.environ.get("ORVANE_KEEP_LAB"):
            print(f"the run's files are kept in {run}")
        else:
            shutil.rmtree(run, ignore_errors=True)
    if failures:
        print(f"{len(failures)} keyring check(s) failed")
        sys.exit(1)


if __name__ == "__main__":
    main()
