# The scripts' package installs on apt's bad days, with a stand-in apt-get on PATH: an update that
# fails warns in one line and the install goes on; an install that fails stops with apt's message.
import os
import subprocess
import tempfile
import unittest

APT_SH = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lib", "apt.sh")
# Logs its arguments and the preferences it is given; fails as $UPDATE and $INSTALL say.
STAND_IN = """#!/bin/sh
echo "apt-get $*" >>"$APT_LOG"
for word; do case $word in Dir::Etc::Preferences=*) cat "${word#*=}" >>"$APT_LOG" ;; esac; done
case " $* " in
  *" update "*) [ "$UPDATE" = ok ] || { echo "E: Failed to fetch http://archive.invalid/debian-\
security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size" >&2
                exit 100; } ;;
  *" install "*) [ "$INSTALL" = ok ] || { eval echo "E: Unable to locate package \\${$#}" >&2
                 exit 100; } ;;
esac
"""


class Installs(unittest.TestCase):
    def install(self, **outcomes):
        with tempfile.TemporaryDirectory() as stand_ins:
            for name, text in (("apt-get", STAND_IN), ("sudo", '#!/bin/sh\nexec "$@"\n')):
                with open(os.path.join(stand_ins, name), "w") as f:
                    f.write(text)
                os.chmod(os.path.join(stand_ins, name), 0o755)
            log = os.path.join(stand_ins, "log")
            result = subprocess.run(
                ["bash", "-c", f'. "{APT_SH}"; install_missing triangle-editor-no-such-package'],
                env=dict(os.environ, PATH=stand_ins + ":" + os.environ["PATH"], APT_LOG=log,
                         **outcomes), capture_output=True, text=True, timeout=60)
            with open(log) as f:
                return result, f.read()

    def test_a_failed_update_warns_in_one_line_and_the_install_goes_on(self):
        result, log = self.install(UPDATE="fail", INSTALL="ok")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr, r"^bash: warning: apt-get update failed.*binary-i386/"
                                        r"Packages.xz  File has unexpected size\n$")
        self.assertIn("Acquire::Retries=3", log)
        # The suite whose index failed serves only what no other suite has.
        self.assertIn("Pin: release n=bookworm-security\nPin-Priority: 100\n", log)
        self.assertRegex(log, r"apt-get .*install .*triangle-editor-no-such-package")

    def test_an_install_that_fails_stops_with_apts_message(self):
        result, log = self.install(UPDATE="ok", INSTALL="fail")
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(result.stderr, "E: Unable to locate package "
                                        "triangle-editor-no-such-package\n")
        self.assertNotIn("Pin:", log)


if __name__ == "__main__":
    unittest.main(verbosity=2)
