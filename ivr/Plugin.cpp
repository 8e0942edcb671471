#include "ivr/Plugin.h"

#include <regex.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "api/BackOfficeTable.h"
#include "configuration/ConfigurationKeyTable.h"
#include "ivr/BackOfficeSteps.h"
#include "metrics/CallMetrics.h"
#include "metrics/CallTally.h"
#include "metrics/MetricsFile.h"
#include "model/ISPClient.h"
#include "util/CText.h"
#include "util/JsonFile.h"
#include "util/JsonMembers.h"
#include "util/SystemLog.h"

namespace tarvik {

namespace {

constexpr const char* kMarkArgumentPattern = "mark::.+?:.+";

// Every key read is safe for any root value: JsonMembers answers null for
// a root that is not an object.
const Json::Value* member(const Json::Value& object, const char* key) { return JsonMembers::find(object, key); }

bool isMarkArgument(const char* argument) {
    regex_t expression;
    if (regcomp(&expression, kMarkArgumentPattern, REG_EXTENDED | REG_NOSUB) != 0) return false;
    bool matches = regexec(&expression, argument, 0, nullptr, 0) == 0;
    regfree(&expression);
    return matches;
}

}  // namespace

Plugin::Plugin() : IModuleIvr("plugin"), moduleName("plugin") {}

// Out of line: the owned records are complete types only here.
Plugin::~Plugin() = default;

// --- configuration --------------------------------------------------------

void Plugin::setDestination(KestroAgiImpl&, const char* text) { destination = text != nullptr ? text : ""; }

void Plugin::loadConfiguration(KestroAgiImpl& session, const char* path) {
    if (path == nullptr) return;

    JsonFile::Outcome outcome;
    std::shared_ptr<const Json::Value> root = JsonFile::load(path, outcome);
    if (outcome == JsonFile::Outcome::unreadable) {
        session.verbose("configuration file %s not exists", path);
        return;
    }
    if (!root) {
        session.verbose("failure on load json configuration from file %s", path);
        return;
    }

    readConfiguration(session, *root);

    if (!profile.load(session, path)) session.verbose("failure on load profile");
}

void Plugin::readConfiguration(KestroAgiImpl& session, const Json::Value& root) {
    using Id = ConfigurationKeyId;
    // A root that is not an object reads as an object without keys: member()
    // answers null for it, so every key below keeps its default.
    ignoreEmptyBarCode = configurationKey(Id::IgnoreEmptyBarCode).defaultFlag();
    JsonMembers::readBool(root, configurationKeyName(Id::IgnoreEmptyBarCode), ignoreEmptyBarCode);
    backOffice.read(root);
    JsonMembers::readString(root, configurationKeyName(Id::EscapeCode), escapeCode);
    JsonMembers::readString(root, configurationKeyName(Id::MetricsFile), metricsFile);

    const Json::Value* value = member(root, configurationKeyName(Id::Language));
    if (value != nullptr && value->isString()) session.setLanguage(value->asCString());
    value = member(root, configurationKeyName(Id::DefaultContext));
    if (value != nullptr && value->isString()) session.setDefaultContext(value->asCString());
    value = member(root, configurationKeyName(Id::Debug));
    if (value != nullptr && value->isString()) session.setDebugLogger(value->asCString());

    value = member(root, configurationKeyName(Id::Plugin));
    if (value != nullptr && value->isObject()) {
        JsonMembers::readString(*value, configurationKeyName(Id::PluginDriver), pluginDriver);
        JsonMembers::readString(*value, configurationKeyName(Id::PluginId), pluginId);
        onLoadPlugin(session, *value);
    }

    features = std::make_unique<PluginFeatures>();
    value = member(root, configurationKeyName(Id::Feature));
    if (value != nullptr) features->apply(*value);

    http.reset();
    records = std::make_unique<CallRecords>(backOffice.senderSettings(), backOffice.backgroundRecords,
                                            backOffice.pendingSeconds);
    http = std::make_unique<BackOfficeSteps>(static_cast<Configuration*>(this));
    backOffice.configure(http->client());
    http->client().setRecordPath(records.get());
}

void Plugin::onCallHandedBack() { finishCall(backOffice.pendingSeconds); }

// The dial plan waits for this process: what is pending goes to the spool.
void Plugin::onCallEndedWithoutHandBack() { finishCall(0); }

void Plugin::finishCall(long pendingSeconds) {
    const double secondsInCall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - callStarted).count();
    // The pending limit counts from here, for the records and for what was
    // started early alike.
    if (http) http->client().cutAfter(std::chrono::seconds(pendingSeconds));
    if (records) records->finish(pendingSeconds);
    if (http) http->client().endCall();
    reportCall(secondsInCall);
}

