#!/usr/bin/env python3
"""The softphone as users get it:
  1. `cmake --install` into a temporary prefix puts every file in its place, and the files are
     what the desktop expects (icon sizes, a vector icon that looks like the bitmaps, a desktop
     entry and metadata that name each other, a man page covering README's variables);
  2. the installed program, started from that prefix outside the build tree under Xvfb, opens
     its skinned main window and takes its sounds from the prefix, never from the build tree;
  3. `cpack -G DEB` makes a package with the same files, root-owned with Debian's permissions,
     depending on the libraries the program really uses, that desktop-file-validate,
     appstreamcli and lintian accept without errors.
usage: package_test.py <build dir> <source dir>"""

import glob
import gzip
import os
import re
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lab"))
from lab import check, failures, wait_until  # noqa: E402
from xtools import Display  # noqa: E402

APP_ID = "com.orvanephone.Softphone"
PROGRAM = "orvane-softphone"
TITLE = "Orvane Softphone"
MAIN = (285, 473)
LOGIN = (289, 300)
SOUNDS = [f"Dtmf-{n}.wav" for n in [*range(10), "star", "pound"]] + ["ring.wav"]
ICON_SIZES = (48, 128, 256)
HANDLERS = {"x-scheme-handler/sip", "x-scheme-handler/sips", "x-scheme-handler/tel", "x-scheme-handler/callto"}

def run(*args, **kw):
    kw.setdefault("capture_output", True)
    kw.setdefault("text", True)
    kw.setdefault("timeout", 120)
    return subprocess.run(list(args), **kw)



def expected_tree():
    """Installed files relative to the prefix, with their modes."""
    files = {f"bin/{PROGRAM}": 0o755}
    data = {f"share/{PROGRAM}/sounds/{s}" for s in SOUNDS}
    data |= {f"share/icons/hicolor/{n}x{n}/apps/{APP_ID}.png" for n in ICON_SIZES}
    data |= {f"share/icons/hicolor/scalable/apps/{APP_ID}.svg", f"share/applications/{APP_ID}.desktop",
             f"share/metainfo/{APP_ID}.metainfo.xml", f"share/man/man1/{PROGRAM}.1.gz",
             f"share/doc/{PROGRAM}/copyright", f"share/doc/{PROGRAM}/changelog.gz"}
    files.update({f: 0o644 for f in data})
    return files


def tree(root):
    found = {}
    for d, _, names in os.walk(root):
        for n in names:
            p = os.path.join(d, n)
            found[os.path.relpath(p, root)] = stat.S_IMODE(os.lstat(p).st_mode)
    return found


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def desktop_entry(path):
    keys = {}
    group = None
    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if line.startswith("["):
            group = line
        elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
            k, v = line.split("=", 1)
            keys[k.strip()] = v.strip()
    return keys


def gzip_is_reproducible(path):
    """gzip -n: no file name and no time stamp in the header."""
    with open(path, "rb") as f:
        head = f.read(10)
    return head[:2] == b"\x1f\x8b" and not head[3] & 0x08 and head[4:8] == b"\0\0\0\0"


# ---- 1. the install tree

