"""The wheel carries a compiled library and program but no Python extension:
tagged py3-none-PLATFORM, the platform given by VAREK_WHEEL_PLATFORM
(linux_x86_64, win_amd64), so that a Windows wheel can be made on Linux.
The library's file name comes from the build, through varek/_version.py."""
import os
import runpy

from setuptools import setup
from setuptools.dist import Distribution
from wheel.bdist_wheel import bdist_wheel

BUILT = runpy.run_path(os.path.join(os.path.dirname(os.path.abspath(__file__)), "varek", "_version.py"))


class BinaryDistribution(Distribution):
    """Platform-specific: the package holds a library for one platform."""

    def has_ext_modules(self):
        return True


class PlatformWheel(bdist_wheel):
    def get_tag(self):
        return "py3", "none", os.environ["VAREK_WHEEL_PLATFORM"]


setup(distclass=BinaryDistribution, cmdclass={"bdist_wheel": PlatformWheel},
      # The library and the simulator that scripts/package.sh puts beside the module.
      package_data={"varek": ["py.typed", "varek-sim", "varek-sim.exe", *BUILT["LIBRARY_FILES"].values()]})
