#!/usr/bin/env python3
"""FastAGI benchmark, side by side over plain HTTP and over TLS to the
back-office simulator: ivr-orvel run process per call, served by the FastAGI
service with a process forked per call (--calls-per-process 1), and by its
pool of call processes (per-call CPU, wall time, new back-office connections
per call, which over TLS are full handshakes). Then the pool beside its
floor, bench-pool-floor: the sample call's I/O recorded once through a proxy
and replayed by pre-forked workers (CPU of each side from a cgroup of its
own, rounds interleaved, one call at a time and 20 at a time). Then a burst
of calls spread over some seconds at the pool, and the service's memory with
many calls in progress. `--only held` alone: the processes, threads,
descriptors and memory (PSS) each call held in its middle adds to the
service (what the unit's TasksMax and LimitNOFILE follow from).

Usage: bench/fastagi_bench.py [--build DIR] [--calls N] [--burst N] [--seconds S]
                              [--max-calls N] [--cpu-target-ms MS] [--held N]
                              [--floor-rounds N] [--floor-calls N] [--only pool-floor|held]

Everything runs on 127.0.0.1 against the back-office simulator with the
example customers. Exit status 0 when every check holds, 1 otherwise.
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CALLER = "11987654321"  # CL-5001: connected, open invoice
EXPECTED_GOTO = "EXEC Goto ivr-exits,50011,1"  # invoice sent
CALL_DEADLINE = 30.0
TICKS = os.sysconf("SC_CLK_TCK")


def reply(command):
    if command.startswith("VERBOSE"):
        return b"200 result=1\n"
    if command.startswith("GET DATA "):
        return b"200 result=1\n" if "Orvel-u4-33 " in command else b"200 result= (timeout)\n"
    return b"200 result=0\n"


def startup_block(unique_id, arguments, network):
    lines = []
    if network:
        lines += ["agi_network: yes", "agi_network_script: ivr-orvel",
                  "agi_request: agi://127.0.0.1:4573/ivr-orvel"]
    else:
        lines.append("agi_request: ivr-orvel")
    lines += ["agi_channel: PJSIP/trunk-%s" % unique_id.replace(".", ""), "agi_language: pt_BR",
              "agi_type: PJSIP", "agi_uniqueid: " + unique_id, "agi_version: 22.10.1",
              "agi_callerid: " + CALLER, "agi_calleridname: unknown", "agi_callingpres: 0",
              "agi_callingani2: 0", "agi_callington: 0", "agi_callingtns: 0", "agi_dnid: unknown",
              "agi_rdnis: unknown", "agi_context: ivr-entry", "agi_extension: s", "agi_priority: 1",
              "agi_enhanced: 0.0", "agi_accountcode: ", "agi_threadid: 140670997956288"]
    lines += ["agi_arg_%d: %s" % (index + 1, value) for index, value in enumerate(arguments)]
    return ("\n".join(lines) + "\n\n").encode()


def converse(read, write, deadline):
    """Plays Asterisk until the program closes; returns the commands."""
    commands, pending = [], b""
    while time.monotonic() < deadline:
        chunk = read()
        if not chunk:
            break
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            command = line.decode(errors="replace")
            commands.append(command)
            write(reply(command))
    return commands


def last_goto(commands):
    gotos = [command for command in commands if command.startswith("EXEC Goto ")]
    return gotos[-1] if gotos else ""


class Call:
    def __init__(self, unique_id):
        self.unique_id = unique_id
        self.commands = []
        self.wall = 0.0
        self.cpu = 0.0
        self.error = ""


def process_call(ivr, configuration, unique_id):
    call = Call(unique_id)
    started = time.monotonic()
    child = subprocess.Popen([ivr, "atendimento", configuration], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    child.stdin.write(startup_block(unique_id, ["atendimento", configuration], False))
    child.stdin.flush()

    def send(data):
        try:
            child.stdin.write(data)
            child.stdin.flush()
        except BrokenPipeError:
            pass

    call.commands = converse(lambda: os.read(child.stdout.fileno(), 65536), send, started + CALL_DEADLINE)
    child.stdin.close()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    call.wall = time.monotonic() - started
    call.cpu = usage.ru_utime + usage.ru_stime
    if child.returncode != 0:
        call.error = "exit status %d" % child.returncode
    return call


def fastagi_call(port, configuration, unique_id):
    call = Call(unique_id)
    started = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=CALL_DEADLINE) as connection:
            connection.sendall(startup_block(unique_id, ["atendimento", configuration], True))
            call.commands = converse(lambda: connection.recv(65536), connection.sendall,
                                     started + CALL_DEADLINE)
    except OSError as error:
        call.error = str(error)
    call.wall = time.monotonic() - started
    if not call.commands and not call.error:
        call.error = "refused (closed without a command)"
    return call


def process_cpu_seconds(pid):
    """utime + stime + cutime + cstime of a process, reaped children included."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return sum(int(value) for value in fields[11:15]) / TICKS


