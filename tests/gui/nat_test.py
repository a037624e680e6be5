#!/usr/bin/python3
"""The phone at home, in its real window under Xvfb, behind a router in network namespaces
(tests/lab/netlab.py), with kamailio and SIPp on the router's far side:

- behind a port-preserving router and behind one that gives every new binding a fresh port
  (`masquerade fully-random`), both forgetting a binding after ROUTER_TIMEOUT s without traffic:
  idle well past that, then an incoming call rings;
- the process stopped (SIGSTOP) until the router forgot its binding, then continued: it registers
  again within 10 s and an incoming call rings; the same after a suspend announced by logind's
  PrepareForSleep on a private system bus;
- a new address (another network): registered again within 10 s, an incoming call rings;
- the network gone: the log says so and the phone does not spin; back: registered within 10 s,
  an incoming call rings;
- a 20 s call with 5 % of RTP lost each way: 12 of 12 DTMF digits arrive, RTP flows both ways;
- the log file asked for with --log holds the registration, network and call events;
- one phone knows the service by name, through a DNS server on the service's side.

    nat_test.py <orvane-softphone>
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lab"))

from lab import LAB, Lab, LabError, check, failures, stacks, tail, wait_until  # noqa: E402
from netlab import SERVICE, SIP_PORT, UAS_PORT, FakeLogind, HomeNet, rtp_digits, udp_packets  # noqa: E402
from xui import Screen  # noqa: E402

TITLE = "Orvane Softphone"
LOGIN = (289, 300)
MAIN = (285, 473)
# Short, so that the idle cases take well under a minute; longer than the phone's keep-alive
# period (15 s), shorter than the 30 s that common home routers keep an idle UDP binding. A
# longer run, closer to a real home, can be asked for (e.g. ORVANE_ROUTER_TIMEOUT=30
# ORVANE_IDLE_SECONDS=120).
ROUTER_TIMEOUT = int(os.environ.get("ORVANE_ROUTER_TIMEOUT", "20"))
IDLE_SECONDS = int(os.environ.get("ORVANE_IDLE_SECONDS", str(2 * ROUTER_TIMEOUT + 5)))
BILLING_PORT = 8443
DIGITS = "123456789*0#"


def dlu(x, y):
    return (x * 6 + 2) // 4, (y * 13 + 4) // 8


HANGUP = tuple(v + 10 for v in dlu(67, 128))


class Phone:
    """The program in the phone's namespace, logged in as alice through its login window, with
    its log file asked for on the command line."""

    def __init__(self, lab, net, screen, home, name, extra_env=None, server=SERVICE):
        self.lab, self.net, self.screen, self.home = lab, net, screen, home
        for sub in ("config", "data", "runtime"):
            os.makedirs(os.path.join(home, sub), mode=0o700, exist_ok=True)
        # The billing stub on the phone's own loopback: the balance is not what is tested here.
        billing_log = os.path.join(lab.run, name + "-billing.log")
        net.start_in_phone(name + "-billing", [
            "/usr/bin/python3", os.path.join(LAB, "billing_stub.py"), "--port", str(BILLING_PORT),
            "--cert", os.path.join(lab.run, "ca", "server.pem"), "--key", os.path.join(lab.run, "ca", "server.key"),
            "--credit", "25.00", "--currency", "EUR"], env=None, log=billing_log)
        self.billing_log = billing_log
        self.log = os.path.join(home, "phone.log")
        env = {k: v for k, v in os.environ.items() if not k.startswith(("ORVANE_", "QT_"))}
        env.update(lab.pulse_env, DISPLAY=lab.display, QT_QPA_PLATFORM="xcb",
                   XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_DATA_HOME=os.path.join(home, "data"),
                   XDG_RUNTIME_DIR=os.path.join(home, "runtime"), ORVANE_SIP_SERVER="%s:%d" % (server, SIP_PORT),
                   ORVANE_BILLING_HOST="127.0.0.1:%d" % BILLING_PORT, ORVANE_CA_FILE=lab.ca_file)
        env.update(extra_env or {})
        started = time.time()
        self.proc = net.start_in_phone(name, [os.path.abspath(sys.argv[1]), "--log", self.log], env=env)
        login = screen.wait_window(TITLE, LOGIN, started, 30, self.proc.alive)
        if not login:
            raise LabError("no login window", [self.proc.log])
        screen.focus(login[1])
        screen.type("alice")
        screen.key("Tab")
        screen.type("alice-secret")
        screen.key("Return")
        main = screen.wait_window(TITLE, MAIN, started, 15, self.proc.alive)
        if not main or not wait_until(lambda: self.balance_queries() > 0, 15, 0.1):
            raise LabError("the phone did not log in", [self.proc.log, self.log])
        self.main = main[1]

    def alive(self):
        return self.proc.alive()

    def balance_queries(self):
        return read(self.billing_log).count("GET /callshop/getBalance.php")

    def logged(self):
        return read(self.log)

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def call(self, number):
        self.screen.focus(self.main)
        for _ in range(20):
            self.screen.key("BackSpace", 0.005)
        self.screen.type(number)
        self.screen.key("Return")

    def hang_up(self):
        self.screen.click(self.main, *HANGUP)


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


_calls = [0]
_phones = []


def dismiss_boxes(screen):
    """A message box left open takes the keyboard from the main window. The only one these
    sessions can show is the balance query's failure (its HTTPS server is a Python stub that a
    loaded machine may slow past the query's 5 s): it is noted, with the phones' reasons, and
    closed, since the balance is not what is tested here."""
    boxes = screen.visible(TITLE, other_than=(MAIN, LOGIN))
    for wid in boxes:
        reasons = [line for p in _phones for line in p.logged().splitlines() if "orvane.balance" in line]
        print("     note: a message box was open; %s" % ("; ".join(reasons[-2:]) or "no reason in the logs"))
        screen.focus(wid)
        screen.key("Return")
    return bool(boxes)


def incoming_call(net, phone, what):
    """SIPp calls alice through kamailio. True when the phone rang (its 180 reached SIPp) within
    10 s; then the call is answered from the keyboard and SIPp hangs up."""
    _calls[0] += 1
    n = _calls[0]
    dismiss_boxes(phone.screen)
    queries = phone.balance_queries()
    caller, log = net.sipp("caller%d" % n, "uac_answer.xml",
                           ["-s", "alice", "-d", "1000", "-set", "caller", "5551000", "-rtp_echo",
                            "%s:%d" % (SERVICE, SIP_PORT)], 5100 + n, 16000 + 10 * n)
    rang = wait_until(lambda: "SIP/2.0 180" in read(log) or not caller.alive(), 10, 0.05) and "SIP/2.0 180" in read(log)
    check(rang, what + ": an incoming call rings", tail(net.kamailio.log, 6))
    if rang:
        phone.screen.focus(phone.main)
        phone.screen.key("Return")
        # A box that opened meanwhile has the keyboard: closed, the key is pressed again.
        if not wait_until(lambda: "SIP/2.0 200" in read(log), 5, 0.05) and dismiss_boxes(phone.screen):
            phone.screen.focus(phone.main)
            phone.screen.key("Return")
        try:
            caller.popen.wait(20)
        except subprocess.TimeoutExpired:
            pass
        check(caller.popen.returncode == 0, what + ": it is answered and ends cleanly", tail(log, 20))
        # The balance query that follows a call is answered before the next case begins (a
        # process stopped in the middle of it would find it timed out when continued).
        wait_until(lambda: phone.balance_queries() > queries, 10, 0.05)
    caller.stop()
    return rang


def registered_again(net, before, what, since):
    """Waits for a REGISTER saved after the `before` first ones; checks it came within 10 s."""
    got = wait_until(lambda: len(net.registrations()) > before, 10, 0.05)
    check(got, "%s: registered again within 10 s (%.2f s)" % (what, time.time() - since), tail(net.kamailio.log, 6))
    return net.registrations()[-1] if got else None


def idle_cases(nets, phones):
    """Both phones idle past twice the router's timeout at once, then each gets a call."""
    start = time.time()
    time.sleep(IDLE_SECONDS)  # the idle time is what is tested
    for net, phone in zip(nets, phones):
        kind = "fully-random router" if net.random_ports else "port-preserving router"
        # What staying reachable cost while idle: every packet the phone sent to the service.
        sent = [p for p in udp_packets(net.pcap) if start <= p[0] <= start + IDLE_SECONDS and p[4] == SIP_PORT]
        keep = [p for p in sent if p[5].strip(b"\r\n") == b""]
        sip = [p for p in sent if p not in keep]
        print("     %s, %d s idle: %d keep-alives (%d B of UDP payload), %d SIP requests (%d B: %s)"
              % (kind, IDLE_SECONDS, len(keep), sum(len(p[5]) for p in keep), len(sip), sum(len(p[5]) for p in sip),
                 ", ".join(p[5].split(b" ", 1)[0].decode("latin-1") for p in sip) or "none"))
        incoming_call(net, phone, "idle %d s behind a %s" % (int(time.time() - start), kind))


