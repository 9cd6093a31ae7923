"""Where scripts/package.sh leaves the release: dist/, its version, and the
linux preset's build that the native packages were made from."""
import os

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DIST = os.path.join(ROOT, "dist")
NATIVE_BUILD = os.path.join(ROOT, "build", "linux")
VERSION = open(os.path.join(NATIVE_BUILD, "varek-version.txt")).read().strip()
