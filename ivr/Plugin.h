#pragma once

#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <string>

#include <json/json.h>

#include "agi/KestroAgiImpl.h"
#include "configuration/Configuration.h"
#include "ivr/IvrDestination.h"
#include "ivr/PluginFeatures.h"
#include "metrics/CallSummary.h"
#include "profile/Profile.h"
#include "records/BackOfficeKeys.h"
#include "records/CallRecords.h"
#include "runner/IModuleIvr.h"

namespace tarvik {

class BackOfficeSteps;
class ISPClient;
class ISPSignature;

// The IVR module that carries the whole customer-service call flow. The
// site modules derive from it and replace onLoadPlugin (the back-office
// endpoints) and phaseIsClient (the identification dialogue).
//
// Configuration, marks, destinations and redirect live in Plugin.cpp; the
// call flow (play, the phases and their dialogues) in PluginCallFlow.cpp.
class Plugin : public IModuleIvr, public Configuration {
public:
    using IvrDestination = tarvik::IvrDestination;

    // Prompts resolve to this directory unless the profile gives another.
    static constexpr const char* kDefaultAudioDir = "/etc/tarvik/kestro/audios/";
    // Records the back office could not take wait here unless the
    // configuration names another directory ("spoolDirectory").
    static constexpr const char* kDefaultSpoolDir = BackOfficeKeys::kDefaultSpoolDir;

    Plugin();
    ~Plugin() override;

    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // --- IModuleIvr -------------------------------------------------------
    void play(KestroAgiImpl& session) override;
    void setDestination(KestroAgiImpl& session, const char* destination) override;
    void loadConfiguration(KestroAgiImpl& session, const char* path) override;
    // An argument matching "mark::.+?:.+" becomes a mark; others are ignored.
    void onReadArgument(const char* argument) override;
    // The key and value of such an argument; false (both untouched) when
    // the argument is none.
    static bool parseMarkArgument(const char* argument, std::string& key, std::string& value);
    // The mark every call has from its start, until something replaces it.
    static constexpr const char* kStartMarkKey = "state";
    static constexpr const char* kStartMarkValue = "ready";
    // Module name (and base name) becomes `name`, "plugin" when null.
    void rename(const char* name) override;
    // Delivers the records still pending, within "pendingTimeout", then
    // leaves the call's summary line in the system log and, for a call
    // Asterisk started, adds its numbers to "metricsFile".
    void onCallHandedBack() override;
    // The same at once: what is still pending waits in the spool.
    void onCallEndedWithoutHandBack() override;

    // --- call-flow hooks ----------------------------------------------------
    virtual void phaseWelcome(KestroAgiImpl& session);
    // True: go on (with or without a client). False: already redirected.
    virtual bool phaseIsClient(KestroAgiImpl& session);
    virtual void phaseIsClientByPhone(KestroAgiImpl& session);

    // --- Configuration face (the back-office client reads these) -----------
    const std::string& getEndpointSaveIdentification() const override;
    const std::string& getEndpointSendProtocol() const override;
    const std::string& getEndpointFindClientByDocument() const override;
    const std::string& getEndpointFindClientByPhone() const override;
    const std::string& getEndpointFindClientUnlock() const override;
    const std::string& getEndpointFindInvoiceSend() const override;
    const std::string& getEndpointExternalProtocol() const override;
    const std::string& getBaseUri() const override;
    const std::string& getAccessToken() const override;
    const std::string& getCallerId() const override;
    const std::string& getProtocol() const override;
    const std::string& getChannel() const override;
    const std::string& getModuleName() const override;
    const std::string& getPluginId() const override;
    const std::string& getPluginDriver() const override;
    // The mark's value, or null when the call has no such mark. Valid until
    // that mark is replaced.
    const char* getMark(std::string key) override;

    // Receives a copy of the configuration's "plugin" object; the site
    // modules build the endpoints here. Does nothing in Plugin.
    virtual void onLoadPlugin(KestroAgiImpl& session, Json::Value plugin);