def sleep_case(net, phone):
    phone.proc.popen.send_signal(signal.SIGSTOP)
    stopped = time.time()
    # Asleep until the router has forgotten the phone's binding.
    gone = wait_until(lambda: not net.bindings(), ROUTER_TIMEOUT + 30, 0.5)
    check(gone, "stopped: the router forgot the phone's binding (%.0f s)" % (time.time() - stopped))
    before = net.registrations()  # what was saved before the phone stopped
    phone.proc.popen.send_signal(signal.SIGCONT)
    woke = time.time()
    now = registered_again(net, len(before), "after SIGSTOP/SIGCONT", woke)
    if now and before:
        check(now != before[-1], "the router gave the phone a new public port (%s, was %s)" % (now, before[-1]))
        # Registered again with the new binding in its contact, for registrars that go by it.
        named = wait_until(lambda: any(now in c for c in net.contacts()[len(before):]), 10, 0.05)
        check(named, "and the phone's contact names it within 10 s", "\n".join(net.contacts()[-3:]))
    incoming_call(net, phone, "after sleeping")


def by_name_case(net, phone):
    check("query sip.lab.test type 1" in read(os.path.join(net.lab.run, "dns-%s.log" % net.service_ns)),
          "the phone that knows the service by name looked it up in DNS")