void Plugin::reportCall(double secondsInCall) {
    if (!callPlayed) return;  // no call was played (a command-line fault, --check)
    callPlayed = false;
    summary.setUniqueId(protocol);
    summary.setCaller(callerId);
    summary.setDocument(document);
    if (!client) summary.setFound(CallSummary::Found::notFound);
    ISPSignature* contract = client ? client->getStandard() : nullptr;
    summary.setContract(contract != nullptr ? contract->getId() : std::string());
    summary.setSeconds(secondsInCall);
    const CallTally::Totals totals = CallTally::totals();
    summary.setRequests(totals.requests, totals.longestRequestSeconds);
    summary.setNotDelivered(totals.notDelivered);
    SystemLog::write(summary.line().c_str());

    // A service counts its calls itself (its /metrics): only a call Asterisk
    // started writes the file.
    if (metricsFile.empty() || CallTally::forwarding()) return;
    std::vector<std::string> reports = CallTally::reports();
    std::set<std::string> replacements;
    if (summary.routedByProfile()) replacements.insert(summary.getExtension());
    reports.push_back(CallMetrics::endReport(summary.getExtension(), replacements, secondsInCall));
    std::string failure;
    // The caller is gone: one line on standard error, and the call goes on.
    if (!MetricsFile::add(metricsFile, reports, failure)) std::fprintf(stderr, "%s\n", failure.c_str());
}

void Plugin::onLoadPlugin(KestroAgiImpl&, Json::Value) {}

void Plugin::onReadArgument(const char* argument) {
    std::string key;
    std::string value;
    if (parseMarkArgument(argument, key, value)) setMark(std::move(key), std::move(value));
}

bool Plugin::parseMarkArgument(const char* argument, std::string& key, std::string& value) {
    if (argument == nullptr || !isMarkArgument(argument)) return false;
    // The match guarantees a "::" followed later by ":" and a value.
    const char* start = std::strstr(argument, "::") + 2;
    const char* separator = std::strchr(start, ':');
    if (separator == nullptr) return false;
    key.assign(start, separator);
    value.assign(separator + 1);
    return true;
}

void Plugin::rename(const char* name) {
    moduleName = name != nullptr ? name : "plugin";
    setName(moduleName.c_str());
}

void Plugin::loadEnv(KestroAgiImpl& session) {
    if (const char* value = session.getAsteriskVariable("agi_callerid")) callerId = value;
    if (const char* value = session.getAsteriskVariable("agi_uniqueid")) protocol = value;
    if (const char* value = session.getAsteriskVariable("agi_channel")) channel = value;
}

// --- marks ----------------------------------------------------------------

void Plugin::setMark(std::string key, std::string value) { marks[std::move(key)] = std::move(value); }

const char* Plugin::getMark(std::string key) {
    auto found = marks.find(key);
    return found == marks.end() ? nullptr : found->second.c_str();
}

void Plugin::loadMark(KestroAgiImpl& session) {
    setMark(kStartMarkKey, kStartMarkValue);
    for (char digit = '1'; digit <= '9'; ++digit) {
        std::string name = std::string("var") + digit;
        const char* value = session.getAsteriskVariable(name.c_str());
        if (value == nullptr) break;
        onReadArgument(value);
    }
}

// --- destinations and redirect --------------------------------------------

std::string Plugin::getDestinationValue(IvrDestination which) const { return destinationKey(which); }

std::string Plugin::getProfileDestination(const std::string& key, int* routeEntry) {
    if (routeEntry != nullptr) *routeEntry = -1;
    if (key.empty()) return std::string();
    const char* replaced = profile.getDestination(marks, key, routeEntry);
    return replaced != nullptr ? std::string(replaced) : key;
}

