"""The reference manual that scripts/package.sh built and zipped: what it holds,
where it ships, and the checks that fail its build when a public name of the
headers or of the Python package is left undocumented."""
import os
import shutil
import subprocess
import zipfile

import pytest

from release import DIST, NATIVE_BUILD, ROOT, VERSION
MANUAL = os.path.join(DIST, f"varek-{VERSION}-docs.zip")
LIBRARY = os.path.join(NATIVE_BUILD, "bin", "libvarek.so")


def test_the_manual_holds_every_part_and_ships_in_libvarek_dev():
    top = f"varek-{VERSION}-docs/"
    with zipfile.ZipFile(MANUAL) as archive:
        names = set(archive.namelist())
        python_api = archive.read(top + "python-api.html").decode()
        c_api = archive.read(top + "c-api/classVarekDDG.html").decode()
        programs = archive.read(top + "programs.html").decode()
    pages = ["index", "bring-up", "setups", "server", "sharing", "tango", "epics", "bluesky-qcodes", "windows",
             "packaging", "library", "python", "python-api", "c-api", "programs"]
    for needed in [f"{page}.html" for page in pages] + ["c-api/index.html", "c-api/classVarekDDG.html",
                                                         "man/varekctl.1.gz", "man/varek-server.1.gz"]:
        assert top + needed in names, needed
    # The Python API from the docstrings, the C++ one from the headers, the programs' own help.
    assert "set_delay" in python_api and "VarekDelayGenerator" in python_api and "simulated_instrument" in python_api
    assert "SoftwareTrigger" in c_api and "Fires one software trigger" in c_api
    assert "trigger-mode" in programs and "--frames" in programs
    contents = subprocess.run(["dpkg-deb", "--contents", os.path.join(DIST, f"libvarek-dev_{VERSION}_amd64.deb")],
                              capture_output=True, text=True, check=True).stdout
    assert f"./usr/share/doc/libvarek-dev/varek-{VERSION}-docs.zip" in contents


def without_line(path, line):
    with open(path) as file:
        text = file.read()
    assert line in text, line
    with open(path, "w") as file:
        file.write(text.replace(line, "", 1))


@pytest.mark.parametrize("header, doc_line, name", [
    ("varek.h", "/** Fires one software trigger. */\n", "varek_software_trigger"),
    ("varek_ddg.h", "    /// Fires one software trigger.\n", "SoftwareTrigger"),
])
def test_a_header_name_left_undocumented_fails_the_reference(tmp_path, header, doc_line, name):
    headers = tmp_path / "varek"
    shutil.copytree(os.path.join(ROOT, "include", "varek"), headers)

    def doxygen():
        env = dict(os.environ, VAREK_VERSION=VERSION, VAREK_HEADERS=str(headers),
                   VAREK_DOXYGEN_OUT=str(tmp_path / "out"))
        return subprocess.run(["doxygen", os.path.join(ROOT, "docs", "manual", "Doxyfile")], env=env,
                              capture_output=True, text=True, timeout=300)

    whole = doxygen()
    assert whole.returncode == 0, whole.stdout + whole.stderr
    without_line(headers / header, doc_line)
    lacking = doxygen()
    assert lacking.returncode != 0
    assert f"{header}" in lacking.stderr and name in lacking.stderr and "not documented" in lacking.stderr, \
        lacking.stderr


def test_a_python_name_left_undocumented_fails_the_check(tmp_path):
    package = tmp_path / "python"
    shutil.copytree(os.path.join(ROOT, "python", "varek"), package / "varek")

    def check():
        env = dict(os.environ, VAREK_LIBRARY=LIBRARY)
        return subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "docs", "manual", "check_python_docs.py"),
                               str(package)], env=env, capture_output=True, text=True, timeout=120)

    whole = check()
    assert whole.returncode == 0, whole.stdout + whole.stderr
    without_line(package / "varek" / "__init__.py", '        """Fires one trigger."""\n')
    lacking = check()
    assert lacking.returncode == 1
    assert lacking.stdout.strip() == "undocumented: varek.Varek.software_trigger", lacking.stdout + lacking.stderr
