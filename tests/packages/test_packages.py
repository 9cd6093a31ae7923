"""The release artifacts that scripts/package.sh wrote to dist/, as a user
meets them: the Windows zip (contents, checksums, version resources, an MSVC
host linked against its varek.lib and run under Wine), the Debian package
(metadata, and a consumer built against it with pkg-config and with
find_package after a dpkg -x) and the Linux tarball.

Needs the linux and windows presets built (the simulator, the Wine prefix)."""
import glob
import gzip
import hashlib
import json
import os
import re
import shutil
import subprocess
import tarfile
import tempfile
import zipfile

import pefile
import pytest

from release import DIST, NATIVE_BUILD, ROOT, VERSION
HERE = os.path.dirname(os.path.abspath(__file__))
WINDOWS_NAME = f"varek-{VERSION}-windows-x64"
LINUX_NAME = f"varek-{VERSION}-linux-x86_64"
SIM = os.path.join(NATIVE_BUILD, "bin", "varek-sim")
WINE_RUN = os.path.join(ROOT, "build", "windows", "wine_run.sh")
WINE_PREFIX = os.path.join(ROOT, "build", "windows", "wineprefix")
EXTENSIONS = ["varekx_last_error", "varekx_read_status", "varekx_limits", "varekx_get_limits", "varekx_check_argument",
              "varekx_last_outcome", "varekx_open", "varekx_list_ports", "varekx_check_setup", "varekx_read_setup",
              "varekx_apply_setup", "varekx_parse_time", "varekx_format_time",
              "varekx_open_v2", "varekx_outcome_name", "varekx_open_failure_name", "varekx_compare_setups",
              "varekx_port_lost"]
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


# The Debian packages, as Debian splits a library, with their architectures.
DEB_PACKAGES = {"libvarek1": "amd64", "libvarek-dev": "amd64", "varek": "amd64", "python3-varek": "all"}


def deb_path(package):
    return os.path.join(DIST, f"{package}_{VERSION}_{DEB_PACKAGES[package]}.deb")


@pytest.fixture(scope="module")
def deb_tree(tmp_path_factory):
    """All four packages unpacked into one tree, as installing them all would lay them out."""
    folder = str(tmp_path_factory.mktemp("deb"))
    for package in DEB_PACKAGES:
        run("dpkg", "-x", deb_path(package), folder)
    return folder


def test_dist_holds_the_artifacts_with_their_checksums():
    names = sorted(os.listdir(DIST))
    # The Linux wheel's manylinux tag is the one auditwheel found for its binaries.
    wheels = [f"varek-{VERSION}-py3-none-win_amd64.whl"]
    for cpu in ("x86_64", "aarch64"):
        linux_wheels = [name for name in names
                        if re.fullmatch(rf"varek-{VERSION}-py3-none-manylinux_2_\d+_{cpu}\.whl", name)]
        assert len(linux_wheels) == 1, names
        wheels += linux_wheels
    debs = [os.path.basename(deb_path(package)) for package in DEB_PACKAGES]
    debs += [f"{package}_{VERSION}_{architecture}.deb" for package in ("libvarek1", "libvarek-dev", "varek")
             for architecture in ("arm64", "armhf")]
    tarballs = [f"varek-{VERSION}-linux-{cpu}.tar.gz" for cpu in ("x86_64", "aarch64", "armhf")]
    assert names == sorted([WINDOWS_NAME + ".zip", "SHA256SUMS", f"varek-{VERSION}-openapi.json",
                            f"varek-{VERSION}.tar.gz", f"varek-{VERSION}-docs.zip"] + tarballs + debs + wheels)
    with open(os.path.join(DIST, f"varek-{VERSION}-openapi.json")) as document:
        assert json.load(document)["info"]["version"] == VERSION
    sums = dict(reversed(line.split()) for line in open(os.path.join(DIST, "SHA256SUMS")))
    assert sorted(sums) == sorted(name for name in names if name != "SHA256SUMS")
    for name, digest in sums.items():
        assert sha256(os.path.join(DIST, name)) == digest, name


