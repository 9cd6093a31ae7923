"""A Tango control system for one test, as a facility runs it: Debian's
MariaDB (started here when it is not running, and stopped again), tango-db's
DataBaseds on a loopback port of its choosing as the tango user, with
TANGO_HOST naming it for this process and its children only."""
import os
import subprocess

from services import free_port, stop_process

DATABASE_SERVER = "/usr/lib/tango/DataBaseds"
# Where tango-db's configuration keeps the database user's credentials.
TANGO_HOME = "/var/lib/tango"


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=60, **options)


class TangoSystem:
    def __init__(self):
        self.started_mariadb = False
        if run("mariadb-admin", "ping").returncode != 0:
            started = run("service", "mariadb", "start")
            if started.returncode != 0:
                raise RuntimeError("MariaDB did not start: " + started.stdout + started.stderr)
            self.started_mariadb = True
        port = free_port()
        self.host = f"127.0.0.1:{port}"
        self.environment = {**os.environ, "TANGO_HOST": self.host}
        self.database = subprocess.Popen(
            ["runuser", "-u", "tango", "--", "env", f"HOME={TANGO_HOME}", DATABASE_SERVER, "2",
             "-ORBendPoint", f"giop:tcp:127.0.0.1:{port}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        ping = self.admin("--ping-database", "20")
        if ping.returncode != 0:
            self.stop()
            raise RuntimeError("DataBaseds did not answer: " + ping.stdout + ping.stderr)

    def admin(self, *args):
        """tango_admin with this system's TANGO_HOST."""
        return run("tango_admin", *args, env=self.environment)

    def stop(self):
        stop_process(self.database)
        self.database.stderr.close()
        if self.started_mariadb:
            run("service", "mariadb", "stop")
