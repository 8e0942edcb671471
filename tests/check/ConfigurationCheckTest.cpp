// The configuration check against real files, directories and a real HTTP
// back office on 127.0.0.1.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <json/json.h>

#include "check/ConfigurationCheck.h"
#include "configuration/ConfigurationKeyTable.h"
#include "sites/orvel/OrvelV3.h"
#include "sites/pelion/Pelion.h"
#include "tests/check/CheckTestSupport.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/RefusingPort.h"

namespace tarvik::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Records wait beside the configuration (a private temporary directory)
// unless the file or `defaultSpool` says otherwise.
ConfigurationCheck::Options checkOptions(const std::string& path, const std::string& audioDir, bool offline,
                                         const std::string& defaultSpool = "") {
    ConfigurationCheck::Options options;
    options.offline = offline;
    options.defaultAudioDir = audioDir;
    options.defaultSpoolDir = defaultSpool.empty() ? path.substr(0, path.rfind('/')) : defaultSpool;
    return options;
}

std::vector<std::string> check(const std::string& path, const std::string& audioDir, bool offline = true,
                               const std::string& defaultSpool = "") {
    OrvelV3 module;
    return ConfigurationCheck(module, checkOptions(path, audioDir, offline, defaultSpool)).problems(path);
}

class ConfigurationCheckTest : public ::testing::Test {
protected:
    ConfigurationCheckTest() {
        audio = promptDirectory(dir, "audio");
        business = promptDirectory(dir, "business");
        server.answer("GET", "/service/v1/ready", 200, R"({"state":"ready"})");
    }

    std::string write(const std::string& text) { return dir.write("config.json", text); }

    TempDir dir;
    std::string audio;
    std::string business;
    LocalHttpServer server;
};

TEST_F(ConfigurationCheckTest, AGoodConfigurationHasNoProblemAndIsLeftAsItWas) {
    const std::string text = goodConfiguration(server.baseUrl(), business);
    const std::string path = write(text);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    EXPECT_THAT(check(path, audio, false), IsEmpty());
    EXPECT_EQ(server.requestCount(), 1u);  // the readiness request
    EXPECT_EQ(server.lastRequest().path, "/service/v1/ready");

    // Both programs load it the same way; the summary line and status (the
    // file holds the token, so only its owner may read it).
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    Pelion pelion;
    ConfigurationCheck::Options options = checkOptions(path, audio, false);
    std::ostringstream out;
    EXPECT_EQ(ConfigurationCheck(pelion, options).run(path, out), 0);
    EXPECT_EQ(out.str(), path + ": no problems found\n");

    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(TempDir::readFile(path), text);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(ConfigurationCheckTest, BadFilesGiveOneClearLine) {
    EXPECT_THAT(check(dir.file("absent.json"), audio), ElementsAre("cannot be read: No such file or directory"));
    EXPECT_THAT(check(dir.path(), audio), ElementsAre("is a directory, not a configuration file"));
    EXPECT_THAT(check(write(""), audio), ElementsAre(HasSubstr("1:1: not JSON: ")));
    EXPECT_THAT(check(write("{\n  \"kestro\": \"http://x\",\n  \"token\" \"t\"\n}\n"), audio),
                ElementsAre(HasSubstr("3:11: not JSON: ")));
    EXPECT_THAT(check(write(std::string(200000, '[') + std::string(200000, ']')), audio),
                ElementsAre("not JSON: nested too deeply to read"));
    EXPECT_THAT(check(write("[1, 2]"), audio),
                ElementsAre("the configuration is not a JSON object: a call reads none of its keys"));

    std::string huge = "{\"token\": \"" + std::string(5 * 1024 * 1024, 'x') + "\"}";
    auto problems = check(write(huge), audio);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], HasSubstr("too big for a configuration file"));

    // The printed form: one line per problem, the path first, then the count.
    OrvelV3 module;
    ConfigurationCheck::Options options;
    options.offline = true;
    std::ostringstream out;
    EXPECT_EQ(ConfigurationCheck(module, options).run(dir.file("absent.json"), out), 1);
    EXPECT_EQ(out.str(), dir.file("absent.json") + ": cannot be read: No such file or directory\n" +
                             dir.file("absent.json") + ": 1 problem found\n");
}