def test_the_zip_holds_what_a_windows_user_needs(windows_tree):
    for needed in ["bin/varek.dll", "bin/varekctl.exe", "bin/varek-sim.exe", "bin/varek-server.exe", "lib/varek.lib", "lib/libvarek.dll.a", "lib/varek.def",
                   "lib/cmake/varek/varekConfig.cmake", "lib/cmake/varek/varekConfigVersion.cmake",
                   "include/varek/varek.h", "include/varek/varek_ext.h", "include/varek/varek_ddg.h",
                   "include/varek/serial_port.h", "include/varek/exchange_report.h", "include/varek/export.h",
                   "python/varek/__init__.py", "README-windows.txt", "LICENSE", "SHA256SUMS", "openapi.json"]:
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


def test_the_zips_python_module_finds_the_zips_library_by_its_stated_rule(windows_tree):
    # The module as unpacked, asked where it looks on Windows: the first of
    # its places that exists must be the zip's own varek.dll. It loads a
    # library as it is imported, which here can only be a Linux one; the
    # variable that named it is gone before the module is asked.
    script = ("import os, varek; os.environ.pop('VAREK_LIBRARY'); here = os.path.dirname(varek.__file__); "
              "print([p for p in varek._library_candidates(here, 'win32') if os.path.exists(p)][0])")
    found = run("/usr/bin/python3", "-c", script,
                env={**os.environ, "PYTHONPATH": os.path.join(windows_tree, "python"),
                     "VAREK_LIBRARY": os.path.join(ROOT, "build", "linux", "bin", "libvarek.so")})
    assert os.path.samefile(found.strip(), os.path.join(windows_tree, "bin", "varek.dll"))
    readme = open(os.path.join(windows_tree, "README-windows.txt"), newline="").read()
    assert "beside itself, or in the bin folder" in readme
    assert "\r\n" in readme and "\n" not in readme.replace("\r\n", ""), "README-windows.txt has CRLF line ends"


def debug_sections(path, objdump="objdump"):
    return [line.split()[1] for line in run(objdump, "-h", path).splitlines()
            if len(line.split()) > 1 and line.split()[1].startswith(".debug")]


def test_release_binaries_are_stripped_and_their_debug_information_kept_beside_dist(windows_tree, deb_tree):
    windows_binaries = glob.glob(os.path.join(windows_tree, "bin", "*.dll")) + glob.glob(
        os.path.join(windows_tree, "bin", "*.exe"))
    linux_binaries = glob.glob(os.path.join(deb_tree, "usr", "bin", "*")) + glob.glob(
        os.path.join(deb_tree, "usr", "lib", "x86_64-linux-gnu", "libvarek.so.*.*"))
    with tarfile.open(os.path.join(DIST, LINUX_NAME + ".tar.gz")) as tarball:
        tar_tree = tempfile.mkdtemp()
        tarball.extractall(tar_tree)
    linux_binaries += glob.glob(os.path.join(tar_tree, LINUX_NAME, "bin", "*"))
    linux_binaries = [path for path in linux_binaries if open(path, "rb").read(4) == b"\x7fELF"]
    # varek.dll and three programs; the library and three programs in the .deb and in the tarball.
    assert len(windows_binaries) == 4 and len(linux_binaries) == 7
    for binary in windows_binaries:
        assert debug_sections(binary, "x86_64-w64-mingw32-objdump") == [], binary
    for binary in linux_binaries:
        assert debug_sections(binary) == [], binary

    debug_root = tempfile.mkdtemp()
    with zipfile.ZipFile(os.path.join(ROOT, "dist-debug", WINDOWS_NAME + "-debug.zip")) as archive:
        archive.extractall(debug_root)
    for binary in windows_binaries:
        debug = os.path.join(debug_root, WINDOWS_NAME + "-debug", os.path.basename(binary) + ".debug")
        assert ".debug_info" in debug_sections(debug, "x86_64-w64-mingw32-objdump"), debug
        with open(binary, "rb") as image:
            assert os.path.basename(debug).encode() + b"\0" in image.read(), f"{binary} names no debug file"
    with tarfile.open(os.path.join(ROOT, "dist-debug", LINUX_NAME + "-debug.tar.gz")) as tarball:
        tarball.extractall(debug_root)
    for binary in linux_binaries:
        build_id = re.search(r"Build ID: (\w+)", run("readelf", "-n", binary)).group(1)
        debug = os.path.join(debug_root, LINUX_NAME + "-debug", "usr", "lib", "debug", ".build-id", build_id[:2],
                             build_id[2:] + ".debug")
        assert ".debug_info" in debug_sections(debug), binary


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


