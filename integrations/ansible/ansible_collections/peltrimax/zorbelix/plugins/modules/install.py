#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 PELTRIMAX. All rights reserved.

# A thin shell over zorbelix-install: it builds the command line, hands the
# passwords over in the child's environment, and turns the program's JSON
# result event into the task's result. What to do on the host, and whether
# the host already holds the payload's version, the program decides.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: install
short_description: Install the ZORBELIX host program on an HP 3000 over NS/VT
version_added: "1.0.0"
description:
  - Runs C(zorbelix-install) on the controller for one HP 3000 running MPE/iX
    and reports its result. The HP 3000 cannot run Python, so the task runs
    on the controller (C(connection) C(local)), one task per host of the
    inventory; C(host) defaults to the inventory's C(ansible_host), else
    C(inventory_hostname).
  - Idempotent. Unless C(force) is set, C(zorbelix-install --skip-current)
    first reads the host's installed version with the MPE C(VERSION) command
    and installs only when it differs from the version of the payload the
    program carries; C(changed) is true only when the host ended up with a
    new installation.
  - In check mode it runs C(zorbelix-install --check), which logs on, reads
    the version and logs off with C(BYE), changing nothing; C(changed) then
    says whether the host would be installed.
  - Passwords reach the program in its environment (C(ZORBELIX_USER_PASSWORD),
    C(ZORBELIX_ACCOUNT_PASSWORD), C(ZORBELIX_GROUP_PASSWORD)), never on its
    command line. Only the program's JSON events are read.
author:
  - PELTRIMAX ZORBELIX team (zorbelix@peltrimax.example)
