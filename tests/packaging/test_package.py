"""Tests of the Debian package that tools/package.sh builds.

CTest (tests/packaging/CMakeLists.txt) builds the package once and passes the
folder that holds it in TRB_PACKAGE_DIR. By hand:
    ./tools/package.sh --output-dir /tmp/deb
    TRB_PACKAGE_DIR=/tmp/deb python3 -m unittest -v test_package
"""

import os
import re
import signal
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import trb_x11  # noqa: E402

PACKAGE = "trbkelo7-updater"
PROGRAM = "TRBKelo7UpdateProgram"
DESKTOP_ENTRY = f"usr/share/applications/{PACKAGE}.desktop"
METAINFO = f"usr/share/metainfo/{PACKAGE}.metainfo.xml"
UDEV_RULE = "usr/lib/udev/rules.d/70-trbkelo7-updater.rules"
EXPECTED_FILES = {
    f"usr/bin/{PROGRAM}",
    UDEV_RULE,
    DESKTOP_ENTRY,
    f"usr/share/icons/hicolor/scalable/apps/{PACKAGE}.svg",
    METAINFO,
    f"usr/share/doc/{PACKAGE}/copyright",
    f"usr/share/doc/{PACKAGE}/changelog.gz",
    f"usr/share/man/man1/{PROGRAM}.1.gz",
}
# The libraries the framework loads at run time as well as those the program
# links: the package must pull in every one of them.
EXPECTED_DEPENDENCIES = ["libc6", "libstdc++6", "libhidapi-hidraw0", "libudev1", "libfreetype6",
                         "libfontconfig1", "libx11-6", "libxext6", "libxrandr2", "libxinerama1",
                         "libxcursor1", "libxrender1"]
ENGLISH = {"LC_ALL": "en_US.UTF-8", "LC_MESSAGES": "", "LANG": "en_US.UTF-8"}


def run(*args, check=True, **kwargs):
    return subprocess.run(list(args), capture_output=True, text=True, check=check, timeout=600, **kwargs)