def children_of(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as children:
            return [int(child) for child in children.read().split()]
    except OSError:
        return []


def tree_cpu_seconds(pid):
    """CPU of a service and of its call processes, live or reaped."""
    return process_cpu_seconds(pid) + sum(process_cpu_seconds(child) for child in children_of(pid))


def tree_pss_kib(pid):
    """Proportional set size of a service and its call processes (shared pages counted once)."""
    total = 0
    for member in [pid] + children_of(pid):
        try:
            with open("/proc/%d/smaps_rollup" % member) as rollup:
                for line in rollup:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def has_children(pid):
    return bool(children_of(pid))


def wait_for(predicate, seconds):
    limit = time.monotonic() + seconds
    while time.monotonic() < limit:
        if predicate():
            return True
        time.sleep(0.01)
    return predicate()


def start_listening(argv, pattern, log_path, stdout_log, meter=None):
    log = open(log_path, "wb")
    process = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                               stdout=log if stdout_log else subprocess.DEVNULL, stderr=log,
                               preexec_fn=meter.enter if meter else None)
    if meter:
        meter.pid = process.pid
    found = []

    def listening():
        with open(log_path, errors="replace") as text:
            match = re.search(pattern, text.read())
        if match:
            found.append(int(match.group(1)))
        return bool(found) or process.poll() is not None

    wait_for(listening, 20)
    if not found:
        process.kill()
        raise SystemExit("fastagi_bench: %s did not start (see %s)" % (argv[0], log_path))
    return process, found[0]


class CpuMeter:
    """CPU of a process and of everything it starts, threads and processes
    that have ended included, from a cgroup of its own (cpuacct, nanoseconds)
    where this machine lets the benchmark make one; else from /proc, where a
    process's time comes in clock ticks and that of ended call processes only
    once they are reaped."""

    ROOTS = ("/sys/fs/cgroup/cpuacct", "/sys/fs/cgroup/cpu,cpuacct")
    source = ""

    def __init__(self, name):
        self.path = None
        for root in self.ROOTS:
            path = os.path.join(root, "fastagi-bench-%d-%s" % (os.getpid(), name))
            try:
                os.mkdir(path)
            except OSError:
                continue
            self.path = path
            break
        self.pid = None
        CpuMeter.source = ("a cgroup of each side (cpuacct)" if self.path else
                           "/proc (clock ticks; no cgroup could be made)")

    def enter(self):
        """For Popen's preexec_fn: the new process joins the group."""
        if self.path:
            with open(os.path.join(self.path, "cgroup.procs"), "w") as procs:
                procs.write("0")

    def seconds(self):
        if self.path:
            with open(os.path.join(self.path, "cpuacct.usage")) as usage:
                return int(usage.read()) / 1e9
        return tree_cpu_seconds(self.pid)

    def close(self):
        if self.path:
            wait_for(lambda: not open(os.path.join(self.path, "cgroup.procs")).read().strip(), 10)
            try:
                os.rmdir(self.path)
            except OSError:
                pass


