#include "runner/ProgramHelp.h"

namespace tarvik {

namespace {

const char* const kBody =
    "\n"
    "The customer-service voice menu of an internet service provider, run by\n"
    "Asterisk through AGI: one process per call, AGI on standard input/output.\n"
    "\n"
    "Arguments:\n"
    "  DESTINATION          only reported to the back office; leave it out when the\n"
    "                       first argument is the configuration (a name holding \".json\")\n"
    "  CONFIG.json          the configuration file: back office, switches, routing profile\n"
    "  mark::KEY:VALUE      a mark of the call, matched by the routing profile\n"
    "\n"
    "Options:\n"
    "  -e, --emulator       run without Asterisk: a robot file stands in for the caller\n"
    "                       and every call operation is printed on standard output\n"
    "  -r, --robot ROBOT    the emulator's robot file (./ROBOT when the name holds a \".\",\n"
    "                       else ./ROBOT.xml, then /etc/tarvik/kestro/agi/template/ROBOT.xml;\n"
    "                       a path beginning with \"/\" is read as it stands); one that\n"
    "                       cannot be read stops the program before the call, status 1\n"
    "  -v, --version        print the version banner on standard error\n"
    "  -h, --help           print this text\n"
    "\n"
    "FastAGI service (Asterisk calls AGI(agi://HOST:PORT/PROGRAM,DESTINATION,CONFIG.json)):\n"
    "  --fastagi [ADDRESS:]PORT\n"
    "                       serve calls over TCP, each in a call process of a pool;\n"
    "                       listens on 127.0.0.1 unless an address is given\n"
    "  --max-calls N        refuse connections beyond N calls at once (default 200)\n"
    "  --allow CIDR         accept only peers of this network (repeat for more)\n"
    "  --calls-per-process N\n"
    "                       calls a call process serves in turn before it is replaced\n"
    "                       (default 1000; 1: a fresh process for every call)\n"
    "  --spare-processes N  call processes kept waiting for calls (default 2)\n"
    "  --idle-timeout SECONDS\n"
    "                       a call process beyond the spare ones that waits this long\n"
    "                       for a call leaves (default 60)\n"
    "  --configs DIR        calls may only name configuration files inside DIR\n"
    "                       (a relative name is looked up there)\n"
    "  --metrics [ADDRESS:]PORT\n"
    "                       serve /metrics (Prometheus) and /health over HTTP;\n"
    "                       on 127.0.0.1 unless an address is given\n"
    "  --metrics-allow CIDR accept only peers of this network on the metrics port\n"
    "\n"
    "Configuration check (before a reload; the file is never changed):\n"
    "  --check CONFIG.json  load the configuration and its profile as a call does and\n"
    "                       print one line per problem: JSON syntax, key types, keys no\n"
    "                       one reads, endpoints, back-office address and readiness,\n"
    "                       spool, prompts without an audio file; exit 0 when there is none\n"
    "  --offline            with --check: do not ask the back office whether it is ready\n"
    "  --as-user NAME       with --check: the user that runs the calls; what it cannot\n"
    "                       read is a problem (checked as root without it too, for the\n"
    "                       owner of the spool directory)\n"
    "\n"
    "Routing profile (which extension a call gets at an exit):\n"
    "  --explain-route CONFIG.json EXIT [mark::KEY:VALUE ...]\n"
    "                       for the exit key EXIT (50001..50031) or a forwarding text\n"
    "                       the profile lists, and a call with these marks (and\n"
    "                       state=ready, as every call): each route entry in file order,\n"
    "                       whether its condition holds (else which mark does not),\n"
    "                       the entry chosen and the extension; exit 1 for an unknown\n"
    "                       exit or a configuration or profile that cannot be used\n"
    "\n"
    "Records the back office could not take (spoolDirectory):\n"
    "  --flush-spool CONFIG.json\n"
    "                       send them now, oldest first (for a timer when no calls\n"
    "                       come); exit 0 when none is left waiting and none was set aside\n"
    "  --list-spool CONFIG.json\n"
    "                       per back office: records waiting, aside, the oldest, held until\n"
    "  --requeue-aside CONFIG.json\n"
    "                       the configuration's back office's aside records wait again\n"
    "  --move-spool CONFIG.json ADDRESS\n"
    "                       records of an old back-office address move to the configuration's\n"
    "  --delete-spool CONFIG.json ADDRESS\n"
    "                       every record of the back offices at ADDRESS is removed\n"
    "\n"
    "Exit status: 0 after a call, 1 on a command-line error, an unreadable robot file\n"
    "or a failed session; with --check, 1 when a problem was found.\n"
    "\n";

}  // namespace

std::string ProgramHelp::name(const std::string& program) {
    std::size_t slash = program.rfind('/');
    std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
    return name.empty() ? "ivr-orvel" : name;
}

std::string ProgramHelp::usage(const std::string& program) {
    const std::string shown = name(program);
    const std::string indent(shown.size() + 8, ' ');
    std::string text;
    text += "Usage: " + shown + " [-e] [-r ROBOT] [DESTINATION] CONFIG.json [mark::KEY:VALUE ...]\n";
    text += "       " + shown + " --fastagi [ADDRESS:]PORT [--max-calls N] [--allow CIDR]...\n";
    text += indent + "[--configs DIR] [--calls-per-process N] [--spare-processes N]\n";
    text += indent + "[--idle-timeout SECONDS] [--metrics [ADDRESS:]PORT] [--metrics-allow CIDR]...\n";
    text += "       " + shown + " --check CONFIG.json [--offline] [--as-user NAME]\n";
    text += "       " + shown + " --explain-route CONFIG.json EXIT [mark::KEY:VALUE ...]\n";
    text += "       " + shown + " --flush-spool CONFIG.json\n";
    text += "       " + shown + " --list-spool CONFIG.json | --requeue-aside CONFIG.json\n";
    text += "       " + shown + " --move-spool CONFIG.json ADDRESS | --delete-spool CONFIG.json ADDRESS\n";
    text += "       " + shown + " -v | --version\n";
    text += "       " + shown + " -h | --help\n";
    return text;
}

std::string ProgramHelp::text(const std::string& program) {
    const std::string shown = name(program);
    std::string text = usage(program);
    text += kBody;
    text += "More: man " + shown + ", and README.md in the source tree or in\n";
    text += "/usr/share/doc/tarvik-kestro-ivr/ when installed from the package.\n";
    return text;
}

}  // namespace tarvik
