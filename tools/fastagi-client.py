#!/usr/bin/env python3
"""Plays Asterisk for one call against a FastAGI service (ivr-orvel or
ivr-pelion --fastagi), to try the service without Asterisk.

Connects, sends the start-up block (agi_network_script, the caller's
number, the AGI() arguments as agi_arg_N), then answers each command as a
channel would: "200 result=..." with the next keys of --digits for GET DATA
and WAIT FOR DIGIT (a timeout once they run out), variables of --variable
for GET VARIABLE, success for everything else. Prints the exchange
("<<" what the service sent, ">>" the reply) and ends when the service
closes the connection after its Goto (or hang-up), showing where the call
went. Exit status 0 when the call ended on a Goto or a hang-up, 1
otherwise.

    tools/fastagi-client.py [--host 127.0.0.1] [--port 4573] [--script ivr-orvel]
        [--callerid 11987654321] [--digits 1,2,...] [--variable NAME=VALUE]...
        [ARGUMENT...]        (the AGI() arguments: DESTINATION CONFIG.json mark::k:v)

Example: tools/fastagi-client.py --digits 1,1 atendimento /etc/tarvik/kestro/orvel.json
"""
import argparse
import re
import socket
import sys


def startup_block(options):
    lines = {
        "agi_network": "yes",
        "agi_network_script": options.script,
        "agi_request": "agi://%s:%d/%s" % (options.host, options.port, options.script),
        "agi_channel": "PJSIP/trunk-00000001",
        "agi_language": "pt_BR",
        "agi_type": "PJSIP",
        "agi_uniqueid": "1765246800.1",
        "agi_version": "22.10.1",
        "agi_callerid": options.callerid,
        "agi_calleridname": "FastAGI client",
        "agi_callingpres": "0",
        "agi_callingani2": "0",
        "agi_callington": "0",
        "agi_callingtns": "0",
        "agi_dnid": "4000",
        "agi_rdnis": "unknown",
        "agi_context": "from-trunk",
        "agi_extension": "4000",
        "agi_priority": "1",
        "agi_enhanced": "0.0",
        "agi_accountcode": "",
        "agi_threadid": "1",
    }
    text = "".join("%s: %s\n" % pair for pair in lines.items())
    text += "".join("agi_arg_%d: %s\n" % (index, argument) for index, argument in enumerate(options.arguments, 1))
    return text + "\n"


class Channel:
    """The replies of a channel whose caller presses the keys given."""

    def __init__(self, digits, variables):
        self.digits = list(digits)
        self.variables = variables
        self.goto = None

    def reply(self, command):
        words = command.split() or [""]
        first = words[0].upper()
        verb = " ".join(words[:2]).upper()
        if verb == "GET DATA":
            if not self.digits:
                return "200 result= (timeout)"
            return "200 result=%s" % self.digits.pop(0)
        if verb == "WAIT FOR":
            if not self.digits or not self.digits[0]:
                if self.digits:
                    self.digits.pop(0)
                return "200 result=0"
            keys = self.digits[0]
            self.digits[0] = keys[1:]
            if not self.digits[0]:
                self.digits.pop(0)
            return "200 result=%d" % ord(keys[0])
        if verb == "GET VARIABLE" or verb == "GET FULL":
            name = words[2] if len(words) > 2 else ""
            if name in self.variables:
                return "200 result=1 (%s)" % self.variables[name]
            return "200 result=0"
        if verb == "STREAM FILE":
            return "200 result=0 endpos=8000"
        if verb == "CHANNEL STATUS":
            return "200 result=6"
        if first == "HANGUP":
            self.goto = self.goto or "hang-up"
            return "200 result=1"
        if first == "VERBOSE" or verb == "SET VARIABLE":
            return "200 result=1"
        match = re.match(r'^EXEC\s+Goto\s+"?([^"\s]*)"?', command, re.IGNORECASE)
        if match:
            self.goto = match.group(1)
        return "200 result=0"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=4573)
    parser.add_argument("--script", default="ivr-orvel", help="the name in agi://HOST:PORT/NAME")
    parser.add_argument("--callerid", default="11987654321", help="the calling number (agi_callerid)")
    parser.add_argument("--digits", default="", help="keys the caller types, one comma-separated answer per question")
    parser.add_argument("--variable", action="append", default=[], metavar="NAME=VALUE",
                        help="a channel variable GET VARIABLE finds (var1, ...)")
    parser.add_argument("--timeout", type=float, default=30, help="seconds to wait for each command")
    parser.add_argument("arguments", nargs="*", help="the AGI() arguments")
    options = parser.parse_args()
    variables = dict(item.split("=", 1) for item in options.variable if "=" in item)
    channel = Channel(options.digits.split(",") if options.digits else [], variables)

    connection = socket.create_connection((options.host, options.port), timeout=options.timeout)
    block = startup_block(options)
    for line in block.splitlines():
        if line:
            print(">> " + line)
    connection.sendall(block.encode())
    stream = connection.makefile("rb")
    while True:
        try:
            line = stream.readline()
        except socket.timeout:
            print("== no command for %g s: giving up" % options.timeout)
            return 1
        if not line:
            break
        command = line.decode("utf-8", "replace").rstrip("\r\n")
        if not command:
            continue
        answer = channel.reply(command)
        print("<< " + command)
        print(">> " + answer)
        connection.sendall((answer + "\n").encode())
    connection.close()
    print("== the service closed the call: %s" % ("went to " + channel.goto if channel.goto else "no Goto"))
    return 0 if channel.goto else 1


sys.exit(main())
