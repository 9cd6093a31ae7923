"""The Python wheels that scripts/package.sh wrote to dist/: the Linux wheel
installed into a fresh virtual environment and used from outside the
repository by a user's pytest suite (acquisition_suite.py) with the varek_sim
fixture; the Windows wheel's contents and tag."""
import glob
import os
import subprocess
import sys
import zipfile

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DIST = os.path.join(ROOT, "dist")
VERSION = open(os.path.join(ROOT, "build", "package", "linux", "varek-version.txt")).read().strip()


def wheel(platform):
    (path,) = glob.glob(os.path.join(DIST, f"varek-{VERSION}-py3-none-{platform}.whl"))
    return path


def run(*command, **options):
    result = subprocess.run(command, capture_output=True, text=True, timeout=600, **options)
    assert result.returncode == 0, f"{command} failed:\n{result.stdout}\n{result.stderr}"
    return result.stdout


def test_the_linux_wheel_installs_and_a_users_pytest_suite_runs_against_its_simulator(tmp_path):
    venv = tmp_path / "venv"
    # Debian's pytest comes from the system; the varek package from the wheel alone.
    run(sys.executable, "-m", "venv", "--system-site-packages", str(venv))
    python = str(venv / "bin" / "python")
    run(python, "-m", "pip", "install", "--no-index", "--quiet", wheel("linux_x86_64"))
    # The Tango device comes with it (PyTango from the system) and so does its program.
    run(python, "-c", "import varek.tango; print(varek.tango.VarekDelayGenerator)", cwd=str(tmp_path))
    assert (venv / "bin" / "varek-tango-server").exists()
    work = tmp_path / "lab"
    work.mkdir()
    (work / "test_acquisition.py").write_text(open(os.path.join(os.path.dirname(__file__),
                                                                "acquisition_suite.py")).read())
    env = {key: value for key, value in os.environ.items() if not key.startswith(("VAREK_", "PYTHON"))}
    env["EXPECTED_VAREK_VERSION"] = VERSION
    output = run(python, "-m", "pytest", "-q", "-p", "no:cacheprovider", "test_acquisition.py", cwd=str(work),
                 env=env)
    assert " passed" in output and "failed" not in output, output


def test_the_windows_wheel_carries_the_dll_and_the_simulator():
    with zipfile.ZipFile(wheel("win_amd64")) as archive:
        names = set(archive.namelist())
        info = f"varek-{VERSION}.dist-info"
        metadata = archive.read(f"{info}/WHEEL").decode()
        entry_points = archive.read(f"{info}/entry_points.txt").decode()
    for needed in ["varek/__init__.py", "varek/testing.py", "varek/pytest_plugin.py", "varek/py.typed",
                   "varek/_version.py", "varek/varek.dll", "varek/varek-sim.exe"]:
        assert needed in names, needed
    assert not any(name.endswith((".so", ".so.1", "/varek-sim")) for name in names)
    assert "Tag: py3-none-win_amd64" in metadata
    assert "Root-Is-Purelib: false" in metadata
    assert "varek = varek.pytest_plugin" in entry_points


def test_the_linux_wheel_carries_the_library_and_the_simulator():
    with zipfile.ZipFile(wheel("linux_x86_64")) as archive:
        names = set(archive.namelist())
        metadata = archive.read(f"varek-{VERSION}.dist-info/WHEEL").decode()
    assert {"varek/libvarek.so.1", "varek/varek-sim", "varek/py.typed"} <= names
    assert "Tag: py3-none-linux_x86_64" in metadata
