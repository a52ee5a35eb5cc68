#!/usr/bin/env python3
"""The collection peltrimax.zorbelix with the real ansible-playbook against
four mpe-host-sim hosts on loopback addresses, one of which fails at SAVE.

    fleet_test.py ZORBELIX_INSTALL MPE_HOST_SIM PAYLOAD

Four runs of fleet.yml, each checked against what Ansible counted per host
and what the simulators saw: an installation, the same again (idempotent),
check mode after the failing host's fault is gone, and force. Exits 77
(skipped) when ansible-playbook is not installed.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
COLLECTIONS = os.path.dirname(HERE)
SKIPPED = 77
HOSTS = ["hp1", "hp2", "hp3", "hp4"]
FAILING = "hp3"
PASSWORD = "Q7FLEETPW"
START_WAIT_S = 10
RUN_LIMIT_S = 120
LISTENING = re.compile(r"^mpe-host-sim: listening on [0-9.]+:(\d+)$", re.M)
# A line of the play recap: "hp1 : ok=1 changed=1 unreachable=0 failed=0 ...".
RECAP = re.compile(r"^(\S+)\s+:\s+((?:\w+=\d+\s*)+)$", re.M)


class Fleet:
    def __init__(self, work, simulator, payload):
        self.work = work
        self.simulator = simulator
        self.payload = payload
        self.sims = {}

    def start(self, run, fail_save, expect):
        """Starts one simulator per host over its store, which outlives the run."""
        ports = {}
        for index, host in enumerate(HOSTS):
            store = os.path.join(self.work, "store-" + host)
            os.makedirs(store, exist_ok=True)
            args = [self.simulator, "--listen", "127.0.77.%d:0" % (index + 2), "--store", store,
                    "--transcript", self.transcript(run, host), "--password", PASSWORD]
            if host == FAILING and fail_save:
                args += ["--fail", "SAVE"]
            if host in expect:
                args += ["--expect", "ZORBELIX=" + self.payload]
            log = open(os.path.join(self.work, "%s-%s.log" % (run, host)), "w+")
            self.sims[host] = (subprocess.Popen(args, stderr=log), log)
        for host, (process, log) in self.sims.items():
            ports[host] = self.wait_listening(host, process, log)
        return ports

    @staticmethod
    def wait_listening(host, process, log):
        deadline = time.monotonic() + START_WAIT_S
        while time.monotonic() < deadline and process.poll() is None:
            log.seek(0)
            found = LISTENING.search(log.read())
            if found:
                return int(found.group(1))
            time.sleep(0.05)
        raise AssertionError("the simulator of %s did not come up" % host)

    def stop(self):
        """Stops the simulators; their verdicts: 0 when every --expect matched
        and no protocol deviation was seen."""
        verdicts = {}
        for host, (process, log) in self.sims.items():
            process.terminate()
            verdicts[host] = process.wait(timeout=START_WAIT_S)
            log.close()
        self.sims = {}
        return verdicts

    def transcript(self, run, host):
        return os.path.join(self.work, "%s-%s.transcript" % (run, host))


def write_inventory(path, ports, installer):
    hosts = {host: {"ansible_host": "127.0.77.%d" % (i + 2), "sim_port": ports[host]}
             for i, host in enumerate(HOSTS)}
    group_vars = {"ansible_python_interpreter": "{{ ansible_playbook_python }}",
                  "sim_password": PASSWORD, "zorbelix_install": installer}
    with open(path, "w") as inventory:
        json.dump({"hp3000": {"hosts": hosts, "vars": group_vars}}, inventory)


def playbook(work, inventory, extra):
    env = dict(os.environ)
    env.update({
        "ANSIBLE_CONFIG": os.path.join(work, "ansible.cfg"),  # empty: no user's settings
        "ANSIBLE_HOME": os.path.join(work, "ansible-home"),
        "ANSIBLE_LOCAL_TEMP": os.path.join(work, "ansible-tmp"),
        "ANSIBLE_COLLECTIONS_PATH": COLLECTIONS,
        "ANSIBLE_COLLECTIONS_SCAN_SYS_PATH": "False",
        "ANSIBLE_STDOUT_CALLBACK": "default",
        "ANSIBLE_RETRY_FILES_ENABLED": "False",
        "ANSIBLE_NOCOLOR": "1",
        "LC_ALL": "C.UTF-8",  # ansible-core refuses any locale but a UTF-8 one
        "PYTHONDONTWRITEBYTECODE": "1",  # nothing written into the source tree
    })
    command = ["ansible-playbook", "-i", inventory, os.path.join(HERE, "fleet.yml")] + extra
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=RUN_LIMIT_S)
    recap = {host: dict((key, int(value)) for key, value in re.findall(r"(\w+)=(\d+)", counts))
             for host, counts in RECAP.findall(done.stdout)}
    return recap, done.stdout + done.stderr


def counted(recap, key):
    return sorted(host for host, counts in recap.items() if counts.get(key))


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 64
    installer, simulator, payload = (os.path.abspath(path) for path in sys.argv[1:])
    if shutil.which("ansible-playbook") is None:
        print("fleet_test: ansible-playbook is not installed (scripts/deps.sh installs ansible-core)")
        return SKIPPED

    # (name, playbook arguments, the failing host's fault, hosts expected to
    # hold the payload, changed, failed)
    good = [host for host in HOSTS if host != FAILING]
    runs = [
        ("install", [], True, good, good, [FAILING]),
        ("again", [], True, good, [], [FAILING]),
        ("check", ["--check"], False, good, [FAILING], []),
        ("force", ["-e", "zorbelix_force=true"], False, HOSTS, HOSTS, []),
    ]
    problems = []
    with tempfile.TemporaryDirectory(prefix="zorbelix-fleet-") as work:
        open(os.path.join(work, "ansible.cfg"), "w").close()
        fleet = Fleet(work, simulator, payload)
        for name, extra, fail_save, expect, changed, failed in runs:
            started = time.monotonic()
            try:
                inventory = os.path.join(work, name + ".json")
                write_inventory(inventory, fleet.start(name, fail_save, expect), installer)
                report, output = playbook(work, inventory, extra)
            finally:
                verdicts = fleet.stop()
            ok = [host for host in HOSTS if host not in failed]
            seen = {"changed": counted(report, "changed"), "failed": counted(report, "failed"),
                    "ok": counted(report, "ok")}
            wanted = {"changed": sorted(changed), "failed": sorted(failed), "ok": sorted(ok)}
            if seen != wanted:
                problems.append("%s: Ansible counted %s, expected %s" % (name, seen, wanted))
            if any(verdicts.values()):
                problems.append("%s: simulator verdicts %s (1: a host does not hold the payload "
                                "byte for byte)" % (name, verdicts))
            if PASSWORD in output:
                problems.append("%s: the password shows in Ansible's output" % name)
            if name == "check":
                for host in HOSTS:
                    with open(fleet.transcript(name, host), errors="replace") as transcript:
                        if "PURGE" in transcript.read():
                            problems.append("check: %s was sent PURGE" % host)
            print("fleet_test: run '%s' took %.1f s: %s" % (name, time.monotonic() - started, seen))
            if problems:
                print(output)
                break
    for problem in problems:
        print("fleet_test: " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
