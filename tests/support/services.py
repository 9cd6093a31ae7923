"""Services a test starts: a free loopback port for one, and stopping it."""
import socket
import subprocess


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def stop_process(process, timeout=10):
    """SIGTERM, then SIGKILL when `process` has not ended within `timeout` s."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