    // --- non-virtual --------------------------------------------------------
    // Null until loadConfiguration has created them.
    BackOfficeSteps* getHttp() const { return http.get(); }
    PluginFeatures* getFeatures() const { return features.get(); }

    const std::string& getEscapeCode() const { return escapeCode; }
    bool isIgnoreEmptyBarCode() const { return ignoreEmptyBarCode; }
    bool isApiReady() const { return apiReady; }
    // The destination given on the command line (only ever reported).
    const std::string& getCommandDestination() const { return destination; }
    const std::string& getDocument() const { return document; }
    ISPClient* getClient() const { return client.get(); }
    const std::map<std::string, std::string>& getMarks() const { return marks; }

    void setEndpointFindClientByDocument(const std::string& endpoint);
    void setEndpointFindClientByPhone(const std::string& endpoint);
    void setEndpointFindClientUnlock(const std::string& endpoint);
    void setEndpointFindInvoiceSend(const std::string& endpoint);
    void setEndpointSendProtocol(const std::string& endpoint);
    void setEndpointSaveIdentification(const std::string& endpoint);
    void setEndpointExternalProtocol(const std::string& endpoint);

    // Inserts the mark or replaces its value.
    void setMark(std::string key, std::string value);
    // Start-of-call marks: "state" = "ready", then start-up variables
    // var1..var9 in mark-argument form, up to the first absent one.
    void loadMark(KestroAgiImpl& session);
    // Caller id, protocol and channel from the AGI start-up variables.
    void loadEnv(KestroAgiImpl& session);

    // Key text of a destination ("50005" for ClientNotFound).
    std::string getDestinationValue(IvrDestination destination) const;
    // The profile's extension for `key` under the current marks, else the
    // key itself; the empty key gives the empty text. `routeEntry`, when
    // given, gets the index of the route entry that replaced it, else -1.
    std::string getProfileDestination(const std::string& key, int* routeEntry = nullptr);
    // Audio directory (profile's, or the default) followed by `name`.
    std::string getProfileAudio(const std::string& name);
    // Traces `text`, reports the exit to the back office (when eventManager
    // is on) and sends the call to the resolved extension, priority "1", in
    // the session's default context.
    void redirect(KestroAgiImpl& session, const std::string& key, const std::string& text);

    // Leading decimal digits of `text` ("123A45" -> "123", "A12" -> "").
    static std::string extractOnlyNumber(const std::string& text);
    // Part of `value` in local time: 'H' hour, 'd' day, 'i' minute,
    // 'm' month 1..12, 's' second, 'y' four-digit year; -1 otherwise.
    static int getDatePart(char part, time_t value);

protected:
    // Remote log entry ("main" destination) when eventManager is on and the
    // client exists; data texts may be null.
    void logEntry(KestroAgiImpl& session, const std::string& eventType,
                  const char* data1 = nullptr, const char* data2 = nullptr);
    // True when remote log entries and events are to be sent.
    bool eventsEnabled() const;

