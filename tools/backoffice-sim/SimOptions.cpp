#include "tools/backoffice-sim/SimOptions.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace tarvik {

namespace {

enum OptionCode {
    kPort = 1000,
    kData,
    kToken,
    kJournal,
    kRecallWindow,
    kDelayMs,
    kStatus,
    kDelay,
    kDrop,
    kBody,
    kThreads,
    kKeepAlive,
    kSilent,
    kTlsCert,
    kTlsKey,
    kHelp,
};

bool parseInteger(const char* text, int minimum, int maximum, int& value) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

// Splits "OP=VALUE" and resolves OP.
bool parseOperationPair(const std::string& text, SimOperation& operation, std::string& value,
                        std::string& error) {
    std::string::size_type equals = text.find('=');
    if (equals == std::string::npos || equals + 1 == text.size()) {
        error = "expected OP=VALUE, got '" + text + "'";
        return false;
    }
    std::string name = text.substr(0, equals);
    if (!simOperationFromName(name, operation)) {
        error = "unknown operation '" + name + "' (one of: " + simOperationNameList() + ")";
        return false;
    }
    value = text.substr(equals + 1);
    return true;
}

}  // namespace

bool SimOptionsParser::parse(int argc, char** argv, SimOptions& options, std::string& error) {
    static const struct option kLongOptions[] = {
        {"port", required_argument, nullptr, kPort},
        {"data", required_argument, nullptr, kData},
        {"token", required_argument, nullptr, kToken},
        {"journal", required_argument, nullptr, kJournal},
        {"recall-window", required_argument, nullptr, kRecallWindow},
        {"delay-ms", required_argument, nullptr, kDelayMs},
        {"status", required_argument, nullptr, kStatus},
        {"delay", required_argument, nullptr, kDelay},
        {"drop", required_argument, nullptr, kDrop},
        {"body", required_argument, nullptr, kBody},
        {"threads", required_argument, nullptr, kThreads},
        {"keep-alive", required_argument, nullptr, kKeepAlive},
        {"silent", no_argument, nullptr, kSilent},
        {"tls-cert", required_argument, nullptr, kTlsCert},
        {"tls-key", required_argument, nullptr, kTlsKey},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;  // reasons are reported by the caller, in one line
    optind = 1;
    for (;;) {
        int code = getopt_long(argc, argv, "h", kLongOptions, nullptr);
        if (code == -1) {
            break;
        }
        const char* value = optarg;
        SimOperation operation = SimOperation::Unknown;
        std::string text;
        switch (code) {
        case kPort:
            if (!parseInteger(value, 0, 65535, options.port)) {
                error = "--port needs a number from 0 to 65535";
                return false;
            }
            break;
        case kData:
            options.dataFile = value;
            break;
        case kToken:
            options.token = value;
            break;
        case kJournal:
            options.journalFile = value;
            break;
        case kRecallWindow:
            if (!parseInteger(value, 0, INT_MAX, options.recallWindowSeconds)) {
                error = "--recall-window needs a number of seconds (0 or more)";
                return false;
            }
            break;
        case kDelayMs:
            if (!parseInteger(value, 0, 3600 * 1000, options.delayMs)) {
                error = "--delay-ms needs a number of milliseconds (0 to 3600000)";
                return false;
            }
            break;
        case kThreads:
            if (!parseInteger(value, 1, 4096, options.threads)) {
                error = "--threads needs a number from 1 to 4096";
                return false;
            }
            break;
        case kKeepAlive:
            if (!parseInteger(value, 1, 3600, options.keepAliveSeconds)) {
                error = "--keep-alive needs a number of seconds from 1 to 3600";
                return false;
            }
            break;
        case kTlsCert:
            options.tlsCert = value;
            break;
        case kTlsKey:
            options.tlsKey = value;
            break;
        case kStatus: {
            int status = 0;
            if (!parseOperationPair(value, operation, text, error)) {
                error = "--status: " + error;
                return false;
            }
            if (!parseInteger(text.c_str(), 200, 599, status)) {
                error = "--status: the code must be a number from 200 to 599";
                return false;
            }
            options.statusOverrides[operation] = status;
            break;
        }
        case kDelay: {
            int delay = 0;
            if (!parseOperationPair(value, operation, text, error)) {
                error = "--delay: " + error;
                return false;
            }
            if (!parseInteger(text.c_str(), 0, 3600 * 1000, delay)) {
                error = "--delay: the delay must be a number of milliseconds (0 to 3600000)";
                return false;
            }
            options.operationDelays[operation] = delay;
            break;
        }
        case kDrop:
            if (!simOperationFromName(value, operation)) {
                error = std::string("--drop: unknown operation '") + value + "' (one of: " +
                        simOperationNameList() + ")";
                return false;
            }
            options.drops.insert(operation);
            break;
        case kBody:
            if (!parseOperationPair(value, operation, text, error)) {
                error = "--body: " + error;
                return false;
            }
            options.bodyFiles[operation] = text;
            break;
        case kSilent:
            options.silent = true;
            break;
        case 'h':
        case kHelp:
            options.help = true;
            break;
        default:
            if (optopt != 0 && optopt < kPort) {
                error = std::string("unknown option '-") + static_cast<char>(optopt) + "'";
            } else if (optind > 0 && optind <= argc) {
                error = std::string("unknown option or missing value: '") + argv[optind - 1] + "'";
            } else {
                error = "unknown option";
            }
            return false;
        }
    }
    if (optind < argc) {
        error = std::string("unexpected argument '") + argv[optind] + "'";
        return false;
    }
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    return true;
}

std::string SimOptionsParser::usage() {
    return "usage: backoffice-sim [options]\n"
           "A stand-in for the ISP back office: answers the IVR's REST calls on 127.0.0.1\n"
           "from a customer fixture. Prints 'listening on 127.0.0.1:PORT' first; stops\n"
           "on SIGTERM or SIGINT.\n"
           "\n"
           "  --port N             port to listen on (default 0: a free port)\n"
           "  --data FILE          customer fixture (JSON); without it nobody is found\n"
           "  --token T            require the header 'PreAuthorization: Bearer T' (401 otherwise)\n"
           "  --journal FILE       append every request as one JSON line to FILE\n"
           "  --recall-window S    a second call of a document within S seconds is a recall\n"
           "                       (default 300; 0: never)\n"
           "  --threads N          worker threads, one per open connection (default 64)\n"
           "  --keep-alive S       idle seconds before a persistent connection closes (default 5)\n"
           "  --tls-cert FILE      serve HTTPS with this certificate (PEM; with --tls-key)\n"
           "  --tls-key FILE       the certificate's private key (PEM)\n"
           "Fault injection (OP is one of: " +
           simOperationNameList() +
           "):\n"
           "  --delay-ms N         delay every answer by N milliseconds\n"
           "  --status OP=CODE     answer OP with status CODE (body unchanged); repeatable\n"
           "  --delay OP=MS        delay the answers to OP by MS milliseconds (instead of\n"
           "                       --delay-ms); repeatable\n"
           "  --drop OP            close the connection without answering OP; repeatable\n"
           "  --body OP=FILE       answer OP with the bytes of FILE; repeatable\n"
           "  --silent             a back office that stopped answering: accept every\n"
           "                       connection and hold it, never reading or answering\n"
           "                       (only --port applies)\n"
           "  --help               print this text\n"
           "\n"
           "GET /_sim/stats answers {\"connections\":N,\"requests\":M}.\n";
}

}  // namespace tarvik
