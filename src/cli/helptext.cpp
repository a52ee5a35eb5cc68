#include "cli/helptext.h"

namespace cli {

const char* HelpText() {
  return R"(Usage: zorbelix-install --host HOST[:PORT] ... --logon USER.ACCOUNT[,GROUP] [options]
       zorbelix-install --hosts FILE|- [--logon USER.ACCOUNT[,GROUP]] [options]

Installs the ZORBELIX host program onto HP 3000 hosts running MPE/iX, over
NS/VT, without a person: it connects, logs on, runs the installation the
window program runs on Begin, answers its questions from the command line,
logs off, and says how it went. It reads its standard input only for
--hosts -.

Where to install:
  --host HOST          A host: a name or an address, HOST:PORT or
                       [V6]:PORT as a hosts file line takes it. Repeatable:
                       each --host is one more host, as a line of a hosts
                       file would be.
  --hosts FILE         Many hosts, one a line (the format is below);
                       --hosts - reads them from standard input.
  --port PORT          The hosts' NS/VT port (default 1570); a hosts file
                       line may give its own.
  --logon USER.ACCOUNT[,GROUP]
                       The logon (sent as HELLO USER.ACCOUNT[,GROUP]).
                       Needed with --host; with --hosts, the logon of the
                       lines that give none. No passwords here.
  --jobs N             How many hosts are installed at once (default 8,
                       at most 1000), all in this one process. The
                       open-file limit is raised to its hard limit at
                       start; when it still holds fewer hosts (one
                       descriptor each, two with --trace, and a reserve),
                       fewer run at once and one line on standard error
                       says so. A host that finds no free descriptor
                       waits for another to end; it does not fail.
  --timeout SECONDS    The longest time between two steps of a host's
                       session (a read request answered, the logon): a host
                       that sends nothing, or keeps sending without ever
                       asking for input, is ended: its session gets a
                       termination request and the host counts as failed,
                       or as not logged on before its installation started
                       (default 60; 0: wait for ever).
  --connect-timeout SECONDS
                       The longest time to make the connection (default:
                       --timeout's).
  --deadline SECONDS   The longest whole run of a host, from its connection
                       to its end; a host still at work then is ended as
                       for --timeout (default 0: none).
  --max-fail N         After N hosts have failed (or not been logged on
                       to), start no more: hosts under way finish, the rest
                       are "skipped" (status 2). Default 0: no limit.
  --retry-file FILE    At the end write the hosts that did not install
                       (failed, not logged on, interrupted, skipped) to
                       FILE in the hosts file's format, each with its
                       logon, ready for --hosts FILE. Replaces FILE.

The installation:
  --group GROUP        The installation group (%0 of the install script)
  --account ACCOUNT    and account (%1), where the program's settings let
                       them be chosen (the shipped settings fix both; then
                       these options are refused). Upper-cased; an MPE name
                       (a letter, then letters and digits, at most 8).
                       Without them, the settings' own.
  --yes                Answer Yes where the installation asks: the
                       confirmation of a group and account that differ from
                       the configured ones, and the script's ASKC questions.
                       Without it the answer is No, which ends the
                       installation on that host (nothing is started for the
                       group and account confirmation; the host is logged off
                       with BYE) and fails it.
  --answer N=TEXT      The answer to the script's ASK0, ASK1 or ASK2 (N is 0,
                       1 or 2); without it the answer is empty. Repeatable,
                       once per N.
  Message boxes are printed. A script PAUSE or LOGON stops the installation
  there and fails it (an unattended run does not go on after one).

Versions (the host's ZORBELIX.PUB.SYS as its VERSION command reports it,
against the version line of the payload this program carries):
  --check              Only compare: log on, send VERSION, log off with BYE.
                       Nothing on the host changes. Each host's result is
                       "checked", with the installed version ("none" for a
                       missing file or one without a version line), the
                       payload's and the action, "install" or "none" (the
                       versions are equal). Exit status 0 when every host
                       was checked, 2 when one could not be logged on to.
  --skip-current       Compare first in the same session; a host that holds
                       the payload's version is logged off with BYE and its
                       result is "current" (status 0). The others install.

Passwords (never on the command line, never printed; in a trace each shows
as the same eight asterisks):
  The host asks for a password with its echo off; its prompt names whose it
  is ("ENTER ACCOUNT (SYS) PASSWORD:"). The answers come from
    ZORBELIX_USER_PASSWORD, ZORBELIX_ACCOUNT_PASSWORD, ZORBELIX_GROUP_PASSWORD
  in the environment, or from
  --password-file FILE  KEY=VALUE lines, KEY user, account or group; blank
                       lines and # comments skipped; the value is what
                       follows the first =, without blanks around it. It
                       wins over the environment. It must be a plain file
                       of your own that only you may read or write (chmod
                       600), or it is refused (exit status 64).
  The variables are read at start and removed from the environment.
  The same passwords serve every host. A password the host asks for and no
  one gave, or one it refuses, ends that host's logon (exit status 2).

Output:
  --trace PATH         Write the NS/VT trace: with one --host into the
                       file PATH, with more or --hosts into the folder
                       PATH (made if missing), one file per host named
                       HOST.trace (or HOST_PORT.trace when the port is not
                       1570). A trace
                       file must be a plain file of your own or new (made
                       600); a link, a FIFO or another user's file there is
                       refused (exit status 64), never followed or emptied.
  --json               One JSON object a line on standard output, nothing
                       else there (the events are below).
  -n, --no-reverse-lookup
                       Do not look the hosts' names up (the peer_name
                       event). The lookup never delays a host anyway.
  Without --json, on a terminal one live line per host shows what it does
  and its transfer (records or blocks, percent, KB/s); boxes and results
  scroll above. Elsewhere (a pipe, a log) a plain line per event, progress
  at most once a second per host. For one host the last line is its result,
  e.g. "host 10.0.0.5: installed (EXIT) in 4.2 s"; for --hosts a summary
  table (host, outcome, time, reason) and a line counting the outcomes.
  TERM=dumb (or no TERM) gets the plain lines. Control characters in what a
  host or a file said show as ^[ , ^@ , ^? , M-^[ (as cat -v shows them).
  Bad usage and other complaints go to standard error.

  -h, --help           This text.
  --version            The program's version.

Hosts file (--hosts): one host a line,
    HOST[:PORT] [USER.ACCOUNT[,GROUP]]
  an IPv6 address in brackets ([fd00::5]:1570). Blank lines, lines starting
  with # and anything after " #" are skipped. A line without a port uses
  --port, one without a logon --logon. A malformed line, or a host and port
  listed twice (names in any case), is reported with its line number before anything connects
  (exit status 64).

Exit status:
  0    every host installed: its script ended through EXIT with no error
       report on the way, and the host then ended the session (or was
       current with --skip-current, or checked with --check)
  1    an installation failed on a host (and every host was logged on to):
       an error line, a stop, a pause, a failed transfer, an error report,
       the host cutting the run short, no progress for --timeout seconds
       or past --deadline once the installation had started, No to a
       confirmation
  2    the connection or the logon failed on a host: refused, unreachable,
       name not found, a password missing or refused, the logon refused,
       the host closing or falling silent before the installation started;
       or a host skipped after --max-fail failures
  64   bad usage, found before anything connects: an unknown option, --host
       or --logon missing, a bad --answer, an unreadable or too open
       password file, a malformed hosts file, a trace that cannot be
       written, --group or --account where the settings fix them
  74   standard output (or the --retry-file) could not be written (a full
       disc, a closed pipe); standard error says so
  130  interrupted by Ctrl+C (143 by SIGTERM, 129 by SIGHUP, as when an ssh
       session drops): every session is ended with a
       termination request, and each host's result says where it stood
  With many hosts the status is the highest of the hosts' (2 over 1), so 1
  also says that every host was reached and logged on to.
  A second Ctrl+C closes every connection at once.

JSON events (--json), one object a line, each with "event", "host" (as in
the hosts file: HOST or HOST:PORT) and "time" (UTC, ISO 8601 with
milliseconds):
  connected   "peer": "" (the name comes later, as peer_name)
  peer_name   "name": the host's name by reverse lookup, when it has one;
              at any time after connected, or never (not with -n)
  logged_on   "logon": the host's logon notice ("MANAGER.SYS,PUB")
  command     "command": a command the installation or the version check
              sent ("PURGE ZORBELIX", "VERSION ZORBELIX.PUB.SYS")
  progress    "payload", "unit" ("record" or "block"), "sent", "total",
              "percent", "overall_percent", "bytes", "kb_per_s"; at most one
              a second per host, and always a payload's first and last
  box         "kind" ("message", "confirm", "input" or "error"), "text";
              "answer" for confirm ("yes"/"no") and input, "variable" (0-2)
              for input, "code" for error
  result      "outcome" ("installed", "failed", "not_logged_on",
              "interrupted", "current", "checked", "skipped"), "exit_status" (that
              host's: 0, 1 or 2), "reason", "elapsed_s"; when the host's
              version was read (--check, --skip-current) also
              "installed_version" (null for none), "payload_version",
              "action" ("install" or "none")
  summary     the last line, without "host": "hosts", "installed", "failed",
              "not_logged_on", "interrupted", "current", "checked", "skipped"
              (counts),
              "exit_status" (the program's), "elapsed_s"

Examples:
  ZORBELIX_USER_PASSWORD=secret zorbelix-install --host hp3000 --logon MANAGER.SYS
  zorbelix-install --hosts sites.txt --logon MANAGER.SYS --password-file ~/.zorbelix-pw \
      --jobs 20 --trace traces/
  zorbelix-install --host 10.0.0.5 --logon MANAGER.SYS --json | jq -c 'select(.event=="result")'
  zorbelix-install --hosts sites.txt --logon MANAGER.SYS --max-fail 3 --retry-file again.txt
)";
}

}  // namespace cli