def check_install(build, source, prefix, tmp):
    r = run("cmake", "--install", build, "--prefix", prefix)
    if not check(r.returncode == 0, "cmake --install into a temporary prefix succeeds", r.stdout + r.stderr):
        return None
    want = expected_tree()
    got = tree(prefix)
    check(set(got) == set(want), "the prefix holds exactly the program, sounds, icons, desktop entry, metadata, "
          "man page, copyright and changelog",
          f"missing: {sorted(set(want) - set(got))}\nunexpected: {sorted(set(got) - set(want))}")
    wrong = {f: oct(m) for f, m in got.items() if f in want and m != want[f]}
    check(not wrong, "the program is 0755, every other file 0644", wrong)

    sounds = os.path.join(prefix, "share", PROGRAM, "sounds")
    bad = []
    for s in SOUNDS:
        p = os.path.join(sounds, s)
        with open(p, "rb") as f:
            head = f.read(12)
        if not (head[:4] == b"RIFF" and head[8:12] == b"WAVE"):
            bad.append(s)
    check(not bad, "the installed sounds are WAV files", bad)

    icons = os.path.join(prefix, "share", "icons", "hicolor")
    sizes = {n: png_size(os.path.join(icons, f"{n}x{n}", "apps", f"{APP_ID}.png")) for n in ICON_SIZES}
    check(all(sizes[n] == (n, n) for n in ICON_SIZES), "each bitmap icon has the size of its folder", sizes)

    svg = os.path.join(icons, "scalable", "apps", f"{APP_ID}.svg")
    try:
        root = ET.parse(svg).getroot()
    except ET.ParseError as e:
        root = None
        check(False, "the scalable icon is well-formed XML", e)
    if root is not None:
        ns = "{http://www.w3.org/2000/svg}"
        shapes = [e for e in root.iter() if e.tag in (ns + "path", ns + "rect", ns + "ellipse", ns + "polygon")]
        check(root.tag == ns + "svg" and shapes and not list(root.iter(ns + "image")),
              "the scalable icon is drawn with vector shapes, not an embedded bitmap",
              f"root {root.tag}, {len(shapes)} shapes, {len(list(root.iter(ns + 'image')))} images")
        # Rendered at 256 px it must look like the 256 px bitmap drawn by the same painter.
        rendered = os.path.join(tmp, "svg-256.png")
        r = run("rsvg-convert", "-w", "256", "-h", "256", "-o", rendered, svg)
        if check(r.returncode == 0, "the scalable icon renders", r.stderr):
            c = run("compare", "-metric", "RMSE", rendered, os.path.join(icons, "256x256", "apps", f"{APP_ID}.png"),
                    "null:")
            m = re.search(r"\(([0-9.e-]+)\)", c.stderr)
            rmse = float(m.group(1)) if m else None
            check(rmse is not None and rmse < 0.02, "rendered, the scalable icon matches the 256 px icon",
                  f"normalised RMSE {rmse} ({c.stderr.strip()})")

    entry_path = os.path.join(prefix, "share", "applications", f"{APP_ID}.desktop")
    entry = desktop_entry(entry_path)
    exec_words = entry.get("Exec", "").split()
    check(exec_words[:1] == [PROGRAM] and os.path.exists(os.path.join(prefix, "bin", PROGRAM))
          and "%u" in exec_words[1:], "the desktop entry runs the installed program with the opened link (%u)",
          entry.get("Exec"))
    check(entry.get("Icon") == APP_ID, "the desktop entry names the installed icon", entry.get("Icon"))
    mimes = set(filter(None, entry.get("MimeType", "").split(";")))
    check(mimes == HANDLERS, "the desktop entry handles sip:, sips:, tel: and callto: links", mimes)
    r = run("desktop-file-validate", entry_path)
    check(r.returncode == 0 and not r.stdout.strip(), "desktop-file-validate accepts the desktop entry",
          r.stdout + r.stderr)

    meta_path = os.path.join(prefix, "share", "metainfo", f"{APP_ID}.metainfo.xml")
    meta = ET.parse(meta_path).getroot()
    launch = meta.findtext("launchable")
    check(meta.findtext("id") == APP_ID and launch == os.path.basename(entry_path),
          "the metadata has the application's id and launches the installed desktop entry", (meta.findtext("id"), launch))
    r = run("appstreamcli", "validate", "--no-net", meta_path)
    check(r.returncode == 0, "appstreamcli validate --no-net accepts the metadata", r.stdout + r.stderr)

    man = os.path.join(prefix, "share", "man", "man1", f"{PROGRAM}.1.gz")
    check(gzip_is_reproducible(man) and gzip_is_reproducible(os.path.join(prefix, "share", "doc", PROGRAM,
                                                                          "changelog.gz")),
          "the man page and changelog are gzipped without name or time stamp")
    r = run("man", "--warnings", "-l", "-Tutf8", man, env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"))
    check(r.returncode == 0 and not r.stderr.strip(), "the man page formats without warnings", r.stderr)
    page = re.sub(r".\x08", "", r.stdout)
    readme_vars = set(re.findall(r"`(ORVANE_[A-Z_]+)`", open(os.path.join(source, "README.md")).read()))
    missing = sorted(v for v in readme_vars if v not in page)
    check(readme_vars and not missing, "the man page documents every environment variable README lists", missing)

    return {"wmclass": entry.get("StartupWMClass"),
            "release": (meta.find("releases/release").get("version") if meta.find("releases/release") is not None
                        else None),
            "changelog": os.path.join(prefix, "share", "doc", PROGRAM, "changelog.gz")}


# ---- 2. the installed program

def traced_child(tracer):
    """The program strace started (strace's only child)."""
    try:
        kids = open(f"/proc/{tracer.pid}/task/{tracer.pid}/children").read().split()
    except OSError:
        return None
    return int(kids[0]) if kids else None


def check_program(build, source, prefix, tmp, wmclass):
    disp = Display(tmp, TITLE, first=140)
    elsewhere = os.path.join(tmp, "elsewhere")
    os.makedirs(os.path.join(tmp, "run"), mode=0o700)
    os.makedirs(elsewhere)
    nopulse = os.path.join(tmp, "client.conf")
    with open(nopulse, "w") as f:
        f.write("autospawn = no\n")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("ORVANE_", "LD_", "QT_"))}
    env.update(DISPLAY=disp.name, QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=os.path.join(tmp, "config"),
               XDG_DATA_HOME=os.path.join(tmp, "data"), XDG_RUNTIME_DIR=os.path.join(tmp, "run"),
               PULSE_CLIENTCONFIG=nopulse, PULSE_SERVER="unix:" + os.path.join(tmp, "no-such-socket"))
    trace = os.path.join(tmp, "strace.log")
    program = os.path.join(prefix, "bin", PROGRAM)
    log = open(os.path.join(tmp, "app.log"), "w")
    tracer = subprocess.Popen(["strace", "-f", "-qq", "-e", "trace=%file", "-o", trace, program], cwd=elsewhere,
                              env=env, stdout=log, stderr=subprocess.STDOUT)
    try:
        # No sound server here: the sound card message first, then the main window.
        box = wait_until(lambda: disp.find(other_than=(MAIN, LOGIN)), 30, 0.1)
        check(box is not None, "the installed program starts and shows its sound card message")
        if box:
            disp.key(box, "Return")
        main = wait_until(lambda: disp.find(MAIN), 20, 0.1)
        check(main is not None, f"the installed program opens its {MAIN[0]}x{MAIN[1]} skinned main window")
        if main:
            r = disp.run("xprop", "-id", main, "WM_CLASS")
            classes = re.findall(r'"([^"]*)"', r.stdout)
            check(wmclass is not None and classes[-1:] == [wmclass],
                  "the desktop entry's StartupWMClass is the window's class", (wmclass, r.stdout.strip()))
            # A key of the dial pad plays its tone from the sound folder.
            disp.key(main, "1")
            time.sleep(1.5)
    finally:
        child = traced_child(tracer)
        if child:
            os.kill(child, signal.SIGTERM)
        try:
            tracer.wait(15)
        except subprocess.TimeoutExpired:
            tracer.kill()
            tracer.wait(5)
        disp.stop()
        log.close()

    lines = open(trace, errors="replace").read().splitlines()
    sound_dir = os.path.realpath(os.path.join(prefix, "share", PROGRAM, "sounds"))
    found = set()
    outside = set()
    trees = tuple(os.path.realpath(p) + "/" for p in (build, source))
    for line in lines:
        m = re.search(r'"(/[^"]*)"', line)
        if not m:
            continue
        path = os.path.normpath(m.group(1))
        ok = re.search(r"\) = (\d+)$", line) is not None
        if ok and os.path.dirname(path) == sound_dir:
            found.add(os.path.basename(path))
        if (path + "/").startswith(trees):
            outside.add(path)
    check("ring.wav" in found, "the installed program found its ring sound in the prefix",
          f"sound files reached in {sound_dir}: {sorted(found)}")
    print(f"     sound files it reached in the prefix: {', '.join(sorted(found))}")
    check(not outside, "the installed program touches nothing in the build or source tree", sorted(outside)[:10])
    if not ("ring.wav" in found and not outside) or failures:
        print("--- app.log\n" + open(os.path.join(tmp, "app.log"), errors="replace").read()[-3000:])
    return found


