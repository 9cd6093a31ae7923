"""The ARM artifacts that scripts/package.sh wrote to dist/, as a lab's ARM
box would take them: the arm64 and armhf Debian packages (split as the amd64
ones are, every binary built for the target and stripped, lintian clean), and
their programs run from the unpacked packages under qemu-user, whose root
(-L) is then the unpacked tree, as if installed: varekctl drives the
packaged simulator on a pty, varek-server serves it over HTTP. The tarballs,
and the aarch64 wheel, whose library the arm64 C host drives against the
wheel's own simulator."""
import glob
import json
import os
import re
import subprocess
import sys
import tarfile
import urllib.request
import zipfile

import pytest

from release import DIST, ROOT, VERSION
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from server_process import SlowInstrument  # noqa: E402
from sim_process import SimProcess  # noqa: E402

# Debian architecture: (multiarch triple, tarball's CPU name, readelf's machine, qemu-user program).
TARGETS = {"arm64": ("aarch64-linux-gnu", "aarch64", "AArch64", "qemu-aarch64"),
           "armhf": ("arm-linux-gnueabihf", "armhf", "ARM", "qemu-arm")}
ARCH_PACKAGES = ["libvarek1", "libvarek-dev", "varek"]


def run(*command, **options):
    result = subprocess.run(command, capture_output=True, text=True, timeout=300, **options)
    assert result.returncode == 0, f"{command} failed:\n{result.stdout}\n{result.stderr}"
    return result.stdout


def deb(package, architecture):
    return os.path.join(DIST, f"{package}_{VERSION}_{architecture}.deb")


def listing(path):
    """The paths a package installs (directories left out)."""
    return {line.split()[-1] for line in run("dpkg-deb", "-c", path).splitlines() if not line.startswith("d")}


def elf_files(folder):
    found = []
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            if not os.path.islink(path) and open(path, "rb").read(4) == b"\x7fELF":
                found.append(path)
    return sorted(found)


def section_names(path):
    return re.findall(r"\]\s+(\.\S+)", run("readelf", "-S", "-W", path))


@pytest.fixture(scope="module", params=sorted(TARGETS))
def target(request, tmp_path_factory):
    """An architecture, with its three packages unpacked into one tree, as installed."""
    architecture = request.param
    tree = str(tmp_path_factory.mktemp(architecture))
    for package in ARCH_PACKAGES:
        run("dpkg", "-x", deb(package, architecture), tree)
    return architecture, tree


def test_the_arm_packages_are_the_amd64_split_with_the_targets_binaries(target):
    architecture, tree = target
    triple, _, machine, _ = TARGETS[architecture]
    for package in ARCH_PACKAGES:
        path = deb(package, architecture)
        fields = {field: run("dpkg-deb", "-f", path, field).strip() for field in ("Package", "Version",
                                                                                 "Architecture", "Depends")}
        assert (fields["Package"], fields["Version"], fields["Architecture"]) == (package, VERSION, architecture)
        if package != "libvarek1":
            assert f"libvarek1 (= {VERSION})" in fields["Depends"], package
        if package != "libvarek-dev":
            # Read by dpkg-shlibdeps from the target's own runtime packages.
            assert "libc6 (>=" in fields["Depends"] and "libstdc++6 (>=" in fields["Depends"], fields
        # The same files as the amd64 package, in the target's multiarch folder.
        native = {name.replace("x86_64-linux-gnu", triple) for name in listing(deb(package, "amd64"))}
        assert listing(path) == native, package
    assert f"libvarek 1 libvarek1 (= {VERSION})" in run("dpkg-deb", "-I", deb("libvarek1", architecture), "shlibs")
    binaries = elf_files(tree)
    # The library and varekctl, varek-sim, varek-server.
    assert len(binaries) == 4, binaries
    for binary in binaries:
        assert re.search(rf"Machine:\s+{machine}\b", run("readelf", "-h", binary)), binary
        assert not any(name.startswith(".debug") for name in section_names(binary)), f"{binary} is not stripped"
    assert "Library soname: [libvarek.so.1]" in run("readelf", "-d", os.path.join(tree, "usr", "lib", triple,
                                                                                  f"libvarek.so.{VERSION}"))