def test_the_debs_are_split_as_debian_splits_a_library_and_hold_everything(deb_tree):
    usr = os.path.join(deb_tree, "usr")
    libdir = os.path.join(usr, "lib", "x86_64-linux-gnu")
    holds = {"libvarek1": [f"usr/lib/x86_64-linux-gnu/libvarek.so.{VERSION}", "usr/lib/x86_64-linux-gnu/libvarek.so.1"],
             "libvarek-dev": ["usr/lib/x86_64-linux-gnu/libvarek.so", "usr/include/varek/varek_ext.h",
                              "usr/lib/x86_64-linux-gnu/pkgconfig/varek.pc",
                              "usr/lib/x86_64-linux-gnu/cmake/varek/varekConfig.cmake"],
             "varek": ["usr/bin/varekctl", "usr/bin/varek-sim", "usr/bin/varek-server",
                       "usr/share/man/man1/varekctl.1.gz", "usr/lib/systemd/system/varek-server@.service",
                       "usr/share/doc/varek/examples/varek-server.conf", "usr/share/doc/varek/openapi.json"],
             "python3-varek": ["usr/lib/python3/dist-packages/varek/__init__.py",
                               f"usr/lib/python3/dist-packages/varek-{VERSION}.dist-info/entry_points.txt",
                               "usr/bin/varek-tango-server", "usr/share/man/man1/varek-tango-server.1.gz",
                               "usr/lib/systemd/system/varek-ioc@.service",
                               "usr/share/doc/python3-varek/examples/varek-ioc.conf"]}
    for package, architecture in DEB_PACKAGES.items():
        path = deb_path(package)
        fields = {field: run("dpkg-deb", "-f", path, field).strip() for field in ("Package", "Version",
                                                                                 "Architecture", "Depends")}
        assert (fields["Package"], fields["Version"], fields["Architecture"]) == (package, VERSION, architecture)
        if package != "libvarek1":
            assert f"libvarek1 (= {VERSION})" in fields["Depends"], package
        contents = run("dpkg-deb", "-c", path)
        for needed in holds[package] + [f"usr/share/doc/{package}/copyright"]:
            assert f"./{needed}" in contents, f"{package} lacks {needed}"
    assert "python3" in run("dpkg-deb", "-f", deb_path("python3-varek"), "Depends")
    assert "activate-noawait ldconfig" in run("dpkg-deb", "-I", deb_path("libvarek1"), "triggers")
    assert f"libvarek 1 libvarek1 (= {VERSION})" in run("dpkg-deb", "-I", deb_path("libvarek1"), "shlibs")
    dynamic = run("objdump", "-p", os.path.join(libdir, f"libvarek.so.{VERSION}"))
    assert "SONAME               libvarek.so.1" in dynamic


def test_lintian_finds_nothing_to_say_of_the_debs():
    result = subprocess.run(["lintian", "--tag-display-limit", "0", *map(deb_path, DEB_PACKAGES)],
                            capture_output=True, text=True, timeout=600)
    remarks = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    assert remarks == [] and result.returncode == 0, result.stdout + result.stderr


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


