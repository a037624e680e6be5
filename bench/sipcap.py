"""Reads the SIP messages of a growing pcap file (tcpdump -U -w) and finds the moments the bench
measures: a registrar's 200 OK to REGISTER and the INVITE ... ACK of a call.

Timestamps are the kernel's capture times (wall clock), so they compare directly with
time.time() taken by the harness when it presses a key or starts a program."""

import re
import struct

_LINKTYPE_ETHERNET = 1
_LINKTYPE_NULL = 0
_LINKTYPE_RAW = 101
_LINKTYPE_LINUX_SLL = 113

_COMPACT = {"i": "call-id", "f": "from", "t": "to", "v": "via", "m": "contact", "l": "content-length"}
_USER = re.compile(r"sips?:([^@;>\s]+)@", re.I)


class SipMessage:
    __slots__ = ("time", "src", "dst", "first", "headers", "method", "status", "cseq_num", "cseq_method",
                 "call_id")

    def __init__(self, time, src, dst, text):
        self.time = time
        self.src = src  # (ip, port)
        self.dst = dst
        head = text.split("\r\n\r\n", 1)[0]
        lines = head.split("\r\n")
        self.first = lines[0]
        self.headers = {}
        for line in lines[1:]:
            if ":" not in line:
                continue
            name, value = line.split(":", 1)
            name = name.strip().lower()
            name = _COMPACT.get(name, name)
            self.headers.setdefault(name, value.strip())
        if self.first.startswith("SIP/2.0 "):
            self.method = None
            try:
                self.status = int(self.first.split()[1])
            except (IndexError, ValueError):
                self.status = 0
        else:
            self.method = self.first.split(" ", 1)[0]
            self.status = None
        cseq = self.headers.get("cseq", "").split()
        self.cseq_num = int(cseq[0]) if cseq and cseq[0].isdigit() else -1
        self.cseq_method = cseq[1] if len(cseq) > 1 else ""
        self.call_id = self.headers.get("call-id", "")

    def user(self, header):
        m = _USER.search(self.headers.get(header, ""))
        return m.group(1) if m else None

    def __repr__(self):
        return "%.6f %s:%d -> %s:%d %s" % (self.time, self.src[0], self.src[1], self.dst[0], self.dst[1], self.first)


class SipCapture:
    """Follows a pcap file as tcpdump writes it; messages() returns everything read so far."""

    def __init__(self, path):
        self.path = path
        self._offset = 0
        self._header = None
        self._buf = b""
        self._messages = []

    def _read_new(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self._offset)
                data = f.read()
        except FileNotFoundError:
            return
        self._offset += len(data)
        self._buf += data
        if self._header is None:
            if len(self._buf) < 24:
                return
            magic = self._buf[:4]
            if magic == b"\xd4\xc3\xb2\xa1":
                endian, nano = "<", False
            elif magic == b"\xa1\xb2\xc3\xd4":
                endian, nano = ">", False
            elif magic == b"\x4d\x3c\xb2\xa1":
                endian, nano = "<", True
            elif magic == b"\xa1\xb2\x3c\x4d":
                endian, nano = ">", True
            else:
                raise ValueError("%s is not a pcap file" % self.path)
            linktype = struct.unpack(endian + "I", self._buf[20:24])[0]
            self._header = (endian, nano, linktype)
            self._buf = self._buf[24:]
        endian, nano, linktype = self._header
        pos = 0
        while len(self._buf) - pos >= 16:
            sec, frac, incl, _orig = struct.unpack(endian + "IIII", self._buf[pos:pos + 16])
            if len(self._buf) - pos - 16 < incl:
                break
            frame = self._buf[pos + 16:pos + 16 + incl]
            pos += 16 + incl
            t = sec + frac / (1e9 if nano else 1e6)
            msg = self._decode(frame, linktype, t)
            if msg is not None:
                self._messages.append(msg)
        self._buf = self._buf[pos:]

    @staticmethod
    def _decode(frame, linktype, t):
        if linktype == _LINKTYPE_ETHERNET:
            if len(frame) < 14 or frame[12:14] != b"\x08\x00":
                return None
            ip = frame[14:]
        elif linktype == _LINKTYPE_LINUX_SLL:
            if len(frame) < 16 or frame[14:16] != b"\x08\x00":
                return None
            ip = frame[16:]
        elif linktype == _LINKTYPE_NULL:
            ip = frame[4:]
        elif linktype == _LINKTYPE_RAW:
            ip = frame
        else:
            return None
        if len(ip) < 20 or ip[0] >> 4 != 4 or ip[9] != 17:
            return None
        ihl = (ip[0] & 0x0F) * 4
        udp = ip[ihl:]
        if len(udp) < 8:
            return None
        sport, dport = struct.unpack(">HH", udp[:4])
        payload = udp[8:]
        if not (payload.startswith(b"SIP/2.0 ") or re.match(rb"^[A-Z]+ \S+ SIP/2\.0\r\n", payload[:200])):
            return None
        src = ("%d.%d.%d.%d" % tuple(ip[12:16]), sport)
        dst = ("%d.%d.%d.%d" % tuple(ip[16:20]), dport)
        return SipMessage(t, src, dst, payload.decode("latin-1"))

    def messages(self):
        self._read_new()
        return self._messages

    # -- the moments the bench looks for ------------------------------------------------------

    def registered(self, user, server_port, after):
        """Time of the first 200 OK to a REGISTER of `user` sent by the registrar after `after`."""
        for m in self.messages():
            if (m.time >= after and m.status == 200 and m.cseq_method == "REGISTER"
                    and m.src[1] == server_port and m.user("to") == user and not _is_unregister(m)):
                return m.time
        return None

    def call(self, user, server_port, after):
        """The first call `user` placed through the proxy after `after`, as a dict:
        invite (first INVITE), challenged (a 407 came back), ok (200 to INVITE), ack (ACK of the
        200), bye, bye_ok; each a time or None."""
        msgs = self.messages()
        first = next((m for m in msgs if m.time >= after and m.method == "INVITE" and m.dst[1] == server_port
                      and m.user("from") == user), None)
        if first is None:
            return None
        cid = first.call_id
        same = [m for m in msgs if m.call_id == cid and m.time >= first.time]
        out = {"invite": first.time, "challenged": None, "invites": 0, "ok": None, "ack": None, "bye": None,
               "bye_ok": None}
        for m in same:
            if m.method == "INVITE" and m.dst[1] == server_port:
                out["invites"] += 1
            elif m.status == 407 and m.cseq_method == "INVITE" and out["challenged"] is None:
                out["challenged"] = m.time
            elif m.status == 200 and m.cseq_method == "INVITE" and m.src[1] == server_port and out["ok"] is None:
                out["ok"] = m.time
            elif (m.method == "ACK" and m.dst[1] == server_port and out["ok"] is not None
                    and out["ack"] is None):
                out["ack"] = m.time
            elif m.method == "BYE" and out["bye"] is None:
                out["bye"] = m.time
            elif m.status is not None and m.cseq_method == "BYE" and out["bye_ok"] is None:
                out["bye_ok"] = m.time
        return out


def _is_unregister(m):
    if m.headers.get("expires", "").strip() == "0":
        return True
    contact = m.headers.get("contact")
    if contact is None:
        return True  # a 200 OK without bindings answers a removal
    return re.search(r"expires\s*=\s*0\b", contact) is not None
