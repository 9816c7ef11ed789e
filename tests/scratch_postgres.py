"""A PostgreSQL of a test's own: made in a scratch folder with initdb, run by an unprivileged
user (PostgreSQL refuses root) on a free port of this machine, stopped and removed at exit.
Where PostgreSQL is not installed, `missing()` says so: the test is then skipped (status 77),
but fails under CI=true, where it must run. Run as a program, for tests in other languages: it
prints the base of its databases' URIs, and stops and removes it on SIGTERM or once its parent
has gone."""
import atexit, glob, os, shutil, signal, socket, subprocess, sys, tempfile, time

SKIPPED = 77
NOBODY = 65534


def binaries():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
    return os.path.dirname(found[-1]) if found else None


def missing():
    """Exits when PostgreSQL is not here: skipped (77), or failed under CI=true."""
    if binaries():
        return
    print("PostgreSQL (Debian's postgresql) is not installed: the test cannot run")
    sys.exit(1 if os.environ.get("CI") == "true" else SKIPPED)


class ScratchPostgres:
    def __init__(self):
        self.bin = binaries()
        self.folder = tempfile.mkdtemp(prefix="numoteka_pg_")
        self.data = os.path.join(self.folder, "data")
        os.makedirs(self.data)
        self.user = []
        if os.getuid() == 0:
            os.chmod(self.folder, 0o755)
            os.chown(self.data, NOBODY, NOBODY)
            self.user = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]
        self.run("initdb", "-D", self.data, "-U", "numoteka", "--auth=trust", "-E", "UTF8", "--no-sync")
        atexit.register(self.remove)
        self.start()

    def run(self, program, *args, check=True):
        return subprocess.run(self.user + [os.path.join(self.bin, program), *args], check=check,
                              capture_output=True, text=True, cwd="/")

    def start(self):
        """Starts the server, on a port of its own the first time and the same one after."""
        for _ in range(20):
            if not hasattr(self, "port"):
                with socket.socket() as probe:
                    probe.bind(("127.0.0.1", 0))
                    self.port = probe.getsockname()[1]
            started = self.run("pg_ctl", "-D", self.data, "-w", "-t", "120", "-l", os.path.join(self.data, "log"),
                               "-o", "-p %d -c listen_addresses=127.0.0.1 -c unix_socket_directories=''" % self.port,
                               "start", check=False)
            if started.returncode == 0:
                return
            del self.port  # taken meanwhile: another
            time.sleep(0.1)
        raise SystemExit("PostgreSQL does not start:\n" + open(os.path.join(self.data, "log")).read())

    def stop(self):
        self.run("pg_ctl", "-D", self.data, "-w", "-m", "fast", "stop", check=False)

    def database(self, name):
        """The URI of a new, empty database."""
        self.sql("postgres", "CREATE DATABASE %s" % name)
        return self.uri(name)

    def uri(self, name):
        return "postgresql://numoteka@127.0.0.1:%d/%s" % (self.port, name)

    def sql(self, database, statement):
        """Rows of a statement's answer, each a list of texts (bytes as hex)."""
        shown = subprocess.run(["psql", "-X", "-At", "-F", "\t", "-v", "ON_ERROR_STOP=1",
                                database if "://" in database else self.uri(database), "-c", statement],
                               check=True, capture_output=True, text=True).stdout
        return [line.split("\t") for line in shown.splitlines()]

    def remove(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


if __name__ == "__main__":
    missing()
    parent = os.getppid()
    postgres = ScratchPostgres()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print(postgres.uri(""), flush=True)
    while os.getppid() == parent:
        time.sleep(0.2)
