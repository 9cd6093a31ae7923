"""The release artifacts that scripts/package.sh wrote to dist/, as a user
meets them: the Windows zip (contents, checksums, version resources, an MSVC
host linked against its varek.lib and run under Wine), the Debian package
(metadata, and a consumer built against it with pkg-config and with
find_package after a dpkg -x) and the Linux tarball.

Needs the linux and windows presets built (the simulator, the Wine prefix)."""
import glob
import hashlib
import os
import shutil
import subprocess
import tarfile
import zipfile

import pefile
import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DIST = os.path.join(ROOT, "dist")
HERE = os.path.dirname(os.path.abspath(__file__))
VERSION = open(os.path.join(ROOT, "build", "package", "linux", "varek-version.txt")).read().strip()
WINDOWS_NAME = f"varek-{VERSION}-windows-x64"
LINUX_NAME = f"varek-{VERSION}-linux-x86_64"
SIM = os.path.join(ROOT, "build", "linux", "bin", "varek-sim")
WINE_RUN = os.path.join(ROOT, "build", "windows", "wine_run.sh")
WINE_PREFIX = os.path.join(ROOT, "build", "windows", "wineprefix")
EXTENSIONS = ["varekx_last_error", "varekx_read_status", "varekx_limits", "varekx_get_limits", "varekx_check_argument",
              "varekx_last_outcome", "varekx_open", "varekx_list_ports"]
C_FUNCTIONS = ["varek_init", "varek_close", "varek_set_trigger", "varek_set_trigger_freq",
               "varek_set_output_channel", "varek_set_delay", "varek_set_pulse_width", "varek_set_global_output",
               "varek_software_trigger", "varek_read_temperature", "varek_read_timing_config"]


def run(*command, **options):
    result = subprocess.run(command, capture_output=True, text=True, timeout=300, **options)
    assert result.returncode == 0, f"{command} failed:\n{result.stdout}\n{result.stderr}"
    return result.stdout


def with_simulator(*command, sim=SIM, wine=False, env=None):
    """Runs COMMAND against a fresh simulated instrument (COM12 under Wine)."""
    wrapper = ["bash", os.path.join(ROOT, "tests", "run_with_sim.sh"), "--sim", sim]
    if wine:
        wrapper += ["--wine-prefix", WINE_PREFIX]
    return run(*wrapper, "--", *command, env={**os.environ, **(env or {})})


