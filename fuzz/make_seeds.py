#!/usr/bin/env python3
"""Writes the hand-made seeds of the corpus (fuzz/corpus/<target>/seed-*):
the NS/VT messages and script lines the installer is built around, with the
awkward cases of each (split messages, a NUL in host output, a length below
the header, a termination with a known and an unknown reason, a flood of
output without a line end, self-referring variables, a missing script file).
Seeds recorded from real sessions come from fuzz/record_seeds.sh.

Usage: fuzz/make_seeds.py   (from anywhere; rewrites only seed-* files)"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ECHO = 0x4B21


def message(cls, typ, class_word, body=b"", version=2, length=None):
    total = 10 + len(body) if length is None else length
    return struct.pack(">HBBBBHH", total, version, cls, 0x5A, typ, ECHO, class_word) + body


def negotiation():
    return message(0, 1, 0x8000, bytes(16))


def read_request(length=80, second=0):
    return message(2, 0, 0x8000, struct.pack(">HH", length, second))


def term_io(text, control=0, word14=0, count=None):
    data = text.encode("latin-1") if isinstance(text, str) else text
    n = len(data) + 1 if count is None else count
    body = struct.pack(">HHHHB", 80, 0, word14, n, control) + data
    return message(2, 1, 0x8000, body)


def logon_notice(text):
    raw = text.encode("latin-1")[:80]
    return message(0, 3, 0x8000, struct.pack(">HHH", 0, 0, len(raw)) + raw.ljust(80, b"\0"))


def termination(reason):
    return message(0, 2, 0, bytes([reason & 0xFF, reason >> 8]))


def settings(echo_off):
    return message(4, 1, 0x8000, bytes([1 if echo_off else 0, 0]))


def logon():
    return (negotiation() + read_request(80) + logon_notice("MANAGER.SYS,PUB") +
            term_io(":", 0xD0) + read_request(80))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def receive_seeds():
    # byte 0 flags (1 install, 2 trace, 4 bytes in boxes, 8 close, 16 reconnect,
    # 32 the host closes, 64 a reset at the end),
    # byte 1 chunk seed (low two bits: pieces of 16, 300, 36288 or 1 bytes)
    seeds = {
        "logon": (0x00, 0x02, logon()),
        "logon-bytewise": (0x02, 0x03, logon()),
        "logon-wrong-user": (0x04, 0x00, negotiation() + read_request(80) +
                             logon_notice("OPERATOR.SYS") + read_request(80)),
        "logon-html": (0x00, 0x02, negotiation() + read_request(80) +
                       logon_notice("<b>MANAGER.SYS,PUB</b><img src=\"/etc/hostname\">") +
                       read_request(80) + termination(300)),
        "termination-reason6": (0x08, 0x01, logon() + termination(6)),
        "termination-unknown": (0x08, 0x01, logon() + termination(300)),
        "termination-reply": (0x00, 0x02, logon() + message(1, 2, 0x8000)),
        "bad-version": (0x10, 0x00, logon() + message(2, 1, 0x8000, bytes(12), version=3) +
                        read_request(80)),
        "short-length": (0x10, 0x01, logon() + message(2, 1, 0, length=6) + logon()),
        "header-only": (0x00, 0x03, message(2, 0, 0x8000) + message(9, 9, 0)),
        "termio-nul": (0x02, 0x00, logon() + term_io("A\0B") + term_io("", count=0) +
                       term_io("x", count=9000) + read_request(0)),
        "termio-escapes": (0x00, 0x02, logon() + term_io("\x1b[2J\x1b]0;title\x07\r\n\x08\x7f",
                                                         0xD0) + read_request(80)),
        "flood": (0x00, 0x02, logon() + b"".join(term_io("Z" * 5000, 0xD0) for _ in range(16)) +
                  b"".join(term_io("line %d" % i) for i in range(30))),
        "controls": (0x02, 0x01, logon() + settings(True) + message(3, 0, 0x8000) +
                     message(4, 0, 0x8000) + message(8, 0, 0x8000) + settings(False) +
                     read_request(1, 7)),
        "install-user-ok": (0x01, 0x02, term_io("MANAGER.SYS") + read_request(80) +
                            term_io(":", 0xD0) + read_request(80)),
        "install-user-bad": (0x01, 0x02, term_io("OPERATOR.SYS") + read_request(80) +
                             read_request(80)),
        "install-purge-cierr": (0x05, 0x00, term_io("MANAGER.SYS") + read_request(80) +
                                term_io("CIERR 907") + read_request(80) + read_request(80)),
        "install-termination": (0x0B, 0x01, term_io("MANAGER.SYS") + read_request(80) +
                                termination(2)),
        "install-host-closes": (0x21, 0x02, term_io("MANAGER.SYS") + read_request(80)),
        "install-reset": (0x41, 0x02, term_io("MANAGER.SYS") + read_request(80) +
                          term_io(":", 0xD0) + read_request(80)),
    }
    for name, (flags, chunks, stream) in seeds.items():
        write("fuzz_receive", name, bytes([flags, chunks]) + stream)


def answer(text="", control=0):
    data = text.encode("latin-1")
    return bytes([control, len(data)]) + data


def script_seeds():
    # byte 0 flags (1 as a file, 2 trace, 4 answer boxes, 8 close, 16 Begin again),
    # the script, NUL, then answers: control byte, length byte, bytes
    shipped = "\n".join([
        "SEND1~ECHO !HPUSER.!HPACCOUNT~MANAGER.SYS~9",
        "SEND2~PURGE ZORBELIX~CIERR~8",
        "SEND2~SAVE $OLDPASS,ZORBELIX~CIERR~8",
        "MSGW~Done.",
        "MSGB~Successful installation.",
        "EXIT",
        "",
        "MSGB~Error occured",
        "STOP",
    ])
    prompt = answer(":", 0x01)
    seeds = {
        "shipped": (0x00, shipped, answer("MANAGER.SYS") + prompt + answer("") + prompt + prompt),
        "shipped-file": (0x01, shipped, answer("MANAGER.SYS") + answer("CIERR 907") + prompt),
        "variables": (0x04, "LET2~%0.%1\nMSGB~%0 account %1 %7\nSEND1~ECHO %2~PUB.SYS~1\nSTOP",
                      answer("PUB.SYS") + prompt),
        "self-reference": (0x00, "LET2~%2%2\nMSGB~%2\nLET0~%%\nMSGB~x%0\nMSGB~%", prompt),
        "goto-loop": (0x00, "GOTO~1", prompt),
        "goto-table": (0x00, "MSGB~a\nGOTO~1010\nGOTO\nGOTO~x", prompt),
        "file-missing": (0x00, "FILE~no-such-file~3\nSTOP\nMSGB~went on\nSTOP", prompt),
        "file-folder": (0x00, "FILE~.~3\nSTOP\nFILE~.\nSTOP", prompt),
        "ask": (0x04, "ASK0~Group?\nASK1~Account?\nASKC~Go on?\nASK2~x\nMSGB~%0.%1.%2\nSTOP",
                answer("GRP") + answer("ACCT") + prompt),
        "dstat-version": (0x00, "DSTAT~5\nVERSO~ZORBELIX~ZORBELIX~2.5.0.6~6~6\n"
                          "VERSU~ZORBELIX~ZORBELIX~2.5.0.6~6~6\nECHO~hello\nSTOP\nSTOP",
                          answer("VOLUME MASTER") + prompt + answer("ZORBELIX - 2.5.0.7") +
                          prompt + answer("ZORBELIX - 2.5.0.5") + prompt + prompt + prompt),
        "logon-pause": (0x10, "LOGON~OPERATOR.SYS~Go on\nPAUSE~Again\nMSGB~after\nSTOP",
                        prompt + answer("OPERATOR.SYS,PUB", 0x08) + prompt + prompt + prompt),
        "xferu": (0x02, "XFERU~ZORBELIX~NMPRG~3\nSTOP\nMSGB~failed\nSTOP",
                  b"".join(prompt for _ in range(40))),
        "xfer-blocks": (0x00, "XFERB~ZORBELIX\nSTOP\nXFERA~ZORBELIX~80~100\nSTOP\n"
                        "XFERC~ZORBELIX\nXFERD~ZORBELIX\nXFERE~ZORBELIX\nXFERU~NOSUCH",
                        answer("Y", 0x20) + b"".join(answer("\x06", 0x21) for _ in range(20))),
        "bad-command": (0x00, "NOPE~1\nSEND1\nSEND1~X~~3\nSTOP", prompt + prompt),
        "long-line": (0x01, "MSGB~" + "x" * 300 + "\n" + "SEND1~" + "A" * 40000 + "~A\nSTOP",
                      prompt + prompt),
        "raw-answers": (0x08, "SEND1~ECHO x~x~2\nSTOP",
                        bytes([0x80, 20]) + term_io("x")[:20] + bytes([0x80, 30]) +
                        term_io("x")[20:] + read_request(0)),
    }
    for name, (flags, script, answers) in seeds.items():
        write("fuzz_script", name, bytes([flags]) + script.encode("latin-1") + b"\0" + answers)


def pure_seeds():
    packed = zlib.compress(b"QZBIN" + bytes(range(256)) * 8)
    seeds = {
        "version": b"2.5.0.6",
        "version-long": b"99999999999.2147483647.1.1.5",
        "version-empty-groups": b"..7.",
        "line-ends": b"A\r\nB\rC\n\r\r\nD\r",
        "script-line": b"SEND1~ECHO %0.%1~MANAGER.SYS~910\nPUB\nVORDANEX",
        "script-six-fields": b"A~1~0012~12a~-5~99999999999999999999999~rest~more",
        "expand-self": b"MSGB~%2\nx\ny\n%2%2",
        "expand-bad": b"MSGB~100%\n",
        "zlib": packed,
        "zlib-truncated": packed[: len(packed) // 2],
        "messages": logon() + term_io("A\0B") + message(2, 1, 0, length=6),
        "termio-count-large": term_io("x", count=65535),
    }
    for name, data in seeds.items():
        write("fuzz_pure", name, data)


def terminal_input(data):
    return struct.pack(">HBBBBHHHH", 14 + len(data), 2, 3, 0, 0, 0x0100, 0x8000, 0x8000,
                       len(data)) + data


def block(sequence, data):
    body = struct.pack(">HH", sequence, len(data)) + data.ljust(1024, b"\0")
    return b"\x02" + body + struct.pack(">H", sum(body) & 0xFFFF) + b"\x03"


def sim_seeds():
    negotiation_reply = struct.pack(">HBBBBHH", 26, 2, 1, 0, 1, 1, 0x8000) + bytes(16)
    address = b"127.0.0.1"
    open_request = (struct.pack(">HBBBBHHH", 71, 2, 0, 0, 1, 1, 0x8000, 0) + b" " * 6 +
                    struct.pack(">H", len(address)) + address.ljust(51, b"\0"))
    commands = [b"HELLO MANAGER.SYS", b"BUILD $NEWPASS;REC=-80,,F,ASCII;CODE=1234;DISC=3",
                b"RUN FCOPY.PUB.SYS", b"FROM=$CTUL;TO=$OLDPASS", b"", b"0100", b"A" * 80,
                b"0100", b"B" * 80, b":EOD", b"E", b"SAVE $OLDPASS,NEWFILE",
                b"LISTFILE NEWFILE,2", b"VERSION NEWFILE", b"BUILD X;REC=1073741824",
                b"ECHO !HPUSER.!HPACCOUNT", b"PURGE NEWFILE", b"BYE"]
    descriptor = (bytes([66, 0]) + struct.pack(">HH", 15, 7) + bytes(2) +
                  b"PROG.PUB.SYS".ljust(40, b"\0")).ljust(128, b"\0")
    header = (b"QZBIN" + struct.pack(">HBI", 256, 0, 4)).ljust(128, b"\0")
    program = [b"HELLO MANAGER.SYS", b"RUN ZORBELIX.PUB.SYS", b"Y", b"", block(0, descriptor),
               block(0, header), b"1", block(1, b"Z" * 1024), block(2, b""), b"BYE"]
    text_descriptor = (bytes([64, 0]) + struct.pack(">HH", 15, 7) + bytes(2) +
                       b"TEXT".ljust(40, b"\0") + struct.pack(">HH", 80, 10)).ljust(128, b"\0")
    text = [b"HELLO MANAGER.SYS", b"RUN ZORBELIX.PUB.SYS", b"Y", b"", block(0, text_descriptor),
            b"1", block(1, b"LINE ONE\nLINE TWO\n"), block(2, b""), b"BYE"]
    framed = negotiation_reply + open_request
    for name, answers in (("commands", commands), ("program", program), ("text", text)):
        write("fuzz_sim", name, bytes([0]) + framed + b"".join(terminal_input(a) for a in answers))
    write("fuzz_sim", "lines", bytes([0x01]) + b"\n".join(commands))
    write("fuzz_sim", "passwords", bytes([0x03]) + b"HELLO MANAGER.SYS\nPW\nPW\nPW\nSHOWME\nSHOWJOB")


receive_seeds()
script_seeds()
pure_seeds()
sim_seeds()
