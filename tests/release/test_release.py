#!/usr/bin/env python3
"""Releases the checkout's last commit twice, from clones at different paths with different
file dates, umasks and time zones, and checks dist/: the same bytes from both; the zips'
contents, PE type and version resource, and that they hold the very builds the windows and web
tests ran; the Debian package's metadata; and that the packaged programs run.

Usage: test_release.py SOURCE_DIR
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

SOURCE = None  # the checkout to clone, from the command line
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
    run(["git", "clone", "--quiet", SOURCE, checkout], cwd="/")
    if file_time is not None:
        for directory, _, files in os.walk(checkout):
            for name in files:
                os.utime(os.path.join(directory, name), (file_time, file_time),
                         follow_symlinks=False)
    env = dict(os.environ, TZ=timezone)
    env.pop("SOURCE_DATE_EPOCH", None)
    print(f"releasing in {checkout}", flush=True)
    run(["scripts/release"], cwd=checkout, env=env, preexec_fn=lambda: os.umask(umask))
    return os.path.join(checkout, "dist")


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
            cls.version = re.search(r"project\([^)]*\bVERSION\s+([0-9.]+)", f.read()).group(1)
        cls.deb_arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                                      text=True, check=True).stdout.strip()
        # With uncommitted changes the checkout's builds are not the released commit's.
        cls.dirty = bool(run(["git", "status", "--porcelain", "--untracked-files=no"], cwd=SOURCE))
        cls.work = tempfile.mkdtemp(prefix="triangle-release-")
        try:
            cls.first = release(os.path.join(cls.work, "a", "triangle-editor"), 0o022, "UTC")
            # The second clone sits deeper under another name, its files dated years back.
            cls.second = release(os.path.join(cls.work, "second", "place", "checkout"), 0o077,
                                 "Pacific/Auckland", file_time=1e9)
        except BaseException:
            shutil.rmtree(cls.work, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def artefact(self, name):
        return os.path.join(self.first, name)

    @property
    def deb(self):
        return self.artefact(f"triangle-editor_{self.version}_{self.deb_arch}.deb")

    def test_both_releases_hold_the_same_files_byte_for_byte(self):
        names = sorted(os.listdir(self.first))
        self.assertEqual(names, sorted([
            f"triangle-editor-{self.version}-windows-i686.zip",
            f"triangle-editor-{self.version}-windows-x86_64.zip",
            f"triangle-editor-{self.version}-web.zip",
            f"triangle-editor_{self.version}_{self.deb_arch}.deb", "SHA256SUMS"]))
        self.assertEqual(sorted(os.listdir(self.second)), names)
        differing = [name for name in names if not filecmp.cmp(
            os.path.join(self.first, name), os.path.join(self.second, name), shallow=False)]
        self.assertEqual(differing, [], "artefacts that differ between the two releases")
        run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=self.first)

    def check_is_tested_build(self, build, name, data):
        # What scripts/build-windows and scripts/build-web left in this checkout is what the
        # windows and web tests ran.
        with self.subTest(build=build, file=name):
            if self.dirty:
                self.skipTest("uncommitted changes: the checkout's builds are not the commit's")
            with open(os.path.join(SOURCE, build, name), "rb") as f:
                self.assertTrue(data == f.read(), f"the zip's {name} is not {build}'s")

    def test_zips_hold_the_tested_executable_readme_and_licences(self):
        for arch in ("i686", "x86_64"):
            with self.subTest(arch=arch):
                folder = f"triangle-editor-{self.version}-windows-{arch}"
                with zipfile.ZipFile(self.artefact(folder + ".zip")) as archive:
                    self.assertEqual(sorted(archive.namelist()), sorted(
                        f"{folder}/{name}" for name in (
                            "triangle-editor.exe", "README.txt", "licenses/GLFW.txt",
                            "licenses/MinGW-w64-runtime.txt", "licenses/GCC-runtime.txt",
                            "licenses/GPL-3.txt")))
                    readme = archive.read(f"{folder}/README.txt")
                    exe = archive.read(f"{folder}/triangle-editor.exe")
                    glfw_licence = archive.read(f"{folder}/licenses/GLFW.txt")
                self.assertNotIn(b"\n", readme.replace(b"\r\n", b""), "README.txt needs CRLF")
                self.assertIn(self.version.encode(), readme)
                self.assertIn(b"Camilla L\xc3\xb6wy", glfw_licence)  # GLFW's copyright holder
                extracted = os.path.join(self.work, f"{arch}.exe")
                with open(extracted, "wb") as f:
                    f.write(exe)
                self.assertEqual(pe_headers(extracted)[:2], TARGETS[arch][:2])
                self.check_version_resource(exe)
                self.check_is_tested_build(f"build/windows-{arch}", "triangle-editor.exe", exe)

    def check_version_resource(self, exe):
        numbers = [int(n) for n in (self.version.split(".") + ["0"] * 4)[:4]]
        packed = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
        at = exe.find(VS_FIXEDFILEINFO_SIGNATURE)
        self.assertGreaterEqual(at, 0, "no VS_FIXEDFILEINFO in the executable")
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", exe, at + 8)
        self.assertEqual(((file_ms, file_ls), (product_ms, product_ls)), (packed, packed))
        for key in ("FileVersion", "ProductVersion"):
            # A String entry: its key, then padding to 32 bits, then its value, all UTF-16.
            entry = re.escape((key + "\0").encode("utf-16-le")) + b"(?:\0\0)?" + re.escape(
                (self.version + "\0").encode("utf-16-le"))
            self.assertRegex(exe, entry, f"no {key} {self.version} in the version resource")

    def test_web_zip_holds_the_tested_page_that_runs_in_a_browser(self):
        folder = f"triangle-editor-{self.version}-web"
        page = os.listdir(os.path.join(SOURCE, "build", "web"))
        with zipfile.ZipFile(self.artefact(folder + ".zip")) as archive:
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
        deb = self.deb
        fields = run(["dpkg-deb", "--field", deb, "Package", "Version", "Architecture",
                      "Depends"], cwd=self.work)
        self.assertIn("Package: triangle-editor\n", fields)
        self.assertIn(f"Version: {self.version}\n", fields)
        self.assertIn(f"Architecture: {self.deb_arch}\n", fields)
        self.assertRegex(fields, r"Depends: .*\blibglfw3\b")
        # A GLFW with Wayland (3.4) wants a libdecor plugin; 3.3 does not use libdecor.
        recommends = run(["dpkg-deb", "--field", deb, "Recommends"], cwd=self.work).strip()
        self.assertEqual(recommends, "libdecor-0-plugin-1-cairo" if glfw.has_wayland() else "")
        contents = run(["dpkg-deb", "--contents", deb], cwd=self.work)
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


def take_source(source):
    global SOURCE
    SOURCE = os.path.abspath(source)


if __name__ == "__main__":
    main("SOURCE_DIR", take_source)
