"""A home network in network namespaces, for the tests of the phone behind a router: the phone's
namespace (a LAN address, default route through the router), the router's (nftables masquerade,
port-preserving or fully-random, with short conntrack UDP timeouts of its own) and the
service's (kamailio with NAT handling, SIPp). Addresses exist only inside these namespaces; the
phone reaches Xvfb and PulseAudio through their filesystem sockets, which cross namespaces.

    net = HomeNet(lab, "a", random_ports=True, udp_timeout=20)
    net.start_service([("alice", "secret")])
    ...
    net.close()     # stops what it started, by PID, and deletes the namespaces

Namespace names start with the prefix given by ORVANE_NETNS_PREFIX (default "o14-") and carry
the test's PID, so that concurrent runs never meet."""

import os
import re
import shutil
import struct
import subprocess
import time

from lab import LAB, LabError, Proc, wait_until

WAN = "198.51.100"          # the "internet" between router and service
SERVICE = WAN + ".1"
ROUTER_WAN = WAN + ".2"
LANS = ("10.14.1", "10.14.2")  # the phone's first network and the one it moves to
SIP_PORT = 5060
UAS_PORT = 5070


def run(*args, check=True):
    r = subprocess.run(list(args), capture_output=True, text=True, timeout=30)
    if check and r.returncode != 0:
        raise LabError("%s: %s" % (" ".join(args), r.stderr.strip()))
    return r