    // Steps shared by the identification dialogues (phaseIsClient variants).
    // The site modules' onLoadPlugin: with a string "driver" and "id" in
    // `plugin`, copies them into `driver` and `id`, sets the seven endpoints
    // (the back-office table's paths for that driver and id) and reports success;
    // otherwise reports "failure on load plugin data" and changes nothing.
    void loadIspEndpoints(KestroAgiImpl& session, const Json::Value& plugin, std::string& driver, std::string& id);
    // When `document` is the configured escape code: log entry
    // "forward-by-scape-code", redirect to EscapeCode, true.
    bool leaveByEscapeCode(KestroAgiImpl& session);
    // Looks `document` up when findClientByDocument is on (else clears
    // `client`); true when a client was found.
    bool findClientByTypedDocument(KestroAgiImpl& session);
    // Saves the identification when its endpoint is set and the
    // selfUpdateClientPhoneNumber switch is on.
    void saveIdentificationWhenEnabled(KestroAgiImpl& session);
    // Asks "is_client" (one digit, prompt "Orvel-u4-04") up to three times:
    // "1" wants the plans (redirect, false), "2" is a customer (true). At the
    // limit, "Orvel-u4-54" is played first when `promptAtLimit`, then the call
    // goes to ClientAnswerLimit (false).
    bool askIsCustomer(KestroAgiImpl& session, bool promptAtLimit);
    // The rest of the dialogues that first ask "is_client": the readiness
    // check, up to three document passes (a document already known is used
    // as it is in the first pass; "document" takes at most `documentDigits`),
    // escape code, lookup, then the identification save. False when the call
    // has already been redirected.
    bool identifyByTypedDocument(KestroAgiImpl& session, int documentDigits);

    std::string endpointFindClientByDocument;
    std::string endpointFindClientByPhone;
    std::string endpointFindClientUnlock;
    std::string endpointFindInvoiceSend;
    std::string endpointSendProtocol;
    std::string endpointSaveIdentification;
    std::string endpointExternalProtocol;
    bool ignoreEmptyBarCode = false;
    bool apiReady = false;
    std::string escapeCode;
    Profile profile;
    // The call's records; declared first so the client that hands them over
    // goes first.
    std::unique_ptr<CallRecords> records;
    std::unique_ptr<BackOfficeSteps> http;
    std::map<std::string, std::string> marks;
    std::string callerId;
    std::string protocol;
    std::string channel;
    std::string moduleName;
    std::string pluginId;
    std::string pluginDriver;
    std::string document;
    std::string destination;
    std::unique_ptr<ISPClient> client;
    std::unique_ptr<PluginFeatures> features;

    // The back office's address, token, transfer settings and how records travel.
    BackOfficeKeys backOffice;

private:
    // True when the flow will look the caller's number up once the back
    // office is ready (so the lookup may start early).
    bool wantsLookupByPhone() const;

    void readConfiguration(KestroAgiImpl& session, const Json::Value& root);
    // The records and the early requests get `pendingSeconds` more, then
    // the summary line and the metrics file.
    void finishCall(long pendingSeconds);
    // After the hand-back: the summary line and the metrics file.
    void reportCall(double secondsInCall);

    // What the call leaves once it is over (play fills it).
    CallSummary summary;
    bool callPlayed = false;
    std::chrono::steady_clock::time_point callStarted;
    std::string metricsFile;

    // --- call flow helpers ---
    // (declarations used only by PluginCallFlow.cpp go here)
    // The dialogues' narrow view of the module reads the call's state.
    friend class DialogueContext;
    // Everything play does after the marks and call identifiers, inside
    // its error guard.
    void runCall(KestroAgiImpl& session);
    // Document event and type mark, TARVIK_API_ID, the customer's marks.
    void recordCustomer(KestroAgiImpl& session);
    // Makes a contract the standard one; false when the call was redirected.
    bool selectContract(KestroAgiImpl& session);
    // Up to three rounds of listing the addresses and asking for one.
    void askForContract(KestroAgiImpl& session);
    // Protocol, maintenance, recall, forwarding, bar code, then the state.
    void runChecksAfterSelection(KestroAgiImpl& session);
    // The type mark and the customer's own marks, without a word to the call.
    void applyCustomerMarks();
    // Once the contract of the call is certain (and with background
    // records): the ticket and the recall requests that the checks after
    // the selection will make start now; once a call.
    void startChecksEarly(KestroAgiImpl& session, ISPSignature* contract);
    bool checksStartedEarly = false;
    // Once the exit is certain and a prompt still comes before it: the
    // forward event of the redirect starts now (with background records).
    void startForwardEvent(IvrDestination destination);
    void dispatchByState(KestroAgiImpl& session);
};

}  // namespace tarvik