def test_lintian_finds_nothing_to_say_of_the_arm_packages(target):
    architecture, _ = target
    result = subprocess.run(["lintian", "--tag-display-limit", "0",
                             *(deb(package, architecture) for package in ARCH_PACKAGES)],
                            capture_output=True, text=True, timeout=600)
    remarks = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
    assert remarks == [] and result.returncode == 0, result.stdout + result.stderr


def test_the_packaged_varekctl_drives_the_packaged_simulator_under_emulation(target):
    architecture, tree = target
    emulator = [TARGETS[architecture][3], "-L", tree]
    usr_bin = os.path.join(tree, "usr", "bin")
    sim = SimProcess(emulator + [os.path.join(usr_bin, "varek-sim")])
    try:
        varekctl = [*emulator, os.path.join(usr_bin, "varekctl"), "--port", sim.device]
        run(*varekctl, "delay", "3", "12345")
        run(*varekctl, "fire")
        state = sim.control.state()
        assert (state["delay3"], state["fired"]) == ("1234500", "1"), state
        status = json.loads(run(*varekctl, "--json", "status", "3"))
        assert status["channels"][0]["delay"] == 12345, status
    finally:
        sim.stop()


def test_the_packaged_server_serves_the_instrument_under_emulation(target):
    architecture, tree = target
    emulator = [TARGETS[architecture][3], "-L", tree]
    usr_bin = os.path.join(tree, "usr", "bin")
    instrument = SlowInstrument(os.path.join(usr_bin, "varek-server"), os.path.join(usr_bin, "varek-sim"), 0,
                                prefix=emulator, sim_prefix=emulator)
    try:
        base = f"http://127.0.0.1:{instrument.port}/api/v1"
        fired = urllib.request.Request(base + "/fire", method="POST")
        with urllib.request.urlopen(fired, timeout=30) as answer:
            assert answer.status == 200
        with urllib.request.urlopen(base + "/instrument", timeout=30) as answer:
            assert len(json.load(answer)["channels"]) == 8
        assert instrument.fired() == 1
        with urllib.request.urlopen(base + "/openapi.json", timeout=30) as answer:
            assert json.load(answer)["info"]["version"] == VERSION
    finally:
        code, errors = instrument.stop()
    assert code == 0, errors


def test_the_arm_tarballs_hold_the_install_tree_and_their_debug_information_is_kept():
    for architecture, (triple, cpu, machine, _) in TARGETS.items():
        name = f"varek-{VERSION}-linux-{cpu}"
        with tarfile.open(os.path.join(DIST, name + ".tar.gz")) as archive:
            names = set(archive.getnames())
        for needed in ["bin/varekctl", "bin/varek-sim", "bin/varek-server", "include/varek/varek.h",
                       f"lib/{triple}/libvarek.so.1", f"lib/{triple}/pkgconfig/varek.pc",
                       "share/man/man1/varekctl.1.gz"]:
            assert f"{name}/{needed}" in names, (architecture, needed)
        with tarfile.open(os.path.join(ROOT, "dist-debug", name + "-debug.tar.gz")) as archive:
            debug = [member.name for member in archive.getmembers() if member.name.endswith(".debug")]
        assert len(debug) == 4, debug


def test_the_aarch64_wheel_carries_a_library_the_arm64_c_host_drives_against_its_simulator(tmp_path):
    (path,) = glob.glob(os.path.join(DIST, f"varek-{VERSION}-py3-none-manylinux_2_*_aarch64.whl"))
    with zipfile.ZipFile(path) as archive:
        archive.extractall(tmp_path)
        assert re.search(r"^Tag: py3-none-manylinux_2_\d+_aarch64$",
                         archive.read(f"varek-{VERSION}.dist-info/WHEEL").decode(), re.M)
    package = tmp_path / "varek"
    library, sim = str(package / "libvarek.so.1"), str(package / "varek-sim")
    for binary in (library, sim):
        assert re.search(r"Machine:\s+AArch64\b", run("readelf", "-h", binary)), binary
    os.chmod(sim, 0o755)
    c_host = os.path.join(ROOT, "build", "linux-arm64", "bin", "c_host")
    output = run("bash", os.path.join(ROOT, "tests", "run_with_sim.sh"), "--sim", sim, "--sim-emulator",
                 "qemu-aarch64", "--", "qemu-aarch64", c_host, library,
                 env={**os.environ, "VAREK_MISSING_C_PORT": "/dev/varek-no-such-port"})
    assert re.search(r"\b\d+ passed, 0 failed", output), output