class HomeNet:
    def __init__(self, lab, tag, random_ports, udp_timeout):
        self.lab = lab
        prefix = os.environ.get("ORVANE_NETNS_PREFIX", "o14-")
        base = "%s%d-%s" % (prefix, os.getpid(), tag)
        self.phone_ns, self.router_ns, self.service_ns = base + "-ph", base + "-rt", base + "-sv"
        self.random_ports = random_ports
        self.udp_timeout = udp_timeout
        self.lan = 0
        self.made = []
        self.procs = []
        try:
            self._build()
        except Exception:
            self.close()
            raise

    # -- the network -----------------------------------------------------------------------------

    def ns(self, name, *args, check=True):
        return run("ip", "netns", "exec", name, *args, check=check)

    def _build(self):
        self._remove_dead_runs()
        for n in (self.phone_ns, self.router_ns, self.service_ns):
            run("ip", "netns", "add", n)
            self.made.append(n)
            run("ip", "-n", n, "link", "set", "lo", "up")
        r, p, s = self.router_ns, self.phone_ns, self.service_ns
        run("ip", "-n", r, "link", "add", "wan", "type", "veth", "peer", "name", "eth0", "netns", s)
        run("ip", "-n", r, "link", "add", "lan", "type", "veth", "peer", "name", "eth0", "netns", p)
        run("ip", "-n", r, "addr", "add", ROUTER_WAN + "/24", "dev", "wan")
        run("ip", "-n", s, "addr", "add", SERVICE + "/24", "dev", "eth0")
        for lan in LANS:
            run("ip", "-n", r, "addr", "add", lan + ".1/24", "dev", "lan")
        for n, dev in ((r, "wan"), (r, "lan"), (s, "eth0"), (p, "eth0")):
            run("ip", "-n", n, "link", "set", dev, "up")
        run("ip", "-n", p, "addr", "add", LANS[0] + ".2/24", "dev", "eth0")
        run("ip", "-n", p, "route", "add", "default", "via", LANS[0] + ".1")
        # The service has no route to the LANs: only the router's public address reaches it.
        self.ns(r, "sysctl", "-q", "-w", "net.ipv4.ip_forward=1")
        rules = ("table ip nat {\n chain post {\n  type nat hook postrouting priority srcnat;\n"
                 "  oifname \"wan\" masquerade%s\n }\n}\n" % (" fully-random" if self.random_ports else ""))
        self._nft(rules)
        # conntrack's UDP timeouts are the router's own (per namespace): the time a binding lives
        # without traffic, whether or not answers were seen.
        self.ns(r, "sysctl", "-q", "-w", "net.netfilter.nf_conntrack_udp_timeout=%d" % self.udp_timeout,
                "net.netfilter.nf_conntrack_udp_timeout_stream=%d" % self.udp_timeout)
        got = self.ns(r, "sysctl", "-n", "net.netfilter.nf_conntrack_udp_timeout_stream").stdout.strip()
        if got != str(self.udp_timeout):
            raise LabError("the router's conntrack timeout did not take (%s)" % got)

    def _remove_dead_runs(self):
        """Namespaces of earlier runs of this test killed before they could delete them: named
        with the prefix and a PID that no longer runs."""
        prefix = os.environ.get("ORVANE_NETNS_PREFIX", "o14-")
        for line in run("ip", "netns", "list", check=False).stdout.splitlines():
            name = line.split()[0] if line.split() else ""
            m = re.match(re.escape(prefix) + r"(\d+)-\w+-(ph|rt|sv)$", name)
            if m and not os.path.exists("/proc/" + m.group(1)):
                run("ip", "netns", "del", name, check=False)
                shutil.rmtree("/etc/netns/" + name, ignore_errors=True)

    def _nft(self, rules):
        r = subprocess.run(["ip", "netns", "exec", self.router_ns, "nft", "-f", "-"], input=rules,
                           capture_output=True, text=True, timeout=30)
        if r.returncode != 0:
            raise LabError("nft: " + r.stderr.strip())

    def rtp_loss(self, percent):
        """Drops `percent` % of the UDP packets other than SIP crossing the router, each way."""
        self._nft("table ip loss {\n chain impair {\n  type filter hook forward priority filter;\n"
                  "  udp sport != %d udp dport != %d numgen random mod 100 < %d drop\n }\n}\n"
                  % (SIP_PORT, SIP_PORT, percent))

    def bindings(self):
        """The router's UDP conntrack entries to the service's SIP port."""
        out = self.ns(self.router_ns, "conntrack", "-L", "-p", "udp", "--orig-port-dst", str(SIP_PORT),
                      check=False).stdout
        return [line for line in out.splitlines() if "dport=%d" % SIP_PORT in line]

    def move_phone(self):
        """A new address from another network (a DHCP renewal with a new lease, another Wi-Fi):
        the new address and route come first, then the old address goes."""
        old, self.lan = LANS[self.lan], 1 - self.lan
        new = LANS[self.lan]
        p = self.phone_ns
        run("ip", "-n", p, "addr", "add", new + ".2/24", "dev", "eth0")
        run("ip", "-n", p, "route", "replace", "default", "via", new + ".1")
        run("ip", "-n", p, "addr", "del", old + ".2/24", "dev", "eth0")
        return new + ".2"

    def phone_link(self, up):
        """The phone's network goes away (link down: its routes go with it) or comes back (link
        up and the default route again, as a DHCP client sets it)."""
        p = self.phone_ns
        run("ip", "-n", p, "link", "set", "eth0", "up" if up else "down")
        if up:
            run("ip", "-n", p, "route", "replace", "default", "via", LANS[self.lan] + ".1")

    # -- the service -----------------------------------------------------------------------------

    def _proc(self, name, ns, args, env=None, log=None):
        # Each in a group of its own, all of which goes at stop (a kamailio worker once stayed).
        p = Proc(self.lab, name, ["ip", "netns", "exec", ns] + list(args), env=env, log=log, group=True)
        self.procs.append(p)
        return p

    def udp_listening(self, ns, port):
        out = self.ns(ns, "ss", "-Hulnp", check=False).stdout
        return re.search(r":%d\s" % port, out) is not None

    def start_service(self, accounts):
        modules = next((d + "/" for d in ("/usr/lib/x86_64-linux-gnu/kamailio/modules", "/usr/lib/kamailio/modules",
                                          "/usr/lib64/kamailio/modules") if os.path.exists(d + "/tm.so")), None)
        if modules is None:
            raise LabError("kamailio modules not found")
        with open(os.path.join(LAB, "kamailio-nat.cfg.in")) as f:
            cfg = f.read()
        lines = "".join('\t$sht(subs=>%s) = "%s";\n' % (u, p) for u, p in accounts)
        for k, v in (("@ADDR@", SERVICE), ("@PORT@", str(SIP_PORT)), ("@UAS_PORT@", str(UAS_PORT)),
                     ("@MPATH@", modules), ("@ACCOUNTS@", lines)):
            cfg = cfg.replace(k, v)
        kdir = os.path.join(self.lab.run, self.service_ns)
        os.makedirs(kdir, exist_ok=True)
        path = os.path.join(kdir, "kamailio.cfg")
        with open(path, "w") as f:
            f.write(cfg)
        self.kamailio = self._proc("kamailio-" + self.service_ns, self.service_ns,
                                   ["kamailio", "-f", path, "-DD", "-E", "-Y", kdir, "-m", "32", "-M", "8"])
        if not wait_until(lambda: not self.kamailio.alive() or self.udp_listening(self.service_ns, SIP_PORT), 15,
                          0.1) or not self.kamailio.alive():
            raise LabError("kamailio did not start", [self.kamailio.log])
        # Every SIP and RTP packet the service sees, for the checks of what crossed the router.
        self.pcap = os.path.join(kdir, "service.pcap")
        self.tcpdump = self._proc("tcpdump-" + self.service_ns, self.service_ns, [
            "tcpdump", "-i", "eth0", "-n", "-s", "0", "-U", "--immediate-mode", "-Z", "root", "-w", self.pcap,
            "udp"])
        if not wait_until(lambda: not self.tcpdump.alive() or "listening on" in _read(self.tcpdump.log), 10, 0.05):
            raise LabError("tcpdump did not start", [self.tcpdump.log])

    def registrations(self):
        """The source address:port of every REGISTER kamailio saved, in order."""
        return re.findall(r"REGISTER \S+ saved from (\S+?) ", _read(self.kamailio.log))

    def contacts(self):
        """The Contact of every REGISTER kamailio saved, in order."""
        return re.findall(r"REGISTER \S+ saved from \S+ \(Contact (.*)\)", _read(self.kamailio.log))

    def sipp(self, name, scenario, extra, port, media):
        log = os.path.join(self.lab.run, "%s-%s-messages.log" % (self.service_ns, name))
        return self._proc(name, self.service_ns, [
            "sipp", "-sf", os.path.join(LAB, "sipp", scenario), "-i", SERVICE, "-mi", SERVICE, "-p", str(port),
            "-mp", str(media), "-m", "1", "-nostdin", "-timeout", "60s", "-timeout_error", "-trace_msg",
            "-message_file", log] + list(extra)), log

    def name_service(self, name):
        """Makes the service known by `name` to the phone: a DNS server on the service's side
        and, as `ip netns exec` reads it, a resolv.conf of the phone's namespace naming it."""
        self.etc = "/etc/netns/" + self.phone_ns
        os.makedirs(self.etc, exist_ok=True)
        with open(os.path.join(self.etc, "resolv.conf"), "w") as f:
            f.write("nameserver %s\n" % SERVICE)
        dns = self._proc("dns-" + self.service_ns, self.service_ns,
                         ["/usr/bin/python3", os.path.join(LAB, "dns_stub.py"), SERVICE, SERVICE])
        if not wait_until(lambda: not dns.alive() or "listening" in _read(dns.log), 10, 0.05) or not dns.alive():
            raise LabError("the DNS stub did not start", [dns.log])
        return name

    def start_in_phone(self, name, args, env, log=None):
        return self._proc(name, self.phone_ns, args, env=env, log=log)

    # -- the end ---------------------------------------------------------------------------------

    def close(self):
        for p in reversed(self.procs):
            p.stop()
        self.procs = []
        if getattr(self, "etc", None):
            shutil.rmtree(self.etc, ignore_errors=True)
            self.etc = None
        for n in reversed(self.made):
            run("ip", "netns", "del", n, check=False)
        self.made = []