def logind_case(net, phone, logind):
    """A suspend as the desktop announces it: the process never stops, so only logind's signal
    can tell the phone; the router forgot the binding meanwhile."""
    check("from logind" in phone.logged(), "the phone listens to logind's PrepareForSleep")
    logind.prepare_for_sleep(True)
    net.ns(net.router_ns, "conntrack", "-F")
    before = len(net.registrations())
    woke = time.time()
    logind.prepare_for_sleep(False)
    registered_again(net, before, "after logind's PrepareForSleep(false)", woke)
    incoming_call(net, phone, "after a suspend announced by logind")


def address_case(net, phone):
    before = len(net.registrations())
    changed = time.time()
    new = net.move_phone()
    registered_again(net, before, "new address %s" % new, changed)
    incoming_call(net, phone, "after the address changed")


def network_gone_case(net, phone):
    lost_at = len(phone.logged())
    net.phone_link(False)
    said = wait_until(lambda: "no network" in phone.logged()[lost_at:], 10, 0.1)
    check(said, "network gone: the log says so within 10 s", phone.logged()[lost_at:][-600:])
    cpu = phone.cpu_seconds()
    time.sleep(5)  # how the phone behaves without a network is what is tested
    used = phone.cpu_seconds() - cpu
    check(used < 0.25, "without a network the phone does not spin (%.2f s of CPU in 5 s)" % used)
    before = len(net.registrations())
    back = time.time()
    net.phone_link(True)
    registered_again(net, before, "network back", back)
    incoming_call(net, phone, "after the network came back")


