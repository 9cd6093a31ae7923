"""The simulated instrument as the Python tests drive it: a varek-sim process
(its device, its control channel) or the control channel of one that
run_with_sim.sh started."""
import socket
import subprocess


class SimControl:
    """The control channel on 127.0.0.1:`port`: one command line, one answer."""

    # A simulator that stops answering fails the test waiting on it instead of hanging the run.
    ANSWER_WAIT_S = 20

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", int(port)), timeout=self.ANSWER_WAIT_S)
        self.replies = self.socket.makefile("r")

    def command(self, line):
        """The answer after "ok"; RuntimeError on any other answer."""
        self.socket.sendall((line + "\n").encode())
        try:
            answer = self.replies.readline().strip()
        except socket.timeout:
            raise RuntimeError(f"simulator gave no answer to '{line}' within {self.ANSWER_WAIT_S} s") from None
        if not answer.startswith("ok"):
            raise RuntimeError(f"simulator refused '{line}': {answer}")
        return answer[3:]

    def state(self):
        """The instrument's state, each value as its text."""
        return dict(word.split("=", 1) for word in self.command("state").split())

    def close(self):
        self.replies.close()
        self.socket.close()


class SimProcess:
    """varek-sim run as `command`: `device` is what the host opens, `control` its channel."""

    def __init__(self, command):
        # Stopped with the test however the test ends: its input is a pipe from here.
        self.process = subprocess.Popen(command + ["--stop-with-stdin"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        device = self.process.stdout.readline()
        control = self.process.stdout.readline()
        if not control.startswith("control "):
            self.process.kill()
            raise RuntimeError(f"varek-sim did not start: {device}{control}{self.process.stderr.read()}")
        self.device = device.split()[1]
        self.control = SimControl(control.split()[1])

    def stop(self):
        """Stops it (if it still runs); returns what it printed then (stdout, stderr)."""
        self.control.close()
        if self.process.poll() is None:
            self.process.terminate()
        return self.process.communicate(timeout=30)