def _read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def udp_packets(pcap):
    """(time, src, sport, dst, dport, payload) of every IPv4 UDP packet of a capture (Ethernet
    link type; a capture still being written is read up to its last whole record)."""
    out = []
    try:
        with open(pcap, "rb") as f:
            data = f.read()
    except OSError:
        return out
    if len(data) < 24:
        return out
    endian = "<" if data[:4] == b"\xd4\xc3\xb2\xa1" else ">"
    pos = 24
    while pos + 16 <= len(data):
        sec, usec, incl, _ = struct.unpack(endian + "IIII", data[pos:pos + 16])
        frame = data[pos + 16:pos + 16 + incl]
        pos += 16 + incl
        if len(frame) < incl:
            break
        if len(frame) < 42 or frame[12:14] != b"\x08\x00" or frame[23] != 17:
            continue
        ihl = (frame[14] & 0x0F) * 4
        udp = frame[14 + ihl:]
        src = ".".join(str(b) for b in frame[26:30])
        dst = ".".join(str(b) for b in frame[30:34])
        sport, dport = struct.unpack(">HH", udp[:4])
        out.append((sec + usec / 1e6, src, sport, dst, dport, bytes(udp[8:])))
    return out


def rtp_digits(packets, dport):
    """The RFC 4733 digits in the RTP packets sent to `dport` (payload type 101), one per event,
    however many of its end packets were lost."""
    names = "0123456789*#"
    seen = {}
    for _, _, _, _, port, payload in packets:
        if port != dport or len(payload) < 16 or payload[1] & 0x7F != 101:
            continue
        ts = struct.unpack(">I", payload[4:8])[0]
        event = payload[12]
        if event < len(names):
            seen.setdefault(ts, names[event])
    return "".join(seen[k] for k in sorted(seen))