options:
  host:
    description:
      - The HP 3000's name or address.
      - Defaults to the host's C(ansible_host), else its C(inventory_hostname).
    type: str
  port:
    description: The host's NS/VT port.
    type: int
    default: 1570
  logon:
    description:
      - The logon, C(USER.ACCOUNT[,GROUP]), sent as C(HELLO USER.ACCOUNT[,GROUP]).
        No passwords here.
    type: str
    required: true
  group:
    description:
      - The installation group, where the program's settings let it be chosen
        (the shipped settings fix it).
    type: str
  account:
    description:
      - The installation account, where the program's settings let it be
        chosen (the shipped settings fix it).
    type: str
  user_password:
    description: The user's password, for the host's prompt that asks for it.
    type: str
  account_password:
    description: The account's password.
    type: str
  group_password:
    description: The group's password.
    type: str
  password_file:
    description:
      - A file of C(user=), C(account=) and C(group=) lines on the controller,
        readable by its owner only; it wins over the password options.
    type: path
  timeout:
    description:
      - Seconds of silence from the host after which it is given up (the
        program's default is 60; 0 waits for ever).
    type: int
  trace:
    description: A file on the controller for the host's NS/VT trace (passwords as asterisks).
    type: path
  force:
    description: Install even when the host already holds the payload's version.
    type: bool
    default: false
  installer:
    description: The path of C(zorbelix-install); by default it is looked for on the C(PATH).
    type: path
attributes:
  check_mode:
    support: full
    description: Reads the installed version and reports whether the host would be installed.
  diff_mode:
    support: none
notes:
  - Run it with C(connection) C(local); C(serial) and C(max_fail_percentage) of
    the play bound how many HP 3000s are installed at once and how many may
    fail.
  - Without C(force) the installed version is read before the installation,
    in the same session. With C(force) it is not read, and
    C(installed_version_before) is null.
requirements:
  - zorbelix-install on the controller
"""

EXAMPLES = r"""
- name: Install ZORBELIX where it is missing or of another version
  peltrimax.zorbelix.install:
    logon: MANAGER.SYS
    user_password: "{{ vault_manager_password }}"

- name: Reinstall it on a host given by address, with a trace
  peltrimax.zorbelix.install:
    host: 10.0.0.5
    logon: MANAGER.SYS
    password_file: /etc/zorbelix/passwords
    trace: /var/log/zorbelix/10.0.0.5.trace
    force: true
"""

RETURN = r"""
outcome:
  description:
    - How it ended on the host, as zorbelix-install says it.
    - C(installed), C(current) (the host already held the payload's version),
      C(checked) (check mode), C(failed), C(not_logged_on) or C(interrupted).
  returned: when the program reported a result
  type: str
  sample: installed
reason:
  description: Why, in words, on one line.
  returned: when the program reported a result
  type: str
  sample: the script ended through EXIT
exit_status:
  description: The program's exit status (0 all well, 1 the installation failed, 2 no logon).
  returned: always
  type: int
  sample: 0
elapsed_s:
  description: Seconds from the start of the connection to its end.
  returned: when the program reported a result
  type: float
  sample: 1.4
installed_version_before:
  description:
    - The host's ZORBELIX version before the task; null when it has none
      (no file, or no version line), or when it was not read (C(force)).
  returned: when the program reported a result
  type: str
  sample: 2.4.0.0
payload_version:
  description: The version of the payload the program carries; null when it was not read (C(force)).
  returned: when the program reported a result
  type: str
  sample: 2.5.0.6
installed_version_after:
  description:
    - The host's ZORBELIX version after the task (in check mode, the one it
      would have); null when unknown, as after a failed installation.
  returned: when the program reported a result
  type: str
  sample: 2.5.0.6
"""

import json

from ansible.module_utils.basic import AnsibleModule

PASSWORD_VARIABLES = {
    "user_password": "ZORBELIX_USER_PASSWORD",
    "account_password": "ZORBELIX_ACCOUNT_PASSWORD",
    "group_password": "ZORBELIX_GROUP_PASSWORD",
}
VALUE_OPTIONS = ("port", "group", "account", "password_file", "timeout", "trace")


def command_line(module, installer):
    params = module.params
    args = [installer, "--host", params["host"], "--logon", params["logon"], "--json"]
    for name in VALUE_OPTIONS:
        if params[name] is not None:
            args += ["--" + name.replace("_", "-"), str(params[name])]
    if module.check_mode:
        args.append("--check")
    elif not params["force"]:
        args.append("--skip-current")
    return args


def result_event(out):
    for line in out.splitlines():
        try:
            event = json.loads(line)
        except ValueError:
            continue
        if isinstance(event, dict) and event.get("event") == "result":
            return event
    return None


def task_result(event, check_mode):
    outcome = event["outcome"]
    before = event.get("installed_version")
    payload = event.get("payload_version")
    would_install = event.get("action") == "install"
    if outcome == "installed" or (check_mode and would_install):
        after = payload
    elif outcome in ("current", "checked"):
        after = before
    else:
        after = None
    return dict(
        changed=outcome == "installed" or (outcome == "checked" and would_install),
        outcome=outcome,
        reason=event.get("reason", ""),
        exit_status=event.get("exit_status"),
        elapsed_s=event.get("elapsed_s"),
        installed_version_before=before,
        payload_version=payload,
        installed_version_after=after,
    )


def main():
    module = AnsibleModule(
        argument_spec=dict(
            host=dict(type="str"),
            port=dict(type="int", default=1570),
            logon=dict(type="str", required=True),
            group=dict(type="str"),
            account=dict(type="str"),
            user_password=dict(type="str", no_log=True),
            account_password=dict(type="str", no_log=True),
            group_password=dict(type="str", no_log=True),
            password_file=dict(type="path"),
            timeout=dict(type="int"),
            trace=dict(type="path"),
            force=dict(type="bool", default=False),
            installer=dict(type="path"),
        ),
        supports_check_mode=True,
    )
    if not module.params["host"]:
        module.fail_json(msg="no host: give host, or run through the collection's action")
    installer = module.params["installer"] or module.get_bin_path("zorbelix-install", required=True)
    environment = {
        variable: module.params[name]
        for name, variable in PASSWORD_VARIABLES.items()
        if module.params[name] is not None
    }
    rc, out, err = module.run_command(command_line(module, installer), environ_update=environment)
    event = result_event(out)
    if event is None:
        module.fail_json(
            msg="zorbelix-install reported no result: " + (err.strip() or "no output"),
            exit_status=rc,
        )
    result = task_result(event, module.check_mode)
    if event.get("exit_status") != 0:
        module.fail_json(msg=result["reason"], **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