def test_the_deb_installed_with_apt_serves_a_users_pytest_suite_with_the_systems_pytest(tmp_path):
    apt_env = {**os.environ, "DEBIAN_FRONTEND": "noninteractive"}
    run("apt-get", "install", "-y", "-q", *map(deb_path, DEB_PACKAGES), env=apt_env)
    try:
        work = tmp_path / "lab"
        work.mkdir()
        shutil.copy(os.path.join(HERE, "acquisition_suite.py"), work / "test_acquisition.py")
        env = {key: value for key, value in os.environ.items() if not key.startswith(("VAREK_", "PYTHON"))}
        env.update(EXPECTED_VAREK_VERSION=VERSION, EXPECTED_VAREK_FOLDER="/usr/lib/python3/dist-packages/varek/")
        output = run("/usr/bin/python3", "-m", "pytest", "-q", "-p", "no:cacheprovider", "test_acquisition.py",
                     cwd=str(work), env=env)
        assert " passed" in output and "failed" not in output, output
        found = run("/usr/bin/python3", "-c", "import varek.testing; print(varek.testing._simulator_program())",
                    cwd=str(work), env=env)
        assert found.strip() == "/usr/bin/varek-sim"
        assert os.access("/usr/bin/varek-tango-server", os.X_OK)
        run("/usr/bin/python3", "-c", "import varek.tango", cwd=str(work), env=env)
        # The service template, for an instrument configured as the example shows.
        os.makedirs("/etc/varek", exist_ok=True)
        shutil.copy("/usr/share/doc/varek/examples/varek-server.conf", "/etc/varek/pkgtest.conf")
        shutil.copy("/usr/share/doc/python3-varek/examples/varek-ioc.conf", "/etc/varek/pkgtest-ioc.conf")
        try:
            for unit in ("varek-server@pkgtest.service", "varek-ioc@pkgtest.service"):
                verified = subprocess.run(["systemd-analyze", "verify", unit], capture_output=True, text=True,
                                          timeout=60)
                assert verified.returncode == 0 and verified.stderr == "", (unit, verified.stderr)
        finally:
            os.remove("/etc/varek/pkgtest.conf")
            os.remove("/etc/varek/pkgtest-ioc.conf")
            if not os.listdir("/etc/varek"):
                os.rmdir("/etc/varek")
    finally:
        run("apt-get", "purge", "-y", "-q", *DEB_PACKAGES, env=apt_env)


def test_man_pages_say_what_each_programs_help_says_and_the_docs_are_debians(deb_tree):
    with tarfile.open(os.path.join(DIST, LINUX_NAME + ".tar.gz")) as tarball:
        tar_names = set(tarball.getnames())
    programs = os.path.join(NATIVE_BUILD, "bin")
    for program in ("varekctl", "varek-sim", "varek-server"):
        page = os.path.join(deb_tree, "usr", "share", "man", "man1", program + ".1.gz")
        assert f"{LINUX_NAME}/share/man/man1/{program}.1.gz" in tar_names
        text = run("man", "-l", "-P", "cat", page, env={**os.environ, "MANWIDTH": "200", "LC_ALL": "C"})
        assert program in text and VERSION in text
        help_text = run(os.path.join(programs, program), "--help")
        for option in sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]+", help_text))):
            assert option in text, f"{program}.1 lacks {option}"
    doc = os.path.join(deb_tree, "usr", "share", "doc", "libvarek1")
    copyright_text = open(os.path.join(doc, "copyright")).read()
    assert copyright_text.startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/")
    with gzip.open(os.path.join(doc, "changelog.gz"), "rt") as changelog:
        assert changelog.readline().startswith(f"varek ({VERSION}) ")


def test_the_tarball_holds_the_install_tree():
    with tarfile.open(os.path.join(DIST, LINUX_NAME + ".tar.gz")) as archive:
        names = set(archive.getnames())
    for needed in ["bin/varekctl", "bin/varek-sim", "include/varek/varek.h", "share/doc/libvarek1/copyright",
                   "lib/x86_64-linux-gnu/libvarek.so.1", "lib/x86_64-linux-gnu/pkgconfig/varek.pc"]:
        assert f"{LINUX_NAME}/{needed}" in names, needed