class FakeLogind:
    """A private bus standing in for the system bus, on which this process owns logind's name
    and says PrepareForSleep(true/false) as logind does around a suspend. The phone reaches the
    bus through DBUS_SYSTEM_BUS_ADDRESS (a filesystem socket, which crosses namespaces)."""

    def __init__(self, lab):
        import dbus
        import dbus.lowlevel
        self._lowlevel = dbus.lowlevel
        folder = os.path.join(lab.run, "sysbus")
        os.makedirs(folder, exist_ok=True)
        self.socket = os.path.join(folder, "bus")
        config = os.path.join(folder, "bus.conf")
        with open(config, "w") as f:
            f.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                    "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                    "<busconfig><type>system</type><listen>unix:path=%s</listen><auth>EXTERNAL</auth>"
                    "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                    "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                    "</policy></busconfig>\n" % self.socket)
        self.daemon = Proc(lab, "sysbus", ["dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile"])
        if not wait_until(lambda: not self.daemon.alive() or os.path.exists(self.socket), 10, 0.05) \
                or not self.daemon.alive():
            raise LabError("the private system bus did not start", [self.daemon.log])
        self.address = "unix:path=" + self.socket
        self.bus = dbus.bus.BusConnection(self.address)
        if self.bus.request_name("org.freedesktop.login1") != dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
            raise LabError("could not own logind's name on the private bus")

    def prepare_for_sleep(self, sleeping):
        msg = self._lowlevel.SignalMessage("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                           "PrepareForSleep")
        msg.append(bool(sleeping), signature="b")
        self.bus.send_message(msg)
        self.bus.flush()

    def close(self):
        try:
            self.bus.close()
        except Exception:
            pass
        self.daemon.stop()
