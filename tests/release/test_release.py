#!/usr/bin/env python3
"""Releases the checkout's last commit twice, from clones at different paths with different file
dates, umasks and time zones, and checks dist/: the same bytes from both; the zips' contents, PE
type and version resource, and that they hold the very builds the tests ran; the Debian package's
metadata; and that the packaged programs run.
"""
import filecmp
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile

from harness import glfw
from harness.browser import BrowserDisplay, page_editor
from harness.case import main
from harness.editor import start_editor
from harness.report import expected_report
from harness.x11 import XServer
from windows.pe_headers import TARGETS, pe_headers

VS_FIXEDFILEINFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def run(command, cwd, **kwargs):
    result = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, **kwargs)
    if result.returncode != 0:
        raise AssertionError(f"{command} in {cwd} exited with {result.returncode}:\n"
                             + result.stdout[-4000:])
    return result.stdout


def release(checkout, umask, timezone, file_time=None):
    """Clones the source into checkout, releases there and returns its dist folder."""
    run(["git", "clone", "--quiet", Release.source, checkout], cwd="/")
    if file_time is not None:
        run(["find", ".", "!", "-type", "d", "-exec", "touch", "-h", "-d", f"@{file_time}", "{}",
             "+"], cwd=checkout)
    env = dict(os.environ, TZ=timezone)
    env.pop("SOURCE_DATE_EPOCH", None)
    print(f"releasing in {checkout}", flush=True)
    run(["scripts/release"], cwd=checkout, env=env, preexec_fn=lambda: os.umask(umask))
    return os.path.join(checkout, "dist")