def lossy_call_case(net, phone):
    net.rtp_loss(5)
    media = 17000
    peer, log = net.sipp("answer", "uas_answer.xml", ["-rtp_echo", "-set", "mport", str(media)], UAS_PORT, media)
    if not wait_until(lambda: not peer.alive() or net.udp_listening(net.service_ns, UAS_PORT), 10, 0.05):
        check(False, "SIPp answers")
        return
    start = time.time()
    dismiss_boxes(phone.screen)
    phone.call("4021")
    connected = wait_until(lambda: "ACK sip" in read(log), 15, 0.05)
    check(connected, "5 % RTP loss: an outgoing call connects", tail(log, 20))
    if connected:
        time.sleep(1)
        phone.screen.focus(phone.main)
        phone.screen.type(DIGITS, 0.3)
        wait_until(lambda: time.time() - start >= 20 or not peer.alive(), 25, 0.2)  # a 20 s call
        phone.hang_up()
    try:
        peer.popen.wait(15)
    except subprocess.TimeoutExpired:
        pass
    check(peer.popen.returncode == 0, "5 % RTP loss: the call ends cleanly", tail(log, 20))
    packets = [p for p in udp_packets(net.pcap) if p[0] >= start]
    sent = [p for p in packets if p[4] == media and len(p[5]) >= 12]
    echoed = [p for p in packets if p[2] == media and len(p[5]) >= 12]
    digits = rtp_digits(packets, media)
    check(digits == DIGITS, "5 %% RTP loss: %d of %d DTMF digits arrive (%s)" % (
        sum(1 for a, b in zip(digits, DIGITS) if a == b), len(DIGITS), digits))
    check(len(sent) > 300 and len(echoed) > 300,
          "RTP flows both ways (%d packets from the phone, %d back to it)" % (len(sent), len(echoed)))


def log_case(phone):
    text = phone.logged()
    for what, needle in (("registration", "orvane.registration"), ("network", "orvane.network"),
                         ("call", "orvane.call")):
        check(needle in text, "the --log file holds %s events" % what, text[-800:])
    check("alice-secret" not in text, "and never the password")


def main():
    run = tempfile.mkdtemp(prefix="orvane-nat-")
    lab = Lab(run)
    screen = None
    logind = None
    nets = []
    phones = []
    try:
        r = subprocess.run(["sh", os.path.join(LAB, "make_test_ca.sh"), os.path.join(run, "ca")],
                           capture_output=True, text=True, timeout=60)
        if r.returncode != 0:
            raise LabError("make_test_ca.sh failed: " + r.stderr)
        lab.ca_file = os.path.join(run, "ca", "ca.pem")
        lab.start_pulse()
        lab.start_xvfb()
        screen = Screen(lab.display)
        logind = FakeLogind(lab)
        for tag, random_ports in (("k", False), ("r", True)):
            net = HomeNet(lab, tag, random_ports, ROUTER_TIMEOUT)
            nets.append(net)
            net.start_service([("alice", "alice-secret")])
            # One phone knows the service by name, through DNS, as the real service is known.
            server = net.name_service("sip.lab.test") if not random_ports else SERVICE
            phones.append(Phone(lab, net, screen, os.path.join(run, "home-" + tag), "phone-" + tag,
                                {"DBUS_SYSTEM_BUS_ADDRESS": logind.address}, server))
            _phones.append(phones[-1])
        by_name_case(nets[0], phones[0])
        idle_cases(nets, phones)
        logind_case(nets[0], phones[0], logind)
        net, phone = nets[1], phones[1]
        sleep_case(net, phone)
        address_case(net, phone)
        network_gone_case(net, phone)
        lossy_call_case(net, phone)
        log_case(phone)
        for p in phones:
            check(p.alive(), "the phone is still running")
    except LabError as e:
        check(False, str(e))
        for log in e.logs:
            print(f"--- {log}\n{tail(log)}")
    finally:
        if failures:
            for p in phones:
                if p.alive():
                    print(f"--- the phone's threads\n{stacks(p.proc.pid)}")
                print(f"--- {p.log}\n{tail(p.log, 40)}")
                print(f"--- {p.billing_log}\n{tail(p.billing_log, 10)}")
            if screen:
                subprocess.run(["import", "-window", "root", os.path.join(os.environ.get("ORVANE_SHOTS", "/tmp"),
                                                                         "nat-test-failed.png")],
                               env=dict(os.environ, DISPLAY=lab.display), timeout=20)
        if screen:
            screen.close()
        if logind:
            logind.close()
        for net in nets:
            net.close()
        lab.stop_all()
        shutil.rmtree(run, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) behind the router failed")
        sys.exit(1)


if __name__ == "__main__":
    main()
