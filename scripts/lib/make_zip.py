# Writes a zip of one folder, the same bytes every time for the same files: entries in name order,
# each dated SOURCE_DATE_EPOCH (UTC) with fixed permissions, whatever the files' own.
# Usage: make_zip.py OUT.zip FOLDER   (entries are named FOLDER's name/...)
import os
import sys
import time
import zipfile

out, folder = sys.argv[1], os.path.normpath(sys.argv[2])
base = os.path.dirname(folder)
# Zip dates are local times without a zone, from 1980 on: UTC makes them the same in every zone.
date_time = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
names = sorted(os.path.relpath(os.path.join(directory, file), base)
               for directory, _, files in os.walk(folder) for file in files)
with zipfile.ZipFile(out, "w") as archive:
    for name in names:
        path = os.path.join(base, name)
        entry = zipfile.ZipInfo(name.replace(os.sep, "/"), date_time)
        entry.create_system = 3  # Unix, so that the modes below mean something
        mode = 0o755 if os.stat(path).st_mode & 0o111 else 0o644
        entry.external_attr = (0o100000 | mode) << 16
        with open(path, "rb") as f:
            archive.writestr(entry, f.read(), compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
