#!/usr/bin/env python3
"""Builds the Debian package from a built tree with cpack and checks what a user would install.

usage: check_deb.py contents|lintian CPACK BUILD_DIR VERSION
  contents  the file list, the control fields and the extracted files; the logger's services (plain
            and one per sensor) are not enabled, share their hardening and pass systemd-analyze
            verify (when systemd-analyze is installed)
  lintian   lintian finds no error or warning

Exits 77 (skipped) when the Debian tools are not installed.
"""
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
PROGRAM = "usr/bin/vostral-monitor"
EXPECTED = {
    PROGRAM,
    "usr/share/applications/vostral-monitor.desktop",
    "usr/share/man/man1/vostral-monitor.1.gz",
    "usr/lib/udev/rules.d/60-vostral-monitor.rules",
    "usr/share/doc/vostral-monitor/copyright",
    "usr/share/doc/vostral-monitor/changelog.gz",
}
# The logger is built (and then packaged) only where libmosquitto is.
LOGGER = "usr/bin/vostral-logger"
UNIT = "usr/lib/systemd/system/vostral-logger.service"
TEMPLATE = "usr/lib/systemd/system/vostral-logger@.service"
LOGGER_FILES = {LOGGER, UNIT, TEMPLATE, "usr/share/man/man1/vostral-logger.1.gz"}
# What an instance of the template may do differently from the plain unit: its sensor and folder.
PER_SENSOR_KEYS = {"Description", "EnvironmentFile", "ExecStart", "StateDirectory"}
ICON = re.compile(r"^usr/share/icons/hicolor/(\d+)x(\d+)/apps/vostral-monitor\.png$")
HICOLOR_SIZES = {16, 22, 24, 32, 36, 48, 64, 72, 96, 128, 192, 256, 512}


def run(*cmd, cwd=None):
    return subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, check=True).stdout


def build_deb(cpack, build_dir, out_dir):
    result = subprocess.run([cpack, "-G", "DEB", "-B", out_dir], cwd=build_dir,
                            capture_output=True, text=True)
    debs = [f for f in os.listdir(out_dir) if f.endswith(".deb")]
    if result.returncode != 0 or len(debs) != 1:
        raise SystemExit(f"cpack failed:\n{result.stdout}{result.stderr}")
    return os.path.join(out_dir, debs[0])


def control_fields(deb):
    fields, key = {}, None
    for line in run("dpkg-deb", "-f", deb).splitlines():
        if line.startswith(" ") and key:
            fields[key] += "\n" + line
        else:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


def needed_packages(binary):
    """The Debian packages that hold the libraries the binary links directly."""
    sonames = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", run("readelf", "-d", binary))
    # Only the host architecture's copy counts: a machine may also carry libc6-i386 and the like.
    multiarch = run("gcc", "-print-multiarch").strip()
    packages = {}
    for soname in sonames:
        owners = subprocess.run(["dpkg-query", "-S", "*/" + soname], capture_output=True, text=True)
        for line in owners.stdout.splitlines():
            package, _, path = line.partition(": ")
            package = package.split(":")[0].strip()
            if not package.endswith("-dev") and f"/{multiarch}/" in path:
                packages[soname] = package
                break
    return packages


def depends_names(depends):
    return {re.sub(r"\s*\(.*?\)", "", alt).strip().split(":")[0]
            for entry in depends.split(",") for alt in entry.split("|") if alt.strip()}


def unit_settings(path):
    """The unit's assignments other than the per-sensor ones, in order."""
    with open(path, encoding="utf-8") as f:
        lines = [line.strip() for line in f if line.strip() and not line.startswith("#")]
    return [line for line in lines if line.partition("=")[0] not in PER_SENSOR_KEYS]


def check_service(deb, root, failures):
    """Shipped, not enabled, the same hardening in both units, and valid for systemd with the
    packaged program."""
    if re.search(r"\b(preinst|postinst)\b", run("dpkg-deb", "-I", deb)):
        failures.append("the package has a maintainer script: the service must not be enabled")
    if any(".wants/" in p for p in run("dpkg-deb", "-c", deb).split()):
        failures.append("the package enables a unit")
    if unit_settings(os.path.join(root, UNIT)) != unit_settings(os.path.join(root, TEMPLATE)):
        failures.append("the per-sensor unit's settings differ from vostral-logger.service's")
    if not shutil.which("systemd-analyze"):
        print("systemd-analyze is not installed: the units are not verified")
        return
    # The units name the installed program; verify them against the packaged one. A template is
    # verified through an instance, which systemd-analyze loads from the template beside it.
    for unit, verified in ((UNIT, "vostral-logger.service"),
                           (TEMPLATE, "vostral-logger@202405100042.service")):
        copy = os.path.join(root, os.path.basename(unit))
        with open(os.path.join(root, unit), encoding="utf-8") as f, open(copy, "w", encoding="utf-8") as out:
            out.write(f.read().replace("/" + LOGGER, os.path.join(root, LOGGER)))
        result = subprocess.run(["systemd-analyze", "verify", "--man=no", os.path.join(root, verified)],
                                capture_output=True, text=True)
        if result.returncode != 0 or result.stderr.strip():
            failures.append(f"systemd-analyze verify {verified}: {result.stdout}{result.stderr}".strip())