def summary(label, calls, cpu_ms=None, connections=None):
    walls = sorted(call.wall * 1000 for call in calls)
    median = walls[len(walls) // 2] if walls else 0
    cpu = cpu_ms if cpu_ms is not None else sum(call.cpu for call in calls) * 1000 / max(1, len(calls))
    print("  %-28s %5d  %8.2f  %8.1f  %8.1f  %s" %
          (label, len(calls), cpu, median, walls[int(len(walls) * 0.95) - 1] if walls else 0,
           "%9.2f" % connections if connections is not None else "        -"))
    return cpu


def problems_of(calls):
    found = []
    for call in calls:
        if call.error:
            found.append("call %s: %s" % (call.unique_id, call.error))
        elif last_goto(call.commands) != EXPECTED_GOTO:
            found.append("call %s: last Goto %r" % (call.unique_id, last_goto(call.commands)))
    return found


def journal_lines(path):
    with open(path, errors="replace") as journal:
        return [line for line in journal if line.strip()]


def sim_stats(port, tls):
    """The simulator's counters (connections accepted, requests)."""
    request = b"GET /_sim/stats HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
    raw = socket.create_connection(("127.0.0.1", port), timeout=10)
    if tls:
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        raw = context.wrap_socket(raw)
    with raw as connection:
        connection.sendall(request)
        answer = b""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                break
            answer += chunk
    return json.loads(answer.split(b"\r\n\r\n", 1)[1])


def make_certificates(work):
    """A throwaway CA and a certificate for 127.0.0.1 signed by it."""
    def openssl(*arguments):
        subprocess.run(["openssl"] + list(arguments), check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    path = lambda name: os.path.join(work, name)
    curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *curve, "-keyout", path("ca.key"), "-out", path("ca.pem"), "-days", "2",
            "-subj", "/CN=bench CA")
    openssl("req", *curve, "-keyout", path("sim.key"), "-out", path("sim.csr"), "-subj", "/CN=127.0.0.1")
    with open(path("sim.ext"), "w") as ext:
        ext.write("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", path("sim.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
            "-CAcreateserial", "-out", path("sim.pem"), "-days", "2", "-extfile", path("sim.ext"))
    return path("ca.pem"), path("sim.pem"), path("sim.key")


class Rig:
    """The simulator (plain or TLS) and a configuration pointing at it."""

    def __init__(self, work, sim, tls, certificates):
        self.work, self.tls = work, tls
        name = "https" if tls else "http"
        self.journal = os.path.join(work, name + "-journal.jsonl")
        argv = [sim, "--port", "0", "--data", os.path.join(ROOT, "examples/backoffice/customers.json"),
                "--token", "change-me", "--journal", self.journal, "--recall-window", "0",
                # A thread per open connection: pooled processes keep two each
                # and the floor's workers one, all at once.
                "--threads", "256"]
        if tls:
            argv += ["--tls-cert", certificates[1], "--tls-key", certificates[2]]
        self.process, self.port = start_listening(argv, r"listening on 127\.0\.0\.1:(\d+)",
                                                  os.path.join(work, name + "-sim.log"), True)
        with open(os.path.join(ROOT, "examples/config/orvel.json")) as source:
            config = json.load(source)
        config["kestro"] = "%s://127.0.0.1:%d" % (name, self.port)
        config["debug"] = os.path.join(work, "ivr-debug.log")
        if tls:
            config["verifyTls"] = True
            config["caFile"] = certificates[0]
        self.configuration = os.path.join(work, name + "-orvel.json")
        with open(self.configuration, "w") as target:
            json.dump(config, target)

    def connections(self):
        return sim_stats(self.port, self.tls)["connections"]

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=40)
        except subprocess.TimeoutExpired:
            self.process.kill()


def start_service(ivr, work, name, extra, max_calls, meter=None):
    log = os.path.join(work, name + ".log")
    service, port = start_listening([ivr, "--fastagi", "127.0.0.1:0", "--max-calls", str(max_calls)] + extra,
                                    r"fastagi: listening on 127\.0\.0\.1:(\d+)", log, False, meter)
    return service, port, log


def stop_service(service):
    service.send_signal(signal.SIGTERM)
    try:
        service.wait(timeout=40)
    except subprocess.TimeoutExpired:
        service.kill()


def measure_service(label, rig, service, port, calls, tag, pooled):
    """Sequential warm calls: service CPU per call (call processes included) and
    new back-office connections per call."""
    # Enough calls that every process started ahead has served some.
    warm = [fastagi_call(port, rig.configuration, "%s.w%d" % (tag, index)) for index in range(10)]
    # A forked call's process is reaped a moment after its call; pooled ones stay.
    settled = lambda: pooled or not children_of(service.pid)
    wait_for(settled, 10)
    connections_before = rig.connections()
    cpu_before = tree_cpu_seconds(service.pid)
    measured = [fastagi_call(port, rig.configuration, "%s.%d" % (tag, index)) for index in range(calls)]
    wait_for(settled, 10)
    cpu = (tree_cpu_seconds(service.pid) - cpu_before) * 1000 / calls
    # The stats request itself is one connection.
    connections = (rig.connections() - connections_before - 1) / calls
    summary(label, measured, cpu, connections)
    return cpu, connections, problems_of(warm + measured)


class RecordingProxy:
    """Stands between the IVR and the simulator and notes every HTTP request
    the IVR sends (its bytes, split by headers and Content-Length) with the
    time it was complete."""

    def __init__(self, target_port):
        self.target_port = target_port
        self.requests = []  # (time, bytes)
        self.lock = threading.Lock()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(("127.0.0.1", self.target_port))
            threading.Thread(target=self.relay, args=(client, server, True), daemon=True).start()
            threading.Thread(target=self.relay, args=(server, client, False), daemon=True).start()

    def relay(self, source, target, requests):
        pending = b""
        while True:
            try:
                chunk = source.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                try:
                    target.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                return
            if requests:
                pending += chunk
                while b"\r\n\r\n" in pending:
                    head = pending.split(b"\r\n\r\n", 1)[0]
                    match = re.search(rb"(?im)^content-length:\s*(\d+)", head)
                    size = len(head) + 4 + (int(match.group(1)) if match else 0)
                    if len(pending) < size:
                        break
                    with self.lock:
                        self.requests.append((time.monotonic(), pending[:size]))
                    pending = pending[size:]
            target.sendall(chunk)

    def close(self):
        self.listener.close()


def record_call(ivr, rig, work):
    """Runs the sample call once through a recording proxy and writes the
    floor's script: its AGI command lines and HTTP requests in the order they
    happened."""
    proxy = RecordingProxy(rig.port)
    with open(rig.configuration) as source:
        config = json.load(source)
    config["kestro"] = "http://127.0.0.1:%d" % proxy.port
    configuration = os.path.join(work, "recorded-orvel.json")
    with open(configuration, "w") as target:
        json.dump(config, target)
    started = time.monotonic()
    child = subprocess.Popen([ivr, "atendimento", configuration], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    child.stdin.write(startup_block("1796795000.1", ["atendimento", configuration], False))
    child.stdin.flush()
    lines = []

    def send(data):
        lines.append(time.monotonic())
        try:
            child.stdin.write(data)
            child.stdin.flush()
        except BrokenPipeError:
            pass

    commands = converse(lambda: os.read(child.stdout.fileno(), 65536), send, started + CALL_DEADLINE)
    child.stdin.close()
    child.wait()
    # What the call left behind may still be sending its records.
    wait_for(lambda: len(proxy.requests) >= 14, 5)
    time.sleep(0.2)
    proxy.close()
    steps = [(at, b"A", (command + "\n").encode()) for at, command in zip(lines, commands)]
    with proxy.lock:
        steps += [(at, b"H", request) for at, request in proxy.requests]
    steps.sort(key=lambda step: step[0])
    script = os.path.join(work, "recorded-call.script")
    with open(script, "wb") as target:
        for _, kind, data in steps:
            target.write(kind + b" %d\n" % len(data) + data)
    return script, len(commands), len(proxy.requests)


def start_floor(build, work, name, rig, script, certificates, workers, meter):
    argv = [os.path.join(build, "bench/bench-pool-floor"), "--script", script, "--backoffice",
            "127.0.0.1:%d" % rig.port, "--workers", str(workers)]
    if rig.tls:
        argv += ["--ca", certificates[0]]
    process, port = start_listening(argv, r"listening on 127\.0\.0\.1:(\d+)",
                                    os.path.join(work, name + "-floor.log"), False, meter)
    return process, port


def run_calls(port, configuration, tag, count, at_once):
    """count calls, at_once of them at a time."""
    calls = [None] * count
    next_index = [0]
    lock = threading.Lock()

    def placer():
        while True:
            with lock:
                index = next_index[0]
                next_index[0] += 1
            if index >= count:
                return
            calls[index] = fastagi_call(port, configuration, "%s.%d" % (tag, index))

    threads = [threading.Thread(target=placer) for _ in range(min(at_once, count))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return calls


def measure_beside_floor(rig, service_port, floor_port, meters, tag, rounds, per_round, at_once):
    """The pool and its floor, rounds interleaved so that drift hits both:
    CPU per call of each (call processes and workers included)."""
    cpu = {"pool": 0.0, "floor": 0.0}
    problems = []
    sides = [("pool", service_port), ("floor", floor_port)]
    for round_index in range(rounds):
        for name, port in (sides if round_index % 2 == 0 else sides[::-1]):
            before = meters[name].seconds()
            calls = run_calls(port, rig.configuration, "%s%d%s" % (tag, round_index, name[0]), per_round, at_once)
            cpu[name] += meters[name].seconds() - before
            if name == "pool":
                problems.extend(problems_of(calls))
            else:
                problems.extend("floor call %s: %s" % (call.unique_id, call.error) for call in calls if call.error)
    total = rounds * per_round
    return cpu["pool"] * 1000 / total, cpu["floor"] * 1000 / total, problems


def hold_calls(port, configuration, count):
    """Calls that wait at their first command (Asterisk never answers)."""
    held = []
    for index in range(count):
        connection = socket.create_connection(("127.0.0.1", port), timeout=CALL_DEADLINE)
        connection.sendall(startup_block("1796799000.%d" % index, ["atendimento", configuration], True))
        held.append(connection)
    for connection in held:
        connection.recv(1)  # its first command: the call runs
    return held


def hold_calls_at_question(port, configuration, count):
    """Calls held in their middle: every command is answered until the
    invoice question (its back-office requests made, its connections open),
    which never is."""
    held = []
    for index in range(count):
        connection = socket.create_connection(("127.0.0.1", port), timeout=CALL_DEADLINE)
        connection.sendall(startup_block("1796798000.%d" % index, ["atendimento", configuration], True))
        pending = b""
        while b"Orvel-u4-33 " not in pending:
            chunk = connection.recv(65536)
            if not chunk:
                raise SystemExit("fastagi_bench: a held call ended before the invoice question")
            pending += chunk
            while b"\n" in pending and b"Orvel-u4-33 " not in pending.split(b"\n", 1)[0]:
                line, pending = pending.split(b"\n", 1)
                connection.sendall(reply(line.decode(errors="replace")))
        held.append(connection)
    return held


def entries(path):
    try:
        return len(os.listdir(path))
    except OSError:
        return 0


def tree_tasks_fds(pid):
    """Threads and open descriptors of a service and its call processes."""
    members = [pid] + children_of(pid)
    return (len(members), sum(entries("/proc/%d/task" % member) for member in members),
            sum(entries("/proc/%d/fd" % member) for member in members))


def run_held(ivr, sim, work, certificates, options):
    """What a held call costs the service: processes, threads, descriptors
    and memory (PSS) added per call held at the invoice question."""
    rig = Rig(work, sim, False, certificates)
    try:
        print("  held calls: %d at the invoice question; per call = (with them - idle) / %d" %
              (options.held, options.held))
        print("  %-16s %9s %9s %9s %9s" % ("", "processes", "threads", "fds", "PSS MiB"))
        for mode, extra in (("fork per call", ["--calls-per-process", "1"]), ("pool", [])):
            service, port, _ = start_service(ivr, work, "held-" + mode.replace(" ", "-"), extra,
                                             max(options.max_calls, options.held))
            try:
                # One call first: the pool's processes are then warm, as in service.
                fastagi_call(port, rig.configuration, "1796797000.0")
                wait_for(lambda: len(children_of(service.pid)) <= 2, 10)
                idle_counts, idle_pss = tree_tasks_fds(service.pid), tree_pss_kib(service.pid)
                held = hold_calls_at_question(port, rig.configuration, options.held)
                busy_counts, busy_pss = tree_tasks_fds(service.pid), tree_pss_kib(service.pid)
                # RLIMIT_NOFILE counts per process: the service's own descriptors matter apart.
                print("  %-16s service process alone: %d threads, %d fds with %d held calls" %
                      (mode, entries("/proc/%d/task" % service.pid), entries("/proc/%d/fd" % service.pid),
                       options.held))
                print("  %-16s %9d %9d %9d %9.1f   idle (service and spare processes)" %
                      ((mode,) + idle_counts + (idle_pss / 1024,)))
                print("  %-16s %9d %9d %9d %9.1f   with %d held calls" %
                      ((mode,) + busy_counts + (busy_pss / 1024, options.held)))
                per_call = [(busy - idle) / options.held for busy, idle in zip(busy_counts, idle_counts)]
                print("  %-16s %9.2f %9.2f %9.2f %9.3f   per held call; %.0f held calls per GiB" %
                      ((mode,) + tuple(per_call) + ((busy_pss - idle_pss) / 1024 / options.held,
                       1024 * 1024 * options.held / max(busy_pss - idle_pss, 1))))
                for connection in held:
                    connection.close()
            finally:
                stop_service(service)
    finally:
        rig.stop()
    return []


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build-release")
    parser.add_argument("--calls", type=int, default=50)
    parser.add_argument("--burst", type=int, default=500)
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--max-calls", type=int, default=200)
    parser.add_argument("--cpu-target-ms", type=float, default=1.0)
    parser.add_argument("--held", type=int, default=200)
    parser.add_argument("--floor-rounds", type=int, default=6)
    parser.add_argument("--floor-calls", type=int, default=40)
    parser.add_argument("--floor-target", type=float, default=1.5)
    parser.add_argument("--only", choices=["pool-floor", "held"], help="run that section alone")
    options = parser.parse_args()
    build = options.build if os.path.isabs(options.build) else os.path.join(ROOT, options.build)
    ivr = os.path.join(build, "sites/orvel/ivr-orvel")
    sim = os.path.join(build, "tools/backoffice-sim/backoffice-sim")
    floor_program = os.path.join(build, "bench/bench-pool-floor")
    for program in (ivr, sim) + (() if options.only == "held" else (floor_program,)):
        if not os.access(program, os.X_OK):
            raise SystemExit("fastagi_bench: %s is missing; build it first" % program)

    work = tempfile.mkdtemp(prefix="fastagi-bench-")
    keep = False
    problems = []
    try:
        certificates = make_certificates(work)
        if options.only == "held":
            return run_held(ivr, sim, work, certificates, options) and 1 or 0
        if options.only == "pool-floor":
            problems = run_pool_beside_floor(ivr, sim, build, work, certificates, options)
            for problem in problems[:20]:
                print("  PROBLEM: " + problem)
            keep = bool(problems)
            return 1 if problems else 0
        print("fastagi_bench: %d sequential warm calls per row; service CPU counts its call processes" %
              options.calls)
        print("  %-28s %5s  %8s  %8s  %8s  %9s" % ("", "calls", "cpu ms", "wall ms", "p95 ms", "conns/call"))
        figures = {}
        for tls in (False, True):
            rig = Rig(work, sim, tls, certificates)
            name = "https" if tls else "http"
            try:
                before = rig.connections()
                local = [process_call(ivr, rig.configuration, "17967%d1000.%d" % (tls, index))
                         for index in range(options.calls)]
                problems.extend(problems_of(local))
                local_connections = (rig.connections() - before - 1) / options.calls
                figures[(name, "process")] = summary("%s  process per call" % name, local, None, local_connections)
                for mode, extra in (("fork per call", ["--calls-per-process", "1"]), ("pool", [])):
                    service, port, _ = start_service(ivr, work, "%s-%s" % (name, mode.replace(" ", "-")), extra,
                                                     options.max_calls)
                    try:
                        cpu, connections, found = measure_service(
                            "%s  %s" % (name, mode), rig, service, port, options.calls,
                            "17967%d%d" % (tls, len(extra)), not extra)
                        figures[(name, mode)] = (cpu, connections)
                        problems.extend(found)
                    finally:
                        stop_service(service)
            finally:
                rig.stop()

        for name in ("http", "https"):
            cpu, connections = figures[(name, "pool")]
            fork_cpu = figures[(name, "fork per call")][0]
            # Speed targets are reported and do not fail the run; only wrong
            # or lost calls do.
            print("  %s pool: cpu/call %.2f ms (%.0f%% of fork per call), target <= %.2f ms: %s; "
                  "new connections per warm call %.2f, target 0: %s" %
                  (name, cpu, 100 * cpu / max(fork_cpu, 1e-9), options.cpu_target_ms,
                   "met" if cpu <= options.cpu_target_ms else "MISSED", connections,
                   "met" if connections <= 0.001 else "MISSED"))

        problems.extend(run_pool_beside_floor(ivr, sim, build, work, certificates, options))
        problems.extend(run_burst_and_memory(ivr, sim, work, certificates, options))
        for problem in problems[:20]:
            print("  PROBLEM: " + problem)
        keep = bool(problems)
        print("fastagi_bench: %s" % ("FAILED" if problems else "ok"))
        return 1 if problems else 0
    finally:
        if keep:
            print("fastagi_bench: work files kept in " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)


def run_pool_beside_floor(ivr, sim, build, work, certificates, options):
    """The pool against its floor (bench-pool-floor replaying the sample
    call's recorded I/O), over HTTP and TLS, one call at a time and 20 at a
    time, rounds interleaved."""
    problems = []
    script, lines, requests = None, 0, 0
    print("  pool beside its floor: %d interleaved rounds of %d calls per cell; CPU per call counts every process "
          "and thread of the service (floor: its workers)" % (options.floor_rounds, options.floor_calls))
    print("  %-8s %-9s %10s %10s %7s  %-16s %s" % ("", "at a time", "pool ms", "floor ms", "ratio", "target", "verdict"))
    for tls in (False, True):
        name = "https" if tls else "http"
        rig = Rig(work, sim, tls, certificates)
        try:
            if script is None:
                script, lines, requests = record_call(ivr, rig, work)
            meters = {"pool": CpuMeter(name + "-pool"), "floor": CpuMeter(name + "-floor")}
            service, service_port, _ = start_service(ivr, work, "%s-pool-floor" % name, [], options.max_calls,
                                                     meters["pool"])
            floor, floor_port = start_floor(build, work, name, rig, script, certificates, 24, meters["floor"])
            try:
                for at_once in (1, 20):
                    # Warm: the pool grows to at_once processes and every one
                    # holds its back-office connections; the floor's workers too.
                    run_calls(service_port, rig.configuration, "1796796%d%02d.w" % (tls, at_once), 2 * at_once, at_once)
                    run_calls(floor_port, rig.configuration, "1796797%d%02d.w" % (tls, at_once), 2 * at_once, at_once)
                    pool_cpu, floor_cpu, found = measure_beside_floor(
                        rig, service_port, floor_port, meters, "1796798%d%02d." % (tls, at_once),
                        options.floor_rounds, options.floor_calls, at_once)
                    problems.extend(found)
                    ratio = pool_cpu / max(floor_cpu, 1e-9)
                    print("  %-8s %-9d %10.2f %10.2f %7.2f  %-16s %s" %
                          (name, at_once, pool_cpu, floor_cpu, ratio, "<= %.1f x floor" % options.floor_target,
                           "met" if ratio <= options.floor_target else "MISSED"))
            finally:
                floor.send_signal(signal.SIGTERM)
                floor.wait(timeout=20)
                stop_service(service)
                for meter in meters.values():
                    meter.close()
        finally:
            rig.stop()
    print("  floor: the sample call's %d AGI lines and %d HTTP requests, recorded once and replayed by 24 "
          "pre-forked workers; CPU from %s" % (lines, requests, CpuMeter.source))
    return problems


def run_burst_and_memory(ivr, sim, work, certificates, options):
    """The pool under a burst of calls spread over some seconds, then its
    memory with many calls in progress beside fork per call's."""
    problems = []
    rig = Rig(work, sim, False, certificates)
    try:
        service, port, service_log = start_service(ivr, work, "burst", [], options.max_calls)
        try:
            before = len(journal_lines(rig.journal))
            warm = fastagi_call(port, rig.configuration, "1796794000.0")
            per_call_records = len(journal_lines(rig.journal)) - before
            problems.extend(problems_of([warm]))

            before = len(journal_lines(rig.journal))
            logged_before = open(service_log, errors="replace").read().count("fastagi: call ")
            burst = [None] * options.burst
            started = time.monotonic()

            def place(index):
                burst[index] = fastagi_call(port, rig.configuration, "1796793000.%d" % index)

            threads = []
            for index in range(options.burst):
                delay = started + index * options.seconds / options.burst - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
                thread = threading.Thread(target=place, args=(index,))
                thread.start()
                threads.append(thread)
            for thread in threads:
                thread.join(CALL_DEADLINE + 5)
            elapsed = time.monotonic() - started
            burst_problems = problems_of([call for call in burst if call is not None])
            burst_problems += ["call %d never finished" % index for index, call in enumerate(burst) if call is None]
            problems += burst_problems
            at_destination = sum(1 for call in burst if call is not None and not call.error and
                                 last_goto(call.commands) == EXPECTED_GOTO)
            print("  pool burst: %d calls in %.1f s, %d at their destination, %d problems" %
                  (options.burst, elapsed, at_destination, len(burst_problems)))

            wait_for(lambda: open(service_log, errors="replace").read().count("fastagi: call ") >=
                     logged_before + options.burst, 30)
            log_text = open(service_log, errors="replace").read()
            refused = log_text.count("max_calls=%d reached" % options.max_calls)
            if refused:
                problems.append("%d calls refused below or at --max-calls" % refused)
            journaled = len(journal_lines(rig.journal)) - before
            expected = per_call_records * options.burst
            print("  back office: %d records journaled for the burst, %d expected" % (journaled, expected))
            if journaled != expected:
                problems.append("back office journaled %d records, expected %d" % (journaled, expected))
        finally:
            stop_service(service)

        for mode, extra in (("fork per call", ["--calls-per-process", "1"]), ("pool", [])):
            service, port, _ = start_service(ivr, work, "held-" + mode.replace(" ", "-"), extra,
                                             max(options.max_calls, options.held))
            try:
                idle = tree_pss_kib(service.pid)
                held = hold_calls(port, rig.configuration, options.held)
                busy = tree_pss_kib(service.pid)
                print("  %s: service memory (PSS, call processes included) %.1f MiB idle, %.1f MiB with %d calls "
                      "in progress" % (mode, idle / 1024, busy / 1024, options.held))
                for connection in held:
                    connection.close()
            finally:
                stop_service(service)
    finally:
        rig.stop()
    return problems


if __name__ == "__main__":
    sys.exit(main())
