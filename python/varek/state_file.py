"""Where a device server keeps what it set: a setup document in a file,
replaced whole at each change (a temporary file made new beside it, flushed
to disk, renamed over the old), so that a crash leaves the old document or
the new, never half of one, and nothing planted beside the file is followed.
"""
import json
import os
import stat
import tempfile
from typing import Any, Dict

from . import check_setup

__all__ = ["StateFile", "StateFileError"]

# A setup document is small; more is something else.
_LARGEST = 1024 * 1024


class StateFileError(ValueError):
    """The state file cannot serve: the reason names the file and what is wrong with it."""


class StateFile:
    """The file where a device server keeps what was set, as one setup document,
    so that it survives a restart. Written whole through a temporary file of
    a name of its own, never through a link planted beside it."""

    def __init__(self, path: str):
        self.path = path

    def read(self) -> Dict[str, Any]:
        """The setup document the file holds, {"varek_setup": 1} when there is none yet."""
        try:
            info = os.lstat(self.path)
        except FileNotFoundError:
            return {"varek_setup": 1}
        # Replacing a link would replace the link, and a device (/dev/full) with a file:
        # neither is what an operator means.
        if stat.S_ISLNK(info.st_mode):
            raise StateFileError(f"state file {self.path} is a symbolic link: name the file it points to, "
                                 "or remove it")
        if not stat.S_ISREG(info.st_mode):
            raise StateFileError(f"state file {self.path} is not a regular file (a folder, a device?): name a file")
        if info.st_size > _LARGEST:
            raise StateFileError(f"state file {self.path} is larger than a setup can be: is it the right file?")
        with open(self.path, encoding="utf-8") as file:
            text = file.read()
        try:
            check_setup(text)
        except ValueError as refused:
            raise StateFileError(f"state file {self.path} is not a setup this program wrote: {refused} "
                                 "(move it away to start afresh)") from None
        return json.loads(text)

    def write(self, document: Dict[str, Any]) -> None:
        """Replaces the file with `document`; OSError, as the system names it, when it cannot."""
        folder = os.path.dirname(os.path.abspath(self.path))
        # mkstemp makes the file new (O_EXCL, never following a link) under a name of its own.
        handle, temporary = tempfile.mkstemp(prefix=os.path.basename(self.path) + ".", suffix=".tmp", dir=folder)
        try:
            with os.fdopen(handle, "w", encoding="utf-8") as file:
                json.dump(document, file, indent=2)
                file.write("\n")
                file.flush()
                os.fsync(file.fileno())
            os.chmod(temporary, 0o644)
            os.replace(temporary, self.path)
        except BaseException:
            if os.path.exists(temporary):
                os.unlink(temporary)
            raise
        # The rename itself lives in the folder.
        if hasattr(os, "O_DIRECTORY"):
            directory = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
            try:
                os.fsync(directory)
            finally:
                os.close(directory)