std::string Plugin::getProfileAudio(const std::string& name) {
    std::string directory = kDefaultAudioDir;
    if (!name.empty()) {
        if (const char* profileDirectory = profile.getAudioDir(marks)) directory = profileDirectory;
    }
    return directory + name;
}

void Plugin::redirect(KestroAgiImpl& session, const std::string& key, const std::string& text) {
    const char* debugFile = session.getDebugLogger();
    if (!text.empty()) {
        // One record per line, so the debug file of many calls stays readable.
        if (debugFile != nullptr) logger(session, debugFile, "%s\n", text.c_str());
        session.verbose("%s", text.c_str());
    }

    // The resolved extension shows in the goTo command itself; no further
    // trace is written (an empty text leaves the debug file untouched).
    int routeEntry = -1;
    std::string target = getProfileDestination(key, &routeEntry);
    summary.setExit(key, target, routeEntry);

    if (eventsEnabled()) {
        http->logger(session, key, "forward", callerId.c_str(), text.c_str(), nullptr, nullptr, nullptr);
        http->addEvent(session, "forward", "ivr.orvel", key);
    }

    // Without a configured context the session's own fallback applies, as for jump.
    session.goTo(session.exitContext(), target.c_str(), "1");
}

bool Plugin::eventsEnabled() const { return features && features->eventManager && http; }

void Plugin::logEntry(KestroAgiImpl& session, const std::string& eventType, const char* data1, const char* data2) {
    if (!eventsEnabled()) return;
    http->logger(session, "main", eventType, data1, data2, nullptr, nullptr, nullptr);
}

// --- identification steps shared by the phaseIsClient variants -------------

void Plugin::loadIspEndpoints(KestroAgiImpl& session, const Json::Value& plugin, std::string& driver,
                              std::string& id) {
    const Json::Value* driverValue = member(plugin, configurationKeyName(ConfigurationKeyId::PluginDriver));
    const Json::Value* idValue = member(plugin, configurationKeyName(ConfigurationKeyId::PluginId));
    if (driverValue == nullptr || !driverValue->isString() || idValue == nullptr || !idValue->isString()) {
        session.verbose("failure on load plugin data");
        return;
    }
    // Texts end at their first NUL byte, as everywhere else in the module.
    driver = driverValue->asCString();
    id = idValue->asCString();

    // Nothing is escaped or checked: the operator writes driver and id.
    using Operation = BackOfficeTable::Operation;
    auto endpoint = [&](Operation operation) { return BackOfficeTable::endpoint(operation, driver, id); };
    setEndpointFindClientByDocument(endpoint(Operation::findByDocument));
    setEndpointFindClientByPhone(endpoint(Operation::findByPhone));
    setEndpointFindClientUnlock(endpoint(Operation::unlock));
    setEndpointFindInvoiceSend(endpoint(Operation::sendInvoice));
    setEndpointSendProtocol(endpoint(Operation::informProtocol));
    setEndpointExternalProtocol(endpoint(Operation::externalProtocol));
    setEndpointSaveIdentification(endpoint(Operation::saveIdentification));
    session.verbose("success on load plugin data");
}

bool Plugin::leaveByEscapeCode(KestroAgiImpl& session) {
    if (escapeCode.empty() || document != escapeCode) return false;
    logEntry(session, "forward-by-scape-code", document.c_str(), callerId.c_str());
    redirect(session, getDestinationValue(IvrDestination::EscapeCode), "typed document, but client not found");
    return true;
}

bool Plugin::findClientByTypedDocument(KestroAgiImpl& session) {
    if (!features || !features->findClientByDocument || !http) {
        client.reset();
        return false;
    }
    client.reset(http->getClientByDocument(session, document, callerId, protocol));
    if (!client) return false;
    summary.setFound(CallSummary::Found::byDocument);
    session.verbose("client found by document: '%s'", document.c_str());
    return true;
}

void Plugin::saveIdentificationWhenEnabled(KestroAgiImpl& session) {
    if (endpointSaveIdentification.empty() || !features || !features->selfUpdateClientPhoneNumber || !http) return;
    http->saveIdentification(session, client.get());
}

