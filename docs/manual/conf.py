# The reference manual: task pages in Markdown (MyST), the Python API from its
# docstrings, the C and C++ API from Doxygen (copied in as c-api/), the
# programs' help. scripts/build-manual.sh runs it, warnings as errors.
import os
import sys

sys.path.insert(0, os.environ["VAREK_PYTHON_SOURCE"])

project = "varek"
author = "the varek developers"
copyright = "the varek developers, MIT licence"
release = version = os.environ["VAREK_VERSION"]
extensions = ["myst_parser", "sphinx.ext.autodoc"]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
root_doc = "index"
exclude_patterns = ["Doxyfile", "*.py"]
# The frameworks the adapters build on need not be here to read their docstrings.
autodoc_mock_imports = ["tango", "softioc", "epicsdbbuilder", "bluesky", "event_model", "ophyd_async", "qcodes", "numpy"]
autodoc_default_options = {"members": True, "show-inheritance": True}
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
html_theme = "alabaster"
html_extra_path = [os.environ["VAREK_DOXYGEN_HTML"]]
html_last_updated_fmt = None
html_show_sourcelink = False
myst_heading_anchors = 3