TEST_F(ConfigurationCheckTest, KeysOfTheWrongTypeAndKeysNoOneReadsAreNamed) {
    std::string text = goodConfiguration(server.baseUrl(), business);
    // Typos and wrong types at every level of the file.
    text.replace(text.find("\"token\""), 7, "\"tokn\"");
    text.replace(text.find("\"recall\": false"), 15, "\"recal\": false, \"sendInvoice\": \"yes\"");
    text.replace(text.find("\"httpTimeout\": 2"), 16, "\"httpTimeout\": \"2\"");
    text.replace(text.find("\"readyTimeout\": 2"), 17, "\"readyTimeout\": true");
    text.replace(text.find("\"priority\": 1"), 13, "\"priorty\": 1");
    text.replace(text.find("\"dir\""), 5, "\"dir\": 7, \"directory\"");

    auto problems = check(write(text), audio);
    EXPECT_THAT(problems, ::testing::IsSupersetOf({
                              "key \"tokn\" is not read by anyone (a typo? the nearest known key is \"token\")",
                              "key \"httpTimeout\" should be a number, not a string: a call ignores it",
                              "key \"readyTimeout\" should be a number, not a boolean: a call ignores it",
                              "key \"feature.recal\" is not read by anyone (a typo? the nearest known key is "
                              "\"feature.recall\")",
                              "key \"feature.sendInvoice\" should be a boolean (true or false), not a string: a "
                              "call ignores it",
                              "key \"profile.route[0].variables.values[0].priorty\" is not read by anyone (a typo? "
                              "the nearest known key is \"profile.route[0].variables.values[0].priority\")",
                              "key \"profile.audio[0].dir\" should be a string, not a number: a call ignores it",
                          }));
    // The audio entry without a string "dir" makes the profile load fail.
    EXPECT_THAT(problems, ::testing::Contains("a call would log \"failure on load profile\""));
    // The spool directory key is known, and checked only when present.
    EXPECT_THAT(problems, ::testing::Not(::testing::Contains(HasSubstr("spool"))));
}

// A file with every key of the table, each of its type: the check accepts
// exactly the keys the programs read.
TEST_F(ConfigurationCheckTest, EveryKeyOfTheTableIsAccepted) {
    Json::Value root(Json::objectValue);
    for (const ConfigurationKey* key = ConfigurationKeyTable::begin(); key != ConfigurationKeyTable::end(); ++key) {
        Json::Value* at = &root;
        std::string path = key->path;
        for (std::size_t start = 0; start <= path.size();) {
            std::size_t end = std::min(path.find('.', start), path.size());
            std::string part = path.substr(start, end - start);
            bool element = part.size() > 2 && part.compare(part.size() - 2, 2, "[]") == 0;
            at = &(*at)[part == "*" ? "50005" : element ? part.substr(0, part.size() - 2) : part];
            if (element) at = &(*at)[0];
            start = end + 1;
        }
        if (!at->isNull()) continue;  // an object or array a deeper key made
        const Json::Value sample[] = {"text", 2, true, Json::Value(Json::objectValue), Json::Value(Json::arrayValue),
                                      "7000"};
        *at = sample[static_cast<int>(key->type)];
    }
    for (const std::string& problem : check(write(root.toStyledString()), audio)) {
        EXPECT_NE(problem.rfind("key ", 0), 0u) << problem;
    }

    std::string text = goodConfiguration(server.baseUrl(), business);
    text.insert(1, "\"pendingTimeout\": 5, \"spoolDirectory\": \"" + dir.path() + "\",");
    EXPECT_THAT(check(write(text), audio), IsEmpty());
}

TEST_F(ConfigurationCheckTest, EndpointsAndTheBackOfficeAddressAreChecked) {
    std::string text = goodConfiguration(server.baseUrl(), business);
    const std::string plugin = "\"plugin\": { \"driver\": \"demo\", \"id\": \"1\" },";
    text.replace(text.find(plugin), plugin.size(), "\"plugin\": { \"driver\": \"demo\" },");
    auto problems = check(write(text), audio);
    EXPECT_THAT(problems, ElementsAre("a call would log \"failure on load plugin data\"",
                                      HasSubstr("endpoints find client by document, invoice send and client unlock "
                                                "are required")));

    const std::string base = "\"kestro\": \"" + server.baseUrl() + "\"";
    auto withAddress = [&](const std::string& address) {
        std::string changed = goodConfiguration(server.baseUrl(), business);
        changed.replace(changed.find(base), base.size(), "\"kestro\": \"" + address + "\"");
        return check(write(changed), audio, false);
    };
    EXPECT_THAT(withAddress(""), ElementsAre("no back-office address: key \"kestro\" is missing or empty"));
    EXPECT_THAT(withAddress("ftp://backoffice.example.net"), ElementsAre(HasSubstr("must begin with http://")));
    EXPECT_THAT(withAddress("backoffice example"), ElementsAre(HasSubstr("is not a usable URL")));
    EXPECT_THAT(withAddress(server.baseUrl() + "/"), ElementsAre(HasSubstr("ends in \"/\"")));
    EXPECT_THAT(withAddress(server.baseUrl() + "/?x=1"), ElementsAre(HasSubstr("has a query or fragment")));
    EXPECT_EQ(server.requestCount(), 0u);  // an unusable address is never asked
}