def source(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def project_version():
    return re.search(r"project\(\w+ VERSION ([0-9.]+)", source("CMakeLists.txt")).group(1)


def find_package():
    folder = os.environ.get("TRB_PACKAGE_DIR", "")
    path = os.path.join(folder, f"{PACKAGE}_{project_version()}_amd64.deb")
    return path if folder and os.path.isfile(path) else None


def desktop_entry_fields(text):
    fields = {}
    for line in text.splitlines():
        if "=" in line and not line.startswith("#"):
            key, value = line.split("=", 1)
            fields.setdefault(key.strip(), value.strip())
    return fields


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.deb = find_package()
        if cls.deb is None:
            raise unittest.SkipTest("no package: set TRB_PACKAGE_DIR to the folder tools/package.sh wrote it in")
        cls.folder = tempfile.TemporaryDirectory(prefix="trb-deb-")
        cls.unpacked = os.path.join(cls.folder.name, "root")
        cls.control = os.path.join(cls.folder.name, "DEBIAN")
        run("dpkg-deb", "-x", cls.deb, cls.unpacked)
        run("dpkg-deb", "-e", cls.deb, cls.control)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def unpacked_file(self, path):
        with open(os.path.join(self.unpacked, path), encoding="utf-8") as f:
            return f.read()

    def test_the_package_holds_the_program_the_rule_the_entry_the_icon_and_the_metainfo(self):
        listing = run("dpkg-deb", "-c", self.deb).stdout.splitlines()
        files = {}
        for line in listing:
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            path = path[2:] if path.startswith("./") else path
            self.assertEqual(owner, "root/root", line)
            if not mode.startswith("d"):
                files[path] = mode
        self.assertEqual(set(files), EXPECTED_FILES)
        for path, mode in files.items():
            self.assertEqual(mode, "-rwxr-xr-x" if path.startswith("usr/bin/") else "-rw-r--r--", path)

        # Stripped: the package carries no debug information.
        self.assertNotIn("debug_info", run("objdump", "-h", os.path.join(self.unpacked, "usr/bin", PROGRAM)).stdout)

    def test_the_control_file_names_the_version_and_the_libraries_the_program_loads(self):
        fields = {}
        for name in ("Package", "Version", "Architecture", "Depends", "Maintainer", "Description"):
            fields[name] = run("dpkg-deb", "-f", self.deb, name).stdout.strip()
        self.assertEqual(fields["Package"], PACKAGE)
        self.assertEqual(fields["Version"], project_version())
        self.assertEqual(fields["Architecture"], "amd64")
        self.assertTrue(fields["Maintainer"] and fields["Description"])

        depends = [d.strip().split()[0] for d in fields["Depends"].split(",")]
        self.assertEqual(len(depends), len(set(depends)), fields["Depends"])
        for library in EXPECTED_DEPENDENCIES:
            self.assertIn(library, depends, fields["Depends"])
        # Versions come from the libraries' symbols files, not a hand-written list.
        self.assertRegex(fields["Depends"], r"libc6 \(>= [0-9.]+\)")

        for script in ("postinst", "postrm"):
            self.assertTrue(os.access(os.path.join(self.control, script), os.X_OK), script)

    def test_debians_validators_accept_the_desktop_entry_and_the_metainfo(self):
        result = run("desktop-file-validate", os.path.join(self.unpacked, DESKTOP_ENTRY), check=False)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))

        # Warnings are reported, errors fail (appstreamcli exits non-zero on either).
        result = run("appstreamcli", "validate", "--no-net", "--pedantic", "--no-color",
                     os.path.join(self.unpacked, METAINFO), check=False)
        print(result.stdout + result.stderr)
        self.assertNotRegex(result.stdout + result.stderr, r"(?m)^E:")
        self.assertIn(result.returncode, (0, 3), result.stdout + result.stderr)

    def test_lintian_reports_no_errors(self):
        result = run("lintian", "--info", "--display-info", "--pedantic", self.deb, check=False)
        print(result.stdout + result.stderr)
        self.assertNotRegex(result.stdout, r"(?m)^E:")
        # The manual page is there and reads cleanly.
        self.assertNotRegex(result.stdout, r"no-manual-page|manpage|groff")
        # lintian's own failure (not a finding) is exit status 1 without any tag.
        self.assertFalse(result.returncode == 1 and not result.stdout.strip(), result.stderr)

    def test_the_metadata_names_the_controller_and_the_window_class_the_program_uses(self):
        product = re.search(r"kAnyVendorId,\s*0x([0-9A-Fa-f]{4})", source("device/usb/UsbHidIdentity.cpp")).group(1)

        metainfo = ElementTree.fromstring(self.unpacked_file(METAINFO))
        self.assertEqual([m.text for m in metainfo.iter("modalias")], [f"usb:v*p{product.upper()}d*"])
        self.assertEqual(metainfo.findtext("launchable"), os.path.basename(DESKTOP_ENTRY))
        self.assertEqual(metainfo.findtext("provides/binary"), PROGRAM)
        self.assertEqual(metainfo.find("releases/release").get("version"), project_version())
        captions = [c.text for c in metainfo.iter("caption")]
        self.assertTrue(captions and all(captions), captions)
        for image in metainfo.iter("image"):
            name = image.text.rsplit("/", 1)[1]
            self.assertTrue(os.path.isfile(os.path.join(ROOT, "docs", "screenshots", name)), name)

        self.assertIn(f'ATTRS{{idProduct}}=="{product.lower()}"', self.unpacked_file(UDEV_RULE))

        entry = desktop_entry_fields(self.unpacked_file(DESKTOP_ENTRY))
        application_name = re.search(r'set\(TRB_PROGRAM_NAME "(\w+)"\)', source("CMakeLists.txt")).group(1)
        self.assertEqual(entry["StartupWMClass"], application_name)
        self.assertEqual(entry["Exec"], f"{PROGRAM} %f")
        self.assertEqual(entry["Icon"], PACKAGE)

    def test_the_maintainer_scripts_reload_and_retrigger_udev_only_when_udev_answers(self):
        # A stand-in udevadm records its calls; its --ping answers as told.
        both = ["control --reload-rules", "trigger --subsystem-match=hidraw --action=change"]
        cases = [
            # script, udevadm present?, daemon answers?, argument, calls expected after the ping
            ("postinst", True, True, "configure", both),
            ("postinst", True, False, "configure", []),
            ("postinst", False, False, "configure", None),
            ("postinst", True, True, "abort-upgrade", None),
            # Removed: the rule's access is taken back from a controller plugged in now.
            ("postrm", True, True, "remove", both),
            ("postrm", True, True, "purge", both),
            ("postrm", True, False, "remove", []),
            ("postrm", False, False, "remove", None),
            ("postrm", True, True, "upgrade", None),
        ]
        for script, present, answers, argument, expected in cases:
            with self.subTest(script=script, udevadm=present, answers=answers, argument=argument), \
                    tempfile.TemporaryDirectory() as bin_dir:
                calls = os.path.join(bin_dir, "calls")
                if present:
                    with open(os.path.join(bin_dir, "udevadm"), "w") as f:
                        f.write(f'#!/bin/sh\necho "$*" >> "{calls}"\n'
                                f'[ "$*" = "control --ping" ] && exit {0 if answers else 1}\nexit 0\n')
                    os.chmod(os.path.join(bin_dir, "udevadm"), 0o755)
                result = run("/bin/sh", os.path.join(self.control, script), argument,
                             env={"PATH": bin_dir}, check=False)
                self.assertEqual(result.returncode, 0, result.stderr)
                recorded = open(calls).read().splitlines() if os.path.exists(calls) else None
                self.assertEqual(recorded, None if expected is None else ["control --ping"] + expected)

    def test_the_program_is_built_with_the_distributions_hardening(self):
        program = os.path.join(self.unpacked, "usr/bin", PROGRAM)
        dynamic = run("readelf", "--dynamic", "--wide", program).stdout
        headers = run("readelf", "--program-headers", "--wide", program).stdout
        symbols = run("readelf", "--dyn-syms", "--wide", program).stdout
        self.assertIn("GNU_RELRO", headers, "read-only relocations")
        self.assertRegex(dynamic, r"\(FLAGS\)\s+BIND_NOW|\(FLAGS_1\)\s+Flags:.*\bNOW\b", "bound at start-up")
        self.assertRegex(dynamic, r"\(FLAGS_1\)\s+Flags:.*\bPIE\b", "position-independent")
        self.assertIn("__stack_chk_fail", symbols, "stack protector")
        self.assertRegex(symbols, r"\b__\w+_chk\b", "_FORTIFY_SOURCE's checked functions")

    def test_the_program_unpacked_from_the_package_starts(self):
        program = os.path.join(self.unpacked, "usr/bin", PROGRAM)
        missing = [line for line in run("ldd", program).stdout.splitlines() if "not found" in line]
        self.assertEqual(missing, [])

        # --version answers without a display.
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        answered = subprocess.run([program, "--version"], env=env, capture_output=True, text=True,
                                  timeout=trb_x11.PATIENCE)
        self.assertEqual(answered.returncode, 0, answered.stderr)
        self.assertIn(project_version(), answered.stdout)

        with trb_x11.XServer() as server, tempfile.TemporaryDirectory() as folder:
            log = os.path.join(folder, "screen.log")
            started = server.start(program, cwd=folder, extra_env=dict(ENGLISH, TRB_SCREEN_LOG=log))
            self.addCleanup(started.stop)
            started.wait_for_window()
            trb_x11.wait_until(lambda: os.path.exists(log) and '"painted"' in open(log).read(), trb_x11.PATIENCE,
                               what="the first paint")
            started.signal(signal.SIGTERM)
            # Ended on the language screen: before any write (session/ExitStatus.h).
            self.assertEqual(started.wait(), 4, started.output())


if __name__ == "__main__":
    unittest.main()