def sha256(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


@pytest.fixture(scope="module")
def windows_tree(tmp_path_factory):
    folder = tmp_path_factory.mktemp("zip")
    with zipfile.ZipFile(os.path.join(DIST, WINDOWS_NAME + ".zip")) as archive:
        archive.extractall(folder)
    return os.path.join(folder, WINDOWS_NAME)


@pytest.fixture(scope="module")
def deb_tree(tmp_path_factory):
    folder = str(tmp_path_factory.mktemp("deb"))
    run("dpkg", "-x", deb_path(), folder)
    return folder


def deb_path():
    (path,) = glob.glob(os.path.join(DIST, f"varek_{VERSION}_*.deb"))
    return path


def test_dist_holds_the_artifacts_with_their_checksums():
    names = sorted(os.listdir(DIST))
    wheels = [f"varek-{VERSION}-py3-none-{platform}.whl" for platform in ("linux_x86_64", "win_amd64")]
    assert names == sorted([WINDOWS_NAME + ".zip", LINUX_NAME + ".tar.gz", os.path.basename(deb_path()),
                            "SHA256SUMS"] + wheels)
    sums = dict(reversed(line.split()) for line in open(os.path.join(DIST, "SHA256SUMS")))
    assert sorted(sums) == sorted(name for name in names if name != "SHA256SUMS")
    for name, digest in sums.items():
        assert sha256(os.path.join(DIST, name)) == digest, name


def test_the_zip_holds_what_a_windows_user_needs(windows_tree):
    for needed in ["bin/varek.dll", "bin/varekctl.exe", "bin/varek-sim.exe", "bin/varek-server.exe", "lib/varek.lib", "lib/libvarek.dll.a", "lib/varek.def",
                   "lib/cmake/varek/varekConfig.cmake", "lib/cmake/varek/varekConfigVersion.cmake",
                   "include/varek/varek.h", "include/varek/varek_ext.h", "include/varek/varek_ddg.h",
                   "include/varek/serial_port.h", "include/varek/exchange_report.h", "include/varek/export.h",
                   "python/varek/__init__.py", "README-windows.txt", "LICENSE", "SHA256SUMS"]:
        assert os.path.isfile(os.path.join(windows_tree, needed)), needed
    assert "MIT License" in open(os.path.join(windows_tree, "LICENSE")).read()
    files = sorted(os.path.relpath(os.path.join(folder, name), windows_tree).replace(os.sep, "/")
                   for folder, _, names in os.walk(windows_tree) for name in names)
    sums = dict(reversed(line.split()) for line in open(os.path.join(windows_tree, "SHA256SUMS")))
    assert sorted(sums) == [name for name in files if name != "SHA256SUMS"]
    for name, digest in sums.items():
        assert sha256(os.path.join(windows_tree, name)) == digest, name
    exports = open(os.path.join(windows_tree, "lib", "varek.def")).read().split()
    for function in C_FUNCTIONS + EXTENSIONS:
        assert function in exports


def test_every_binary_carries_the_projects_version(windows_tree):
    binaries = glob.glob(os.path.join(windows_tree, "bin", "*.dll")) + glob.glob(
        os.path.join(windows_tree, "bin", "*.exe"))
    assert len(binaries) >= 2
    major, minor, patch = (int(part) for part in VERSION.split("."))
    for path in binaries:
        image = pefile.PE(path)
        fixed = image.VS_FIXEDFILEINFO[0]
        assert (fixed.FileVersionMS, fixed.FileVersionLS) == ((major << 16) | minor, patch << 16), path
        strings = {key.decode(): value.decode()
                   for info in image.FileInfo[0] if info.Key == b"StringFileInfo"
                   for table in info.StringTable for key, value in table.entries.items()}
        assert strings["FileVersion"] == VERSION
        assert strings["ProductVersion"] == VERSION
        assert strings["ProductName"] == "varek"
        assert strings["OriginalFilename"] == os.path.basename(path)
        assert strings["FileDescription"].startswith(os.path.splitext(os.path.basename(path))[0] + ":")
        assert "MIT License" in strings["LegalCopyright"]


def test_varek_dll_needs_only_system_dlls(windows_tree):
    image = pefile.PE(os.path.join(windows_tree, "bin", "varek.dll"))
    imported = sorted(entry.dll.decode().lower() for entry in image.DIRECTORY_ENTRY_IMPORT)
    # The port listing asks SetupAPI and the registry (advapi32), network ports
    # Winsock: system DLLs too.
    assert imported == ["advapi32.dll", "kernel32.dll", "msvcrt.dll", "setupapi.dll", "ws2_32.dll"]
    exported = {symbol.name.decode() for symbol in image.DIRECTORY_ENTRY_EXPORT.symbols if symbol.name}
    assert {name for name in exported if name.startswith("varek")} == set(C_FUNCTIONS + EXTENSIONS)


def test_an_msvc_host_links_the_zips_import_library_and_runs(windows_tree, tmp_path):
    obj, exe = str(tmp_path / "msvc_host.obj"), str(tmp_path / "msvc_host.exe")
    run("clang", "--target=x86_64-pc-windows-msvc", "-ffreestanding", "-fno-builtin", "-O1", "-Wall", "-Werror",
        "-I", os.path.join(windows_tree, "include"), "-c", os.path.join(HERE, "msvc_host.c"), "-o", obj)
    kernel32 = str(tmp_path / "kernel32.lib")
    run("llvm-dlltool", "-m", "i386:x86-64", "-d", os.path.join(HERE, "kernel32.def"), "-l", kernel32)
    run("lld-link", "/nologo", "/subsystem:console", "/entry:mainCRTStartup", "/nodefaultlib", obj,
        os.path.join(windows_tree, "lib", "varek.lib"), kernel32, "/out:" + exe)
    shutil.copy(os.path.join(windows_tree, "bin", "varek.dll"), tmp_path)
    output = with_simulator(WINE_RUN, exe, wine=True)
    assert "15 passed, 0 failed" in output, output


def test_the_deb_says_what_it_is_and_holds_everything(deb_tree):
    fields = {field: run("dpkg-deb", "-f", deb_path(), field).strip() for field in ("Package", "Version",
                                                                                   "Architecture")}
    assert fields == {"Package": "varek", "Version": VERSION, "Architecture": "amd64"}
    libdir = os.path.join(deb_tree, "usr", "lib", "x86_64-linux-gnu")
    for needed in [os.path.join(libdir, "libvarek.so.1"), os.path.join(libdir, "pkgconfig", "varek.pc"),
                   os.path.join(libdir, "cmake", "varek", "varekConfig.cmake"),
                   os.path.join(deb_tree, "usr", "include", "varek", "varek_ext.h"),
                   os.path.join(deb_tree, "usr", "bin", "varekctl"), os.path.join(deb_tree, "usr", "bin", "varek-sim"),
                   os.path.join(deb_tree, "usr", "bin", "varek-server"),
                   os.path.join(deb_tree, "usr", "lib", "python3", "dist-packages", "varek", "__init__.py"),
                   os.path.join(deb_tree, "usr", "share", "doc", "varek", "LICENSE")]:
        assert os.path.exists(needed), needed
    dynamic = run("objdump", "-p", os.path.join(libdir, f"libvarek.so.{VERSION}"))
    assert "SONAME               libvarek.so.1" in dynamic


def test_a_consumer_builds_against_the_deb_and_runs(deb_tree, tmp_path):
    usr = os.path.join(deb_tree, "usr")
    libdir = os.path.join(usr, "lib", "x86_64-linux-gnu")
    env = {"PKG_CONFIG_PATH": os.path.join(libdir, "pkgconfig"), "LD_LIBRARY_PATH": libdir}
    flags = run("pkg-config", "--cflags", "--libs", "varek", env={**os.environ, **env}).split()
    source = tmp_path / "pc.c"
    source.write_text('#include <stdlib.h>\n#include "varek/varek.h"\n#include "varek/varek_ext.h"\n'
                      'int main(void) {\n  VarekHandle h = varek_init(getenv("VAREK_SIM_C_PORT"), 0);\n'
                      '  int ok = h != NULL && varek_software_trigger(h) == VAREK_OK '
                      '&& varekx_last_error(h, NULL, 0) == 0;\n  varek_close(h);\n  return ok ? 0 : 1;\n}\n')
    run("cc", "-std=c11", "-Wall", "-Werror", str(source), "-o", str(tmp_path / "pc"), *flags)
    sim = os.path.join(usr, "bin", "varek-sim")
    with_simulator(str(tmp_path / "pc"), sim=sim, env=env)

    build = str(tmp_path / "cmake")
    run("cmake", "-S", os.path.join(ROOT, "tests", "consumer"), "-B", build, "-G", "Ninja",
        "-DCMAKE_PREFIX_PATH=" + usr)
    run("cmake", "--build", build)
    output = with_simulator(os.path.join(build, "consumer"), sim=sim, env=env)
    assert "read back: ok" in output


def test_the_tarball_holds_the_install_tree():
    with tarfile.open(os.path.join(DIST, LINUX_NAME + ".tar.gz")) as archive:
        names = set(archive.getnames())
    for needed in ["bin/varekctl", "bin/varek-sim", "include/varek/varek.h", "share/doc/varek/LICENSE",
                   "lib/x86_64-linux-gnu/libvarek.so.1", "lib/x86_64-linux-gnu/pkgconfig/varek.pc"]:
        assert f"{LINUX_NAME}/{needed}" in names, needed