TEST_F(ConfigurationCheckTest, TheBackOfficeMustBeReadyUnlessOffline) {
    const std::string good = goodConfiguration(server.baseUrl(), business);
    auto against = [&](const std::string& baseUrl, bool offline) {
        std::string text = good;
        text.replace(text.find(server.baseUrl()), server.baseUrl().size(), baseUrl);
        return check(write(text), audio, offline);
    };

    // A refused token is named as such, whatever the answer's body says.
    LocalHttpServer refusing;
    refusing.answer("GET", "/service/v1/ready", 401, R"({"error":"unauthorized"})");
    EXPECT_THAT(against(refusing.baseUrl(), false),
                ElementsAre("the back office at " + refusing.baseUrl() +
                            " refused the access token (key \"token\"): it answered 401 to the readiness request "
                            "(--offline skips this request)"));
    LocalHttpServer forbidding;
    forbidding.answer("GET", "/service/v1/ready", 403, "");
    std::string withoutToken = good;
    withoutToken.replace(withoutToken.find("\"token\": \"t\","), 13, "");
    withoutToken.replace(withoutToken.find(server.baseUrl()), server.baseUrl().size(), forbidding.baseUrl());
    EXPECT_THAT(check(write(withoutToken), audio, false),
                ElementsAre(HasSubstr("wants an access token: key \"token\" is missing or empty (it answered 403")));

    RefusingPort down;
    auto refused = against(down.baseUrl(), false);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0], "the back office at " + down.baseUrl() +
                              " is not ready: failure on verify information if service is ready "
                              "(--offline skips this request)");
    EXPECT_THAT(against(down.baseUrl(), true), IsEmpty());

    LocalHttpServer busy;
    busy.answer("GET", "/service/v1/ready", 503, R"({"state":"maintenance"})");
    EXPECT_THAT(against(busy.baseUrl(), false),
                ElementsAre(HasSubstr("is not ready: it answered a state other than \"ready\"")));

    // A back office that never answers is given up after the configured
    // limit (httpTimeout 2 in the good configuration).
    LocalHttpServer silent;
    silent.handle("GET", "/service/v1/ready", [&silent](const RecordedRequest&) {
        silent.sleepUnlessStopped(std::chrono::seconds(30));
        return CannedResponse{};
    });
    EXPECT_THAT(against(silent.baseUrl(), false),
                ElementsAre(HasSubstr("is not ready: failure on verify information if service is ready")));
}

TEST_F(ConfigurationCheckTest, PromptsWithoutAudioAndUnusableDirectoriesAreListed) {
    const std::string partial = promptDirectory(dir, "partial", {"Orvel-u4-07", "Orvel-u4-falha-desbloqueio"});
    dir.write("partial/Orvel-u4-07.gsm", "gsm");  // any format Asterisk plays will do
    dir.write("partial/Orvel-u4-falha-desbloqueio.mp3", "mp3");
    const std::string path = write(goodConfiguration(server.baseUrl(), dir.file("missing") + "/"));
    EXPECT_THAT(check(path, partial),
                ElementsAre("prompt Orvel-u4-falha-desbloqueio has no audio file in " + partial +
                                " (.wav .gsm .ulaw .alaw .sln .g722 .g729)",
                            "audio directory " + dir.file("missing") + "/ cannot be read: No such file or directory"));

    const std::string noSlash = write(goodConfiguration(server.baseUrl(), dir.file("business")));
    EXPECT_THAT(check(noSlash, audio),
                ElementsAre("audio directory \"" + dir.file("business") +
                            "\" does not end in \"/\": prompts would be looked up as \"" + dir.file("business") +
                            "Orvel-u4-01\""));
}

