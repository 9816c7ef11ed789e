"""What the server's tests share: a scratch folder of their own, the processes they start
(killed at exit, whatever ends the test), a bound on the whole test's time (a test that waits
for ever on a server fails rather than hanging its runner), and the failures they gather."""
import atexit, os, re, shutil, signal, subprocess, sys, tempfile, time


class TestRun:
    def __init__(self, name, seconds):
        self.name = name
        self.scratch = tempfile.mkdtemp(prefix="numoteka_%s_" % name)
        self.started = []
        self.failures = []
        atexit.register(self.clean_up)
        signal.signal(signal.SIGALRM, self.give_up)
        signal.alarm(seconds)

    def clean_up(self):
        for process in self.started:
            if process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(self.scratch, ignore_errors=True)

    def give_up(self, *_):
        print("%s: the test took too long; stopped" % self.name, flush=True)
        self.clean_up()
        os._exit(1)

    def start_server(self, command, log, user=None, env=None):
        """Starts a server (`command` gives it --port 0), its standard error added to the file
        `log`, as the user id `user` if given. Its `origin` is "http://address:port" once it
        listens, None if it ended at start."""
        at = os.path.getsize(log) if os.path.exists(log) else 0
        prefix = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] if user else []
        server = subprocess.Popen(prefix + command, stderr=open(log, "ab"), env=env)
        self.started.append(server)
        while True:
            said = open(log, "rb").read()[at:].decode(errors="replace")
            if found := re.search(r"listening on (http://\S+)/", said):
                server.origin = found.group(1)
                return server
            if server.poll() is not None:
                server.origin = None
                return server
            time.sleep(0.02)

    def check(self, ok, what):
        if not ok:
            self.failures.append(what)

    def finish(self):
        print("\n".join(self.failures) or "%s: all checks passed" % self.name)
        sys.exit(1 if self.failures else 0)
