"""The Python wheels and the source distribution that scripts/package.sh
wrote to dist/: the Linux wheel installed into a fresh virtual environment and
used from outside the repository by a user's pytest suite
(acquisition_suite.py) with the varek_sim fixture, and by every Python this
machine has; the tags the package index requires (auditwheel's manylinux),
the metadata twine checks; the source distribution built from source by pip
in a clean environment; the Windows wheel's contents and tag."""
import glob
import os
import re
import subprocess
import sys
import zipfile

import pytest

from release import DIST, ROOT, VERSION


VENV_BIN = os.path.join(ROOT, "build", "venv", "bin")
SDIST = os.path.join(DIST, f"varek-{VERSION}.tar.gz")
# A session on the simulator that the installed package starts itself.
SESSION = """
import varek, varek.testing
with varek.testing.simulated_instrument() as sim, varek.Varek(sim.port) as ddg:
    ddg.set_delay(2, 4321)
    ddg.software_trigger()
    assert ddg.read_timing_config(2).delay == 4321 and sim.state()["delay2"] == 4321 * 100
    print(varek.__version__, varek.__file__)
"""


def wheel(platform):
    (path,) = glob.glob(os.path.join(DIST, f"varek-{VERSION}-py3-none-{platform}.whl"))
    return path


def linux_wheel():
    return wheel("manylinux_*_x86_64")


def all_wheels():
    return sorted(glob.glob(os.path.join(DIST, "*.whl")))


def clean_env():
    """The environment without what points at this repository's build."""
    return {key: value for key, value in os.environ.items() if not key.startswith(("VAREK_", "PYTHON"))}


def run(*command, **options):
    result = subprocess.run(command, capture_output=True, text=True, timeout=600, **options)
    assert result.returncode == 0, f"{command} failed:\n{result.stdout}\n{result.stderr}"
    return result.stdout


def test_the_linux_wheel_installs_and_a_users_pytest_suite_runs_against_its_simulator(tmp_path):
    venv = tmp_path / "venv"
    # Debian's pytest comes from the system; the varek package from the wheel alone.
    run(sys.executable, "-m", "venv", "--system-site-packages", str(venv))
    python = str(venv / "bin" / "python")
    run(python, "-m", "pip", "install", "--no-index", "--quiet", linux_wheel())
    # The Tango device comes with it (PyTango from the system) and so does its program.
    run(python, "-c", "import varek.tango; print(varek.tango.VarekDelayGenerator)", cwd=str(tmp_path))
    assert (venv / "bin" / "varek-tango-server").exists()
    work = tmp_path / "lab"
    work.mkdir()
    (work / "test_acquisition.py").write_text(open(os.path.join(os.path.dirname(__file__),
                                                                "acquisition_suite.py")).read())
    env = clean_env()
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
    with zipfile.ZipFile(linux_wheel()) as archive:
        names = set(archive.namelist())
        metadata = archive.read(f"varek-{VERSION}.dist-info/WHEEL").decode()
    assert {"varek/libvarek.so.1", "varek/varek-sim", "varek/py.typed"} <= names
    assert not any(name.endswith(".in") for name in names)
    assert re.search(r"^Tag: py3-none-manylinux_2_\d+_x86_64$", metadata, re.M), metadata


def test_auditwheel_confirms_the_manylinux_tag_of_each_linux_wheel():
    linux = [path for path in all_wheels() if "manylinux" in path]
    assert linux
    for path in linux:
        tag = re.search(r"-(manylinux_\d+_\d+_\w+)\.whl$", path).group(1)
        shown = run(os.path.join(VENV_BIN, "auditwheel"), "show", path)
        # auditwheel names the most compatible tag the binaries allow: the one the wheel carries.
        assert f'consistent with the following platform tag: "{tag}"' in " ".join(shown.split()), shown


def test_twine_accepts_every_wheel_and_the_source_distribution():
    files = all_wheels() + [SDIST]
    assert len(files) >= 3
    output = run(os.path.join(VENV_BIN, "twine"), "check", "--strict", *files)
    assert output.count("PASSED") == len(files), output


def test_the_source_distribution_builds_and_the_installed_package_drives_the_simulator(tmp_path):
    # A clean environment: nothing of the system's site, the build backend fetched
    # by pip from the package index as a user's pip would, the library and the
    # simulator compiled from the sources the archive carries (Boost's headers too).
    venv = tmp_path / "venv"
    run(sys.executable, "-m", "venv", str(venv))
    python = str(venv / "bin" / "python")
    env = clean_env()
    env["CMAKE_BUILD_PARALLEL_LEVEL"] = "2"
    run(python, "-m", "pip", "install", "--quiet", "--disable-pip-version-check", SDIST, env=env, cwd=str(tmp_path))
    output = run(python, "-c", SESSION, env=env, cwd=str(tmp_path))
    assert output.startswith(VERSION) and "site-packages" in output, output
    installed = venv / "lib" / f"python{sys.version_info[0]}.{sys.version_info[1]}" / "site-packages" / "varek"
    assert (installed / "libvarek.so.1").exists() and os.access(installed / "varek-sim", os.X_OK)


def pythons_here():
    """Every CPython 3 this machine has (Debian's, and pyenv's when there), by version."""
    found = {}
    for candidate in ["/usr/bin/python3", *glob.glob(os.path.expanduser("~/.pyenv/versions/3.*/bin/python3"))]:
        version = run(candidate, "-c", "import sys; print('%d.%d' % sys.version_info[:2])").strip()
        found.setdefault(version, candidate)
    return found


def test_every_python_the_package_supports_installs_the_wheel_and_drives_the_simulator(tmp_path):
    with zipfile.ZipFile(linux_wheel()) as archive:
        metadata = archive.read(f"varek-{VERSION}.dist-info/METADATA").decode()
    oldest = tuple(int(part) for part in re.search(r"^Requires-Python: >=(\d+)\.(\d+)", metadata, re.M).groups())
    stated = set(re.findall(r"^Classifier: Programming Language :: Python :: (3\.\d+)$", metadata, re.M))
    tried = []
    for version, interpreter in sorted(pythons_here().items()):
        venv = tmp_path / version
        run(interpreter, "-m", "venv", str(venv))
        python = str(venv / "bin" / "python")
        supported = tuple(int(part) for part in version.split(".")) >= oldest
        install = subprocess.run([python, "-m", "pip", "install", "--no-index", "--quiet",
                                  "--disable-pip-version-check", linux_wheel()], capture_output=True, text=True)
        if not supported:
            # pip refuses it (by the Python it names, or, for a pip too old to know
            # the tag, by the tag), before anything is installed.
            assert install.returncode != 0, f"Python {version} installed a wheel that does not support it"
            continue
        assert install.returncode == 0, install.stderr
        assert version in stated, f"Python {version} works but the package does not say so"
        assert run(python, "-c", SESSION, env=clean_env(), cwd=str(tmp_path)).startswith(VERSION)
        tried.append(version)
    assert tried, "no supported Python found"