bool Plugin::askIsCustomer(KestroAgiImpl& session, bool promptAtLimit) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        CText answer(session.input("is_client", 1, 5, getProfileAudio("Orvel-u4-04").c_str(), 3));
        std::string typed = answer ? std::string(answer.get()) : std::string();
        if (typed == "1") {
            redirect(session, getDestinationValue(IvrDestination::WantsPlans), "quer conhecer os planos");
            return false;
        }
        if (typed == "2") return true;
    }
    if (promptAtLimit) session.background(getProfileAudio("Orvel-u4-54").c_str());
    redirect(session, getDestinationValue(IvrDestination::ClientAnswerLimit),
             "did not inform if it is a client, attempt limit");
    return false;
}

bool Plugin::identifyByTypedDocument(KestroAgiImpl& session, int documentDigits) {
    if (!apiReady) {
        redirect(session, getDestinationValue(IvrDestination::ServerNotReady), "is client, but server is not ready");
        return false;
    }
    for (int pass = 0; pass < 3; ++pass) {
        if (pass > 0 || document.empty()) {
            // Later prompts tell a document that was not found from silence.
            const char* prompt = pass == 0 ? "Orvel-u4-05" : document.empty() ? "Orvel-u4-07" : "Orvel-u4-06";
            CText answer(session.input("document", documentDigits, 5, getProfileAudio(prompt).c_str(), 3));
            document = answer ? std::string(answer.get()) : std::string();
        }
        session.verbose("requested document, attempt %d,  document: '%s'", pass, document.c_str());
        if (document.empty()) continue;
        session.verbose("typed cpf_ou_cnpj: '%s'", document.c_str());
        if (leaveByEscapeCode(session)) return false;
        if (findClientByTypedDocument(session)) break;
    }
    saveIdentificationWhenEnabled(session);
    return true;
}

// --- getters and setters --------------------------------------------------

const std::string& Plugin::getEndpointSaveIdentification() const { return endpointSaveIdentification; }
const std::string& Plugin::getEndpointSendProtocol() const { return endpointSendProtocol; }
const std::string& Plugin::getEndpointFindClientByDocument() const { return endpointFindClientByDocument; }
const std::string& Plugin::getEndpointFindClientByPhone() const { return endpointFindClientByPhone; }
const std::string& Plugin::getEndpointFindClientUnlock() const { return endpointFindClientUnlock; }
const std::string& Plugin::getEndpointFindInvoiceSend() const { return endpointFindInvoiceSend; }
const std::string& Plugin::getEndpointExternalProtocol() const { return endpointExternalProtocol; }
const std::string& Plugin::getBaseUri() const { return backOffice.baseUri; }
const std::string& Plugin::getAccessToken() const { return backOffice.accessToken; }
const std::string& Plugin::getCallerId() const { return callerId; }
const std::string& Plugin::getProtocol() const { return protocol; }
const std::string& Plugin::getChannel() const { return channel; }
const std::string& Plugin::getModuleName() const { return moduleName; }
const std::string& Plugin::getPluginId() const { return pluginId; }
const std::string& Plugin::getPluginDriver() const { return pluginDriver; }

void Plugin::setEndpointFindClientByDocument(const std::string& endpoint) { endpointFindClientByDocument = endpoint; }
void Plugin::setEndpointFindClientByPhone(const std::string& endpoint) { endpointFindClientByPhone = endpoint; }
void Plugin::setEndpointFindClientUnlock(const std::string& endpoint) { endpointFindClientUnlock = endpoint; }
void Plugin::setEndpointFindInvoiceSend(const std::string& endpoint) { endpointFindInvoiceSend = endpoint; }
void Plugin::setEndpointSendProtocol(const std::string& endpoint) { endpointSendProtocol = endpoint; }
void Plugin::setEndpointSaveIdentification(const std::string& endpoint) { endpointSaveIdentification = endpoint; }
void Plugin::setEndpointExternalProtocol(const std::string& endpoint) { endpointExternalProtocol = endpoint; }

}  // namespace tarvik
