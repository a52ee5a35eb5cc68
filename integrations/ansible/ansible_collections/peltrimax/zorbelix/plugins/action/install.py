# -*- coding: utf-8 -*-
# Copyright 2026 PELTRIMAX. All rights reserved.

# The module runs on the controller and sees no inventory; this action gives
# it the host the task is for: ansible_host, else inventory_hostname.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    def run(self, tmp=None, task_vars=None):
        task_vars = task_vars or {}
        result = super(ActionModule, self).run(tmp, task_vars)
        args = dict(self._task.args)
        if not args.get("host"):
            args["host"] = task_vars.get("ansible_host") or task_vars.get("inventory_hostname")
        result.update(
            self._execute_module(
                module_name="peltrimax.zorbelix.install", module_args=args, task_vars=task_vars
            )
        )
        return result
