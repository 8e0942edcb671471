#pragma once

#include <cstddef>

namespace tarvik {

// The JSON types a configuration key can ask for. An array's elements are
// objects whose members are the keys under "PATH[]".
enum class JsonType { String, Number, Boolean, Object, Array, Scalar };

// Every key a program reads from the configuration file, in the order of
// the table (ConfigurationKeyTable.h). Code reads a key by its id, so a key
// cannot be read without being in the table.
enum class ConfigurationKeyId : std::size_t {
    Kestro,
    Token,
    Language,
    DefaultContext,
    Debug,
    EscapeCode,
    IgnoreEmptyBarCode,
    HttpConnectTimeout,
    HttpTimeout,
    VerifyTls,
    CaFile,
    ReadyTimeout,
    BackgroundRecords,
    SpoolDirectory,
    PendingTimeout,
    SpoolMaxRecords,
    SpoolMaxMegabytes,
    SpoolMaxDays,
    MetricsFile,
    AllowPeers,
    AllowPeer,
    Plugin,
    PluginDriver,
    PluginId,
    Feature,
    FeatureFindClientByPhone,
    FeatureFindClientByDocument,
    FeatureSignatureUnlock,
    FeatureSendInvoice,
    FeatureSendProtocol,
    FeatureRecall,
    FeatureInformProtocol,
    FeatureExternalProtocol,
    FeatureSelfUpdateClientPhoneNumber,
    FeatureUnderMaintenance,
    FeatureEventManager,
    Profile,
    ProfileRoute,
    RouteDestinations,
    RouteDestination,
    RouteVariables,
    RouteDescription,
    RouteValues,
    RouteMark,
    RouteValue,
    RoutePriority,
    ProfileAudio,
    AudioDir,
    AudioVariables,
    AudioDescription,
    AudioValues,
    AudioMark,
    AudioValue,
    AudioPriority,
    Count
};

// One key: where it sits in the file, the JSON type it must have, what a
// program takes when it is absent, and what it means.
struct ConfigurationKey {
    ConfigurationKeyId id;
    // Dotted from the root; "[]" stands for any element of an array and
    // "*" for any member of an object ("profile.route[].destinations.*").
    const char* path;
    JsonType type;
    // As an operator writes it: "10", "true", "/var/spool/..."; empty when
    // an absent key means nothing is set.
    const char* defaultValue;
    const char* meaning;

    // The member name within its object: the path's last part.
    constexpr const char* name() const {
        const char* last = path;
        for (const char* at = path; *at != '\0'; ++at) {
            if (*at == '.') last = at + 1;
        }
        return last;
    }

    // The default of a number key (whole, non-negative decimal).
    constexpr long defaultNumber() const {
        long value = 0;
        for (const char* at = defaultValue; *at >= '0' && *at <= '9'; ++at) value = value * 10 + (*at - '0');
        return value;
    }

    // The default of a boolean key.
    constexpr bool defaultFlag() const {
        const char* expected = "true";
        std::size_t index = 0;
        for (; expected[index] != '\0'; ++index) {
            if (defaultValue[index] != expected[index]) return false;
        }
        return defaultValue[index] == '\0';
    }
};

}  // namespace tarvik
