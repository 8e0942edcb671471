#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "configuration/ConfigurationKey.h"

namespace tarvik {

namespace configuration_keys {

using Id = ConfigurationKeyId;
using Type = JsonType;

constexpr const char* kDefaultSpoolDirectory = "/var/spool/tarvik/kestro/ivr";

// The one table of configuration keys: a call, --flush-spool and --check
// all read their key names and defaults from here, and the README's table
// is held to it by a test.
inline constexpr ConfigurationKey kTable[] = {
    {Id::Kestro, "kestro", Type::String, "", "base URI of the back-office API"},
    {Id::Token, "token", Type::String, "", "access token sent with every back-office request"},
    {Id::Language, "language", Type::String, "", "channel language set at the start of the call"},
    {Id::DefaultContext, "defaultContext", Type::String, "", "dial-plan context every exit goes to"},
    {Id::Debug, "debug", Type::String, "", "file the call appends its debug records to"},
    {Id::EscapeCode, "escapeCode", Type::String, "", "a typed document that leaves identification at once"},
    {Id::IgnoreEmptyBarCode, "ignoreEmptyBarCode", Type::Boolean, "false",
     "an overdue invoice without bar code does not divert the call"},
    {Id::HttpConnectTimeout, "httpConnectTimeout", Type::Number, "3", "seconds allowed to connect to the back office"},
    {Id::HttpTimeout, "httpTimeout", Type::Number, "10", "seconds allowed for a whole back-office exchange"},
    {Id::VerifyTls, "verifyTls", Type::Boolean, "false", "verify the back office's TLS certificate"},
    {Id::CaFile, "caFile", Type::String, "", "CA bundle used when verifyTls is true (else the system's)"},
    {Id::ReadyTimeout, "readyTimeout", Type::Number, "2", "seconds allowed for the readiness check"},
    {Id::BackgroundRecords, "backgroundRecords", Type::Boolean, "true",
     "remote log entries travel beside the call; false sends every request in line"},
    {Id::SpoolDirectory, "spoolDirectory", Type::String, kDefaultSpoolDirectory,
     "where records the back office could not take wait"},
    {Id::PendingTimeout, "pendingTimeout", Type::Number, "10",
     "seconds a call may go on delivering its records after handing the caller back"},
    {Id::SpoolMaxRecords, "spoolMaxRecords", Type::Number, "1000000",
     "records the spool keeps waiting at most (and, counted apart, aside); the oldest go first"},
    {Id::SpoolMaxMegabytes, "spoolMaxMegabytes", Type::Number, "1024",
     "MiB of records the spool keeps waiting at most (and, counted apart, aside)"},
    {Id::SpoolMaxDays, "spoolMaxDays", Type::Number, "7", "days a record is kept in the spool at most"},
    {Id::MetricsFile, "metricsFile", Type::String, "",
     "Prometheus text file every call started by Asterisk adds its numbers to"},
    {Id::AllowPeers, "allowPeers", Type::Array, "",
     "networks whose FastAGI peers may use this configuration (absent: every peer the service admits)"},
    {Id::AllowPeer, "allowPeers[]", Type::String, "", "one network in CIDR form, e.g. 10.0.0.0/8"},
    {Id::Plugin, "plugin", Type::Object, "", "the site's back-office identity"},
    {Id::PluginDriver, "plugin.driver", Type::String, "", "driver part of the back-office paths"},
    {Id::PluginId, "plugin.id", Type::String, "", "id part of the back-office paths"},
    {Id::Feature, "feature", Type::Object, "", "the feature switches"},
    {Id::FeatureFindClientByPhone, "feature.findClientByPhone", Type::Boolean, "true",
     "look the caller up by calling number"},
    {Id::FeatureFindClientByDocument, "feature.findClientByDocument", Type::Boolean, "true",
     "look the caller up by typed document"},
    {Id::FeatureSignatureUnlock, "feature.signatureUnlock", Type::Boolean, "true", "the trust-unlock request"},
    {Id::FeatureSendInvoice, "feature.sendInvoice", Type::Boolean, "true", "send the invoice to the customer"},
    {Id::FeatureSendProtocol, "feature.sendProtocol", Type::Boolean, "true", "send the protocol number"},
    {Id::FeatureRecall, "feature.recall", Type::Boolean, "true", "register calls and route repeated calls"},
    {Id::FeatureInformProtocol, "feature.informProtocol", Type::Boolean, "true",
     "read the protocol number to the caller"},
    {Id::FeatureExternalProtocol, "feature.externalProtocol", Type::Boolean, "true",
     "fetch a protocol number from the back office"},
    {Id::FeatureSelfUpdateClientPhoneNumber, "feature.selfUpdateClientPhoneNumber", Type::Boolean, "true",
     "save the identification"},
    {Id::FeatureUnderMaintenance, "feature.underMaintenance", Type::Boolean, "true", "announce a maintenance"},
    {Id::FeatureEventManager, "feature.eventManager", Type::Boolean, "true", "every remote log entry and event"},
    {Id::Profile, "profile", Type::Object, "", "the routing profile"},
    {Id::ProfileRoute, "profile.route", Type::Array, "", "route entries, tried in file order"},
    {Id::RouteDestinations, "profile.route[].destinations", Type::Object, "", "exit key to replacement extension"},
    {Id::RouteDestination, "profile.route[].destinations.*", Type::Scalar, "", "the replacement extension"},
    {Id::RouteVariables, "profile.route[].variables", Type::Object, "", "the entry's condition"},
    {Id::RouteDescription, "profile.route[].variables.description", Type::String, "", "a note"},
    {Id::RouteValues, "profile.route[].variables.values", Type::Array, "", "marks that must all hold"},
    {Id::RouteMark, "profile.route[].variables.values[].mark", Type::String, "", "the mark's key"},
    {Id::RouteValue, "profile.route[].variables.values[].value", Type::String, "", "the mark's value"},
    {Id::RoutePriority, "profile.route[].variables.values[].priority", Type::Number, "1", "the value's priority"},
    {Id::ProfileAudio, "profile.audio", Type::Array, "", "audio entries, tried in file order"},
    {Id::AudioDir, "profile.audio[].dir", Type::String, "", "prompt directory, ending in \"/\""},
    {Id::AudioVariables, "profile.audio[].variables", Type::Object, "", "the entry's condition"},
    {Id::AudioDescription, "profile.audio[].variables.description", Type::String, "", "a note"},
    {Id::AudioValues, "profile.audio[].variables.values", Type::Array, "", "marks that must all hold"},
    {Id::AudioMark, "profile.audio[].variables.values[].mark", Type::String, "", "the mark's key"},
    {Id::AudioValue, "profile.audio[].variables.values[].value", Type::String, "", "the mark's value"},
    {Id::AudioPriority, "profile.audio[].variables.values[].priority", Type::Number, "1", "the value's priority"},
};

constexpr std::size_t kCount = static_cast<std::size_t>(Id::Count);
static_assert(sizeof(kTable) / sizeof(kTable[0]) == kCount, "one table entry per key id");

constexpr bool inIdOrder() {
    for (std::size_t index = 0; index < kCount; ++index) {
        if (static_cast<std::size_t>(kTable[index].id) != index) return false;
    }
    return true;
}
static_assert(inIdOrder(), "table entries in key id order");

}  // namespace configuration_keys

// The entry of a key, for its name and default.
constexpr const ConfigurationKey& configurationKey(ConfigurationKeyId id) {
    return configuration_keys::kTable[static_cast<std::size_t>(id)];
}

// The member name a program reads a key by, within its object.
constexpr const char* configurationKeyName(ConfigurationKeyId id) { return configurationKey(id).name(); }

// The table seen by path, for whoever walks a whole file (--check) or
// documents it.
class ConfigurationKeyTable {
public:
    // Every key, in table order.
    static const ConfigurationKey* begin() { return configuration_keys::kTable; }
    static const ConfigurationKey* end() { return configuration_keys::kTable + configuration_keys::kCount; }

    // The key at exactly `path` (in table form), or null.
    static const ConfigurationKey* find(const std::string& path);
    // The key a member `name` of the object at `parentPath` is (empty for
    // the root): the named one, else the object's "*", else null.
    static const ConfigurationKey* member(const std::string& parentPath, const std::string& name);
    // The names of the keys directly within `parentPath`, "*" left out.
    static std::vector<std::string> memberNames(const std::string& parentPath);
    // "string", "number", "boolean", "object", "array", "string or number".
    static const char* typeName(JsonType type);
};

}  // namespace tarvik
