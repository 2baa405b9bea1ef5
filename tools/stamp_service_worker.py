#!/usr/bin/env python3
"""Finishes a built web site: writes its service worker from web/sw.js with the list of the
site's files and a version taken from their hashes, so that a new release (any changed byte)
installs a new worker, which replaces the cached files. With --icon, first takes the 256 px
image (stored as PNG) out of the program's icon as the page's icon.

    tools/stamp_service_worker.py [--icon resources/app.ico] SITE_DIR
"""
import hashlib
import json
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def icon_png(ico_path):
    data = open(ico_path, "rb").read()
    count = struct.unpack_from("<H", data, 4)[0]
    for i in range(count):
        width, _, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        image = data[offset:offset + size]
        if width == 0 and image.startswith(b"\x89PNG"):  # 0 stands for 256
            return image
    sys.exit("no 256 px PNG image in " + ico_path)


def main(argv):
    if len(argv) >= 2 and argv[0] == "--icon":
        ico, argv = argv[1], argv[2:]
        site = argv[0]
        open(os.path.join(site, "icon-256.png"), "wb").write(icon_png(ico))
    site = argv[0]
    files = []
    for folder, dirs, names in os.walk(site):
        dirs.sort()
        for name in sorted(names):
            path = os.path.relpath(os.path.join(folder, name), site).replace(os.sep, "/")
            if path != "sw.js":
                files.append(path)
    digest = hashlib.sha256()
    for path in files:
        digest.update(path.encode() + b"\0")
        digest.update(open(os.path.join(site, path), "rb").read())
    template = open(os.path.join(ROOT, "web", "sw.js"), encoding="utf-8").read()
    worker = (template.replace('"@VERSION@"', json.dumps(digest.hexdigest()[:16]))
              .replace('["@FILES@"]', json.dumps(["./"] + files)))
    open(os.path.join(site, "sw.js"), "w", encoding="utf-8").write(worker)


if __name__ == "__main__":
    main(sys.argv[1:])
