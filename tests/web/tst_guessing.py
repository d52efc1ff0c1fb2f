#!/usr/bin/env python3
"""Password guessing against the built relo-web, from several loopback
addresses (127.0.0.N) as several clients would come from a home network.

    tst_guessing.py BIN_DIR
"""
import http.client
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

WAIT = 20
PASSWORD = "gizli parola "  # a blank at its end, as a file's line may have


class Server:
    """relo-web in a folder of the test's own, on a free loopback port, with a
    password file; the radio module's port is missing (no change is made)."""

    def __init__(self, bin_dir, mode=0o640, link=False):
        self.folder = tempfile.mkdtemp(prefix="relo-web-guessing-")
        for program in ("relo-web", "RELOKomut"):
            shutil.copy(os.path.join(bin_dir, program), self.folder)
        with open(os.path.join(self.folder, "ayar.ini"), "w") as f:
            f.write("[RELO]\nPortNumber=3\nPortData=0\n")
        self.password_file = os.path.join(self.folder, "parola")
        with open(self.password_file, "w") as f:
            f.write(PASSWORD + "\n")
        os.chmod(self.password_file, mode)
        given = self.password_file
        if link:
            given = os.path.join(self.folder, "bag")
            os.symlink(self.password_file, given)
        env = {k: v for k, v in os.environ.items() if not k.startswith("RELO_COM")}
        env["RELO_COM3"] = "/nonexistent/tty3"
        self.log = ""
        self.process = subprocess.Popen(
            [os.path.join(self.folder, "relo-web"), "--listen", "127.0.0.1:0",
             "--password-file", given], env=env, stderr=subprocess.PIPE, text=True)
        self.port = None
        started = threading.Event()

        def read():
            for line in self.process.stderr:
                self.log += line
                if "başladı: http://127.0.0.1:" in line:
                    self.port = int(line.split("127.0.0.1:")[1].split("/")[0])
                    started.set()
            started.set()

        self.reader = threading.Thread(target=read, daemon=True)
        self.reader.start()
        started.wait(WAIT)

    def request(self, source, method="GET", path="/api/state", body=None, password=None):
        """(status, headers, seconds) of one request from 127.0.0.`source`."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=WAIT,
                                                source_address=("127.0.0.%d" % source, 0))
        headers = {"Authorization": "Bearer " + password} if password is not None else {}
        start = time.monotonic()
        try:
            connection.request(method, path, body=body, headers=headers)
            answer = connection.getresponse()
            answer.read()
            return answer.status, dict(answer.getheaders()), time.monotonic() - start
        finally:
            connection.close()

    def parallel(self, sources, password):
        """(status, Retry-After) of one request from each of `sources`, all at once."""
        statuses = []
        lock = threading.Lock()

        def one(source):
            try:
                status, headers, _ = self.request(source, password=password)
            except ConnectionError:  # closed unread: over the cap on one address's connections
                status, headers = 0, {}
            with lock:
                statuses.append((status, int(headers.get("Retry-After", "0"))))

        threads = [threading.Thread(target=one, args=(s,)) for s in sources]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(WAIT)
        return statuses

    def stop(self):
        self.process.terminate()
        status = self.process.wait(WAIT)
        self.reader.join(WAIT)
        shutil.rmtree(self.folder, ignore_errors=True)
        return status


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def suite(bin_dir):
    server = Server(bin_dir)
    check(server.port, "relo-web başlamadı (0640 parola dosyasıyla):\n" + server.log)
    try:
        # A right password after wrong ones waits as a wrong one would: the
        # second wrong one is held 250 ms, the next check 500 ms after that.
        check(server.request(2, password="yanlis")[0] == 401, "ilk yanlış parola")
        sent = time.monotonic()
        check(server.request(2, "POST", "/api/login", body="yanlis2")[0] == 401, "login")
        status = server.request(2, password=PASSWORD)[0]
        waited = time.monotonic() - sent
        check(status == 200 and waited >= 0.7, "doğru parola %d, %.3f s" % (status, waited))
        # Right again: no delay left, through the login as through the header.
        status, headers, _ = server.request(2, "POST", "/api/login", body=PASSWORD)
        check(status == 204 and "relo_session" in headers.get("Set-Cookie", ""), "oturum")

        # 32 guesses at once from one address: one is held and checked, the
        # rest are refused unchecked.
        check(server.request(3, password="yanlis")[0] == 401, "yanlış parola")
        answers = server.parallel([3] * 32, "yanlis")
        refused = [retry for status, retry in answers if status == 429]
        unchecked = len(refused) + [status for status, _ in answers].count(0)
        check(len(answers) == 32 and unchecked >= 30 and min(refused, default=1) >= 1, str(answers))

        # Address 4 is delayed; wrong passwords from 60 others spend the budget
        # of all clients, and neither frees address 4.
        for _ in range(3):
            sent = time.monotonic()
            check(server.request(4, password="yanlis")[0] == 401, "yanlış parola")
        statuses = [status for status, _ in server.parallel(range(10, 70), "yanlis")]
        check(statuses.count(401) <= 30 and statuses.count(429) >= 30, str(sorted(statuses)))
        status = server.request(4, password=PASSWORD)[0]
        waited = time.monotonic() - sent
        check(status == 429 or waited >= 0.95, "4 serbest kaldı: %d, %.3f s" % (status, waited))
    finally:
        check(server.stop() == 0, "relo-web durmadı:\n" + server.log)
    # One line a minute per address, not one per try.
    lines = [line for line in server.log.splitlines() if line.startswith("Yanlış parola")]
    addresses = [line.split()[2] for line in lines]
    check(len(set(addresses)) == len(addresses) and "127.0.0.3" in addresses, "\n".join(lines))

    # A password file that everyone may read is refused, through a link too;
    # the line names the file and the remedy.
    for link in (False, True):
        server = Server(bin_dir, mode=0o644, link=link)
        status = server.process.poll() if server.port else server.process.wait(WAIT)
        given = os.path.join(server.folder, "bag" if link else "parola")
        server.stop()
        check(status == 2 and server.log.count("\n") == 1 and
              server.log.endswith("chmod 600 %s)\n" % given), "%d %s" % (status, server.log))


if __name__ == "__main__":
    suite(sys.argv[1])
    print("PASS")