# ---- 3. the Debian package

def check_package(build, prefix, tmp, facts):
    out = os.path.join(tmp, "deb")
    r = run("cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out, timeout=180)
    if not check(r.returncode == 0, "cpack -G DEB builds the package", r.stdout[-2000:] + r.stderr[-2000:]):
        return
    debs = glob.glob(os.path.join(out, "*.deb"))
    names = [re.fullmatch(rf"{PROGRAM}_([^_]+)_amd64\.deb", os.path.basename(d)) for d in debs]
    if not check(len(debs) == 1 and names[0], f"one package named {PROGRAM}_<version>_amd64.deb", debs):
        return
    deb, version = debs[0], names[0].group(1)

    fields = {}
    for name in ("Package", "Version", "Architecture", "Section", "Maintainer", "Homepage", "Depends", "Description"):
        fields[name] = run("dpkg-deb", "-f", deb, name).stdout.strip()
    check(fields["Package"] == PROGRAM and fields["Version"] == version and fields["Architecture"] == "amd64",
          "the package's name, version and architecture are those of its file name", fields)
    check(fields["Section"] == "comm" and re.search(r"<[^@>]+@[^>]+>", fields["Maintainer"])
          and fields["Homepage"].startswith("https://") and "\n" in fields["Description"],
          "the package has a section, maintainer address, homepage and long description", fields)
    depends = [d.strip().split()[0] for d in fields["Depends"].split(",") if d.strip()]
    # libsecret is loaded by QtKeychain at run time: no library scan finds it.
    wanted = {"liblinphone": r"liblinphone(\+\+)?\d+", "Qt 6 widgets": r"libqt6widgets6", "libcurl": r"libcurl4.*",
              "QtKeychain": r"libqt6keychain\d+", "libsecret": r"libsecret-1-0"}
    missing = [what for what, pat in wanted.items() if not any(re.fullmatch(pat, d) for d in depends)]
    check(not missing, "the package depends on liblinphone, Qt 6 widgets, libcurl, QtKeychain and libsecret",
          f"missing {missing}: {depends}")
    check(not [d for d in depends if d.endswith("-dev")], "and on no development package", depends)

    changelog = gzip.open(facts["changelog"], "rt").read()
    top = re.match(rf"{PROGRAM} \(([^)]+)\)", changelog)
    check(top and top.group(1) == version and facts["release"] == version,
          "the package, its changelog and the metadata's newest release carry the same version",
          (version, top and top.group(1), facts["release"]))

    # Same files as the install into a prefix, under /usr, owned by root with Debian's modes.
    listing = run("dpkg-deb", "-c", deb).stdout.splitlines()
    entries = {}
    for line in listing:
        parts = line.split(None, 5)
        if len(parts) == 6:
            entries[os.path.normpath(parts[5].split(" -> ")[0])] = (parts[0], parts[1])
    files = {p: m for p, m in entries.items() if not m[0].startswith("d")}
    want = {os.path.normpath("./usr/" + f) for f in expected_tree()}
    check(set(files) == want, "the package holds the installed files under /usr",
          f"missing: {sorted(want - set(files))}\nunexpected: {sorted(set(files) - want)}")

    def debian_mode(path, mode):
        if mode.startswith("d"):
            return "drwxr-xr-x"
        return "-rwxr-xr-x" if path == f"usr/bin/{PROGRAM}" else "-rw-r--r--"

    wrong = {p: m for p, m in entries.items() if m[1] != "root/root" or m[0] != debian_mode(p, m[0])}
    check(not wrong, "everything in it is root's, folders and the program 0755, files 0644", wrong)

    root = os.path.join(tmp, "unpacked")
    run("dpkg-deb", "-x", deb, root)
    r = run("desktop-file-validate", os.path.join(root, "usr", "share", "applications", f"{APP_ID}.desktop"))
    check(r.returncode == 0 and not r.stdout.strip(), "desktop-file-validate accepts the packaged desktop entry",
          r.stdout + r.stderr)
    r = run("appstreamcli", "validate", "--no-net",
            os.path.join(root, "usr", "share", "metainfo", f"{APP_ID}.metainfo.xml"))
    check(r.returncode == 0, "appstreamcli accepts the packaged metadata", r.stdout + r.stderr)

    r = run("lintian", "--fail-on", "error", "--display-level", ">=warning", deb, timeout=180)
    print("     lintian: " + (r.stdout.strip().replace("\n", "\n     lintian: ") or "no warnings or errors"))
    errors = [line for line in r.stdout.splitlines() if line.startswith("E:")]
    check(r.returncode == 0 and not errors, "lintian reports no errors on the package", "\n".join(errors) or r.stderr)


def main():
    build, source = (os.path.realpath(a) for a in sys.argv[1:3])
    tmp = tempfile.mkdtemp(prefix="orvane-package-")
    prefix = os.path.join(tmp, "prefix")
    try:
        facts = check_install(build, source, prefix, tmp)
        if facts:
            check_program(build, source, prefix, tmp, facts["wmclass"])
            check_package(build, prefix, tmp, facts)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    if failures:
        print(f"{len(failures)} package check(s) failed")
        sys.exit(1)


if __name__ == "__main__":
    main()