class Release(unittest.TestCase):
    source = None  # the checkout to clone, from the command line

    @classmethod
    def setUpClass(cls):
        with open(os.path.join(cls.source, "CMakeLists.txt")) as f:
            cls.version = re.search(r"project\([^)]*\bVERSION\s+([0-9.]+)", f.read()).group(1)
        cls.deb_arch = run(["dpkg", "--print-architecture"], cwd="/").strip()
        cls.dirty = bool(run(["git", "status", "--porcelain", "--untracked-files=no"],
                             cwd=cls.source))
        cls.work = tempfile.mkdtemp(prefix="triangle-release-")
        cls.addClassCleanup(shutil.rmtree, cls.work, ignore_errors=True)
        cls.first = release(os.path.join(cls.work, "a", "triangle-editor"), 0o022, "UTC")
        # The second clone sits deeper under another name, its files dated years back.
        cls.second = release(os.path.join(cls.work, "second", "place", "checkout"), 0o077,
                             "Pacific/Auckland", file_time=1_000_000_000)
        cls.deb = os.path.join(cls.first, f"triangle-editor_{cls.version}_{cls.deb_arch}.deb")

    def test_both_releases_hold_the_same_files_byte_for_byte(self):
        names = sorted(os.listdir(self.first))
        zips = [f"triangle-editor-{self.version}-{kind}.zip"
                for kind in ("windows-i686", "windows-x86_64", "web")]
        self.assertEqual(names, sorted([*zips, os.path.basename(self.deb), "SHA256SUMS"]))
        self.assertEqual(sorted(os.listdir(self.second)), names)
        differing = [name for name in names if not filecmp.cmp(
            os.path.join(self.first, name), os.path.join(self.second, name), shallow=False)]
        self.assertEqual(differing, [], "artefacts that differ between the two releases")
        run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=self.first)

    def check_is_tested_build(self, build, name, data):
        # What scripts/build-windows and build-web left in this checkout, the tests ran.
        with self.subTest(build=build, file=name):
            if self.dirty:
                self.skipTest("uncommitted changes: the checkout's builds are not the commit's")
            with open(os.path.join(self.source, build, name), "rb") as f:
                self.assertTrue(data == f.read(), f"the zip's {name} is not {build}'s")

    def test_zips_hold_the_tested_executable_readme_and_licences(self):
        licences = ("GLFW", "MinGW-w64-runtime", "GCC-runtime", "GPL-3")
        names = ["triangle-editor.exe", "README.txt", *(f"licenses/{n}.txt" for n in licences)]
        for arch in ("i686", "x86_64"):
            with self.subTest(arch=arch):
                folder = f"triangle-editor-{self.version}-windows-{arch}"
                with zipfile.ZipFile(os.path.join(self.first, folder + ".zip")) as archive:
                    self.assertEqual(sorted(archive.namelist()),
                                     sorted(f"{folder}/{name}" for name in names))
                    readme = archive.read(f"{folder}/README.txt")
                    exe = archive.read(f"{folder}/triangle-editor.exe")
                    glfw_licence = archive.read(f"{folder}/licenses/GLFW.txt")
                    extracted = archive.extract(f"{folder}/triangle-editor.exe", self.work)
                self.assertNotIn(b"\n", readme.replace(b"\r\n", b""), "README.txt needs CRLF")
                self.assertIn(self.version.encode(), readme)
                self.assertIn(b"Camilla L\xc3\xb6wy", glfw_licence)  # GLFW's copyright holder
                self.assertEqual(pe_headers(extracted)[:2], TARGETS[arch][:2])
                self.check_version_resource(exe)
                self.check_is_tested_build(f"build/windows-{arch}", "triangle-editor.exe", exe)

    def check_version_resource(self, exe):
        numbers = [int(n) for n in (self.version.split(".") + ["0"] * 4)[:4]]
        packed = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
        at = exe.find(VS_FIXEDFILEINFO_SIGNATURE)
        self.assertGreaterEqual(at, 0, "no VS_FIXEDFILEINFO in the executable")
        self.assertEqual(struct.unpack_from("<4I", exe, at + 8), packed * 2)  # file, product
        for key in ("FileVersion", "ProductVersion"):
            # A String entry: its key, then padding to 32 bits, then its value, all UTF-16.
            entry = re.escape((key + "\0").encode("utf-16-le")) + b"(?:\0\0)?" + re.escape(
                (self.version + "\0").encode("utf-16-le"))
            self.assertRegex(exe, entry, f"no {key} {self.version} in the version resource")

    def test_web_zip_holds_the_tested_page_that_runs_in_a_browser(self):
        folder = f"triangle-editor-{self.version}-web"
        page = os.listdir(os.path.join(self.source, "build", "web"))
        with zipfile.ZipFile(os.path.join(self.first, folder + ".zip")) as archive:
            self.assertEqual(sorted(archive.namelist()),
                             sorted(f"{folder}/{name}" for name in (*page, "README.txt")))
            self.assertIn(self.version.encode(), archive.read(f"{folder}/README.txt"))
            for name in page:
                self.check_is_tested_build("build/web", name, archive.read(f"{folder}/{name}"))
            archive.extractall(os.path.join(self.work, "web"))
        with BrowserDisplay(os.path.join(self.work, "web", folder)) as browser:
            page = page_editor(browser)
            page.find_window()
            page.wait_for_report(expected_report({}), what="the page's first report")
            self.assertEqual(browser.console_errors(), [])

    def test_debian_package_names_the_version_and_depends_on_glfw(self):
        control = run(["dpkg-deb", "--field", self.deb], cwd=self.work)
        field = dict(re.findall(r"^(\S+): (.*)$", control, re.M))
        self.assertEqual((field["Package"], field["Version"], field["Architecture"]),
                         ("triangle-editor", self.version, self.deb_arch))
        self.assertRegex(field["Depends"], r"\blibglfw3\b")
        # A GLFW with Wayland (3.4) wants a libdecor plugin; 3.3 does not use libdecor.
        self.assertEqual(field.get("Recommends"),
                         "libdecor-0-plugin-1-cairo" if glfw.has_wayland() else None)
        contents = run(["dpkg-deb", "--contents", self.deb], cwd=self.work)
        for path in ("./usr/bin/triangle-editor", "./usr/share/doc/triangle-editor/copyright",
                     "./usr/share/doc/triangle-editor/README.md"):
            self.assertIn(path, contents)

    def test_debian_package_binary_unpacked_opens_its_window_in_xvfb(self):
        unpacked = os.path.join(self.work, "unpacked")
        run(["dpkg", "-x", self.deb, unpacked], cwd=self.work)
        with XServer() as x, start_editor(
                x, os.path.join(unpacked, "usr/bin/triangle-editor")) as editor:
            editor.find_window()
            self.assertEqual(editor.close_and_wait(), 0)

    @unittest.skipUnless(glfw.has_wayland(), "this release's GLFW is no Wayland client")
    def test_debian_package_installed_with_apt_runs_as_a_wayland_client_at_scale_2(self):
        # Installed as users install it, the package's binary passes the scenarios as a native
        # Wayland client at scale 2, its picture filling the window.
        run(["apt-get", "install", "-y", "-qq", self.deb], cwd=self.work)
        self.addCleanup(run, ["dpkg", "--remove", "triangle-editor"], cwd=self.work)
        from wayland.test_wayland import OnWestonAtScale2

        class Installed(OnWestonAtScale2):
            exe = "/usr/bin/triangle-editor"
        result = unittest.TextTestRunner(verbosity=2).run(
            unittest.defaultTestLoader.loadTestsFromTestCase(Installed))
        self.assertTrue(result.wasSuccessful(), "the installed package under weston")


if __name__ == "__main__":
    main("SOURCE_DIR", lambda source: setattr(Release, "source", os.path.abspath(source)))