def check_contents(deb, root, version, failures, logger):
    expected = EXPECTED | (LOGGER_FILES if logger else set())
    listed = set()
    for line in run("dpkg-deb", "-c", deb).splitlines():
        path = line.split()[-1]
        if not path.endswith("/"):
            listed.add(path[2:] if path.startswith("./") else path)
    icons = [p for p in listed if ICON.match(p)]
    for missing in sorted(expected - listed):
        failures.append(f"missing from the package: {missing}")
    if len(icons) != 1:
        failures.append(f"expected one hicolor icon, found {icons}")
    # nothing from development: the simulated sensor, tests, static libraries, headers
    for extra in sorted(listed - expected - set(icons)):
        failures.append(f"unexpected file in the package: {extra}")

    fields = control_fields(deb)
    arch = run("dpkg", "--print-architecture").strip()
    for key, want in (("Package", "vostral-monitor"), ("Version", version), ("Architecture", arch)):
        if fields.get(key) != want:
            failures.append(f"control field {key} is {fields.get(key)!r}, expected {want!r}")
    run("dpkg-deb", "-x", deb, root)
    have = depends_names(fields.get("Depends", ""))
    for program in [PROGRAM] + ([LOGGER] if logger else []):
        binary = os.path.join(root, program)
        if not os.access(binary, os.X_OK):
            failures.append(f"{program} is not executable")
            continue
        for soname, package in needed_packages(binary).items():
            if package not in have:
                failures.append(f"{program} links {soname} of {package}, which Depends lacks")
        sections = run("readelf", "-S", "-W", binary)
        if ".symtab" in sections or ".debug_" in sections:
            failures.append(f"{program} is not stripped")
    if logger:
        check_service(deb, root, failures)

    if icons:
        m = ICON.match(icons[0])
        with open(os.path.join(root, icons[0]), "rb") as f:
            header = f.read(24)
        real = (int.from_bytes(header[16:20], "big"), int.from_bytes(header[20:24], "big"))
        if header[:8] != b"\x89PNG\r\n\x1a\n" or real != (int(m[1]), int(m[2])):
            failures.append(f"{icons[0]} is not a PNG of that size (header says {real})")
        if int(m[1]) not in HICOLOR_SIZES:
            failures.append(f"{icons[0]}: the hicolor theme has no {m[1]}x{m[2]} folder")

    # The desktop entry must start the packaged program and name its icon.
    entry = open(os.path.join(root, "usr/share/applications/vostral-monitor.desktop"),
                 encoding="utf-8").read()
    exec_line = re.search(r"^Exec=(\S+)", entry, re.M)
    icon_line = re.search(r"^Icon=(\S+)", entry, re.M)
    if not exec_line or not os.path.exists(os.path.join(root, "usr/bin", exec_line[1])):
        failures.append("the desktop entry's Exec= does not name the packaged program")
    if not icon_line or not icons or not icons[0].endswith(f"/{icon_line[1]}.png"):
        failures.append("the desktop entry's Icon= does not name the packaged icon")

    with gzip.open(os.path.join(root, "usr/share/man/man1/vostral-monitor.1.gz"), "rt") as f:
        th = f.readline()
    if not th.startswith(".TH VOSTRAL-MONITOR 1 ") or f'"vostral-monitor {version}"' not in th:
        failures.append(f"the manual page's title line is {th.strip()!r}")
    with gzip.open(os.path.join(root, "usr/share/doc/vostral-monitor/changelog.gz"), "rt") as f:
        top = f.readline()
    if not top.startswith(f"vostral-monitor ({version})"):
        failures.append(f"the changelog's latest entry is {top.strip()!r}, not version {version}")


def check_lintian(deb, failures):
    result = subprocess.run(["lintian", "--fail-on", "error,warning", deb],
                            capture_output=True, text=True)
    print(result.stdout, end="")
    if result.returncode != 0:
        failures.append("lintian reports errors or warnings")


def main(mode, cpack, build_dir, version):
    if not (shutil.which("dpkg-deb") and shutil.which("readelf")):
        print("dpkg-deb or readelf is not installed")
        return SKIP
    if mode == "lintian" and not shutil.which("lintian"):
        print("lintian is not installed")
        return SKIP
    failures = []
    with tempfile.TemporaryDirectory(prefix="vostral-deb-") as tmp:
        deb = build_deb(cpack, build_dir, os.path.join(tmp, "out"))
        print("built", os.path.basename(deb))
        if mode == "contents":
            logger = os.path.exists(os.path.join(build_dir, "logger", "vostral-logger"))
            check_contents(deb, os.path.join(tmp, "root"), version, failures, logger)
        else:
            check_lintian(deb, failures)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 5 or sys.argv[1] not in ("contents", "lintian"):
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