TEST_F(ConfigurationCheckTest, ASpoolDirectoryThatCannotBeWrittenIsReported) {
    auto withSpool = [&](const std::string& spool) {
        std::string text = goodConfiguration(server.baseUrl(), business);
        text.insert(1, "\"spoolDirectory\": \"" + spool + "\",");
        return check(write(text), audio);
    };
    EXPECT_THAT(withSpool(dir.path()), IsEmpty());
    EXPECT_THAT(withSpool(dir.file("absent")), IsEmpty());  // the first record makes it
    EXPECT_THAT(withSpool(dir.file("absent/ivr")),
                ElementsAre("spool directory \"" + dir.file("absent/ivr") +
                            "\" cannot be written: No such file or directory"));
    EXPECT_THAT(withSpool(dir.file("config.json")),
                ElementsAre("spool directory \"" + dir.file("config.json") + "\" cannot be written: not a directory"));

    // Without the key, the directory a call would use: the default.
    const std::string path = write(goodConfiguration(server.baseUrl(), business));
    EXPECT_THAT(check(path, audio, true, dir.file("absent/ivr")),
                ElementsAre("spool directory \"" + dir.file("absent/ivr") +
                            "\" cannot be written: No such file or directory"));
}

TEST_F(ConfigurationCheckTest, AReadableTokenAndAnOpenSpoolAreWarnedOfWithoutFailing) {
    const std::string open = dir.file("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0770), 0);
    const std::string path = write(goodConfiguration(server.baseUrl(), business));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    OrvelV3 module;
    std::ostringstream out;
    EXPECT_EQ(ConfigurationCheck(module, checkOptions(path, audio, true, open)).run(path, out), 0);
    EXPECT_EQ(out.str(), path +
                             ": warning: the file holds the access token (\"token\") and can be read by group or "
                             "others: let only the user that runs the calls read it (chmod 600)\n" +
                             path + ": warning: spool directory \"" + open +
                             "\" can be written by group or others: records planted there would be sent with the "
                             "access token (chmod 700)\n" +
                             path + ": no problems found (2 warnings)\n");

    // Private file and spool, or no token in the file: nothing to warn of.
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0700), 0);
    OrvelV3 again;
    EXPECT_THAT(ConfigurationCheck(again, checkOptions(path, audio, true, open)).findings(path).warnings, IsEmpty());
    std::string noToken = goodConfiguration(server.baseUrl(), business);
    noToken.replace(noToken.find("\"token\": \"t\","), 13, "");
    const std::string withoutToken = dir.write("public.json", noToken);
    OrvelV3 third;
    EXPECT_THAT(ConfigurationCheck(third, checkOptions(withoutToken, audio, true)).findings(withoutToken).warnings,
                IsEmpty());
}

// A call that cannot write its metrics file goes on: only a warning.
TEST_F(ConfigurationCheckTest, AMetricsFileWhoseFolderCannotBeWrittenIsWarnedOf) {
    auto warningsWith = [&](const std::string& metricsFile) {
        std::string text = goodConfiguration(server.baseUrl(), business);
        text.insert(1, "\"metricsFile\": \"" + metricsFile + "\",");
        const std::string path = write(text);
        ::chmod(path.c_str(), 0600);
        OrvelV3 module;
        ConfigurationCheck::Findings found = ConfigurationCheck(module, checkOptions(path, audio, true)).findings(path);
        EXPECT_THAT(found.problems, IsEmpty()) << metricsFile;
        return found.warnings;
    };
    EXPECT_THAT(warningsWith(dir.file("ivr-orvel.prom")), IsEmpty());
    const std::string prefix = "metrics file \"";
    const std::string cannot = "\" cannot be written (calls go on without it): ";
    EXPECT_THAT(warningsWith(dir.file("absent/ivr-orvel.prom")),
                ElementsAre(prefix + dir.file("absent/ivr-orvel.prom") + cannot + "folder " + dir.file("absent") +
                            ": No such file or directory"));
    EXPECT_THAT(warningsWith(dir.file("config.json/ivr-orvel.prom")),
                ElementsAre(prefix + dir.file("config.json/ivr-orvel.prom") + cannot + dir.file("config.json") +
                            " is not a folder"));
    EXPECT_THAT(warningsWith(dir.path() + "/"), ElementsAre(prefix + dir.path() + "/" + cannot + "the name is a folder"));
}

}  // namespace
}  // namespace tarvik::testing
