"""The wheel carries a compiled library and program but no Python extension:
tagged py3-none-PLATFORM, the platform given by VAREK_WHEEL_PLATFORM
(linux_x86_64, win_amd64), so that a Windows wheel can be made on Linux."""
import os

from setuptools import setup
from setuptools.dist import Distribution
from wheel.bdist_wheel import bdist_wheel


class BinaryDistribution(Distribution):
    """Platform-specific: the package holds a library for one platform."""

    def has_ext_modules(self):
        return True


class PlatformWheel(bdist_wheel):
    def get_tag(self):
        return "py3", "none", os.environ["VAREK_WHEEL_PLATFORM"]


setup(distclass=BinaryDistribution, cmdclass={"bdist_wheel": PlatformWheel})
