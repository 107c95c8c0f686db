# Writes a zip archive of one folder, the same bytes every time for the same files: entries in
# name order, each dated SOURCE_DATE_EPOCH (UTC) and given fixed permissions, whatever the files'
# own dates, owners and modes. Used by scripts/release.
# Usage: make_zip.py OUT.zip FOLDER   (entries are named FOLDER's name/...)
import os
import sys
import time
import zipfile


def main():
    out, folder = sys.argv[1], os.path.normpath(sys.argv[2])
    # Zip dates are local times without a zone, from 1980 on; UTC keeps them independent of
    # the machine's time zone.
    stamp = max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800)
    date_time = time.gmtime(stamp)[:6]
    paths = []
    for directory, _, files in os.walk(folder):
        paths += [os.path.join(directory, name) for name in files]
    base = os.path.dirname(folder)
    with zipfile.ZipFile(out, "w") as archive:
        for path in sorted(paths, key=lambda p: os.path.relpath(p, base)):
            entry = zipfile.ZipInfo(os.path.relpath(path, base).replace(os.sep, "/"), date_time)
            entry.create_system = 3  # Unix, so that the modes below mean something
            mode = 0o755 if os.stat(path).st_mode & 0o111 else 0o644
            entry.external_attr = (0o100000 | mode) << 16
            with open(path, "rb") as f:
                archive.writestr(entry, f.read(), compress_type=zipfile.ZIP_DEFLATED,
                                 compresslevel=9)


if __name__ == "__main__":
    main()
