#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "profile/Profile.h"
#include "agi/RecordingSession.h"

namespace tarvik {
namespace {

using Marks = std::map<std::string, std::string>;

// Each test writes its configuration files into a private temporary folder.
class ProfileLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/profile-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }

    void TearDown() override {
        for (const std::string& file : files) {
            unlink(file.c_str());
        }
        rmdir(folder.c_str());
    }

    std::string writeFile(const std::string& content) {
        const std::string path = folder + "/config-" + std::to_string(files.size()) + ".json";
        std::ofstream(path, std::ios::binary) << content;
        files.push_back(path);
        return path;
    }

    // Loads content into profile and returns the lines it wrote, with the
    // file's path shown as "<config>".
    std::vector<std::string> load(const std::string& content, bool expected) {
        RecordingSession session;
        const std::string path = writeFile(content);
        EXPECT_EQ(profile.load(session, path.c_str()), expected) << content;
        std::vector<std::string> lines = session.operations();
        for (std::string& text : lines) {
            const auto at = text.find(path);
            if (at != std::string::npos) {
                text.replace(at, path.size(), "<config>");
            }
        }
        return lines;
    }

    static std::string line(const std::string& message) { return "verbose " + message + "<config>"; }

    Profile profile;
    std::string folder;
    std::vector<std::string> files;
};

TEST_F(ProfileLoadTest, UnusableFilesFailWithTheirMessageAndLeaveTheProfileEmpty) {
    RecordingSession session;
    EXPECT_FALSE(profile.load(session, nullptr));
    EXPECT_TRUE(session.operations().empty());

    const std::string missing = folder + "/absent.json";
    EXPECT_FALSE(profile.load(session, missing.c_str()));
    EXPECT_EQ(session.operations().back(), "verbose profile file " + missing + " not exists");

    const std::string bad = "verbose failure on load json configuration from profile file ";
    for (const std::string& content : {std::string("{\"profile\": "), std::string(""), std::string("not json"),
                                       std::string(100000, '[') + std::string(100000, ']')}) {
        EXPECT_EQ(load(content, false), std::vector<std::string>{bad + "<config>"});
    }
    // A folder opens but cannot be read as a document.
    EXPECT_FALSE(profile.load(session, folder.c_str()));
    EXPECT_EQ(session.operations().back(), bad + folder);

    EXPECT_TRUE(profile.getRoutes().empty());
    EXPECT_TRUE(profile.getAudios().empty());
}

TEST_F(ProfileLoadTest, AFileWithoutProfileLoadsEmpty) {
    for (const char* content : {R"({"plugin": {"x": 1}})", R"([{"profile": {"route": []}}])", R"("profile")",
                                       "42", "null", "{}"}) {
        EXPECT_EQ(load(content, true), std::vector<std::string>{line("no profile in configuration file ")});
    }
    EXPECT_TRUE(profile.getRoutes().empty());
    EXPECT_TRUE(profile.getAudios().empty());
    EXPECT_EQ(profile.getDestination({}, "50005"), nullptr);
    EXPECT_EQ(profile.getAudioDir({}), nullptr);
    EXPECT_EQ(profile.getAudioDir({{"type", "pj"}}), nullptr);
}

TEST_F(ProfileLoadTest, AProfileWithoutARouteArrayFailsAndReadsNoAudio) {
    const std::string message = "no route or route is not array in configuration profile file ";
    for (const char* content : {
             R"({"profile": null})",
             R"({"profile": "route"})",
             R"({"profile": [{"route": []}]})",
             R"({"profile": {}})",
             R"({"profile": {"route": {"destinations": {"50005": "9000"}}}})",
             R"({"profile": {"audio": [{"dir": "/a/", "variables": {"description": "d", "values": []}}]}})",
         }) {
        EXPECT_EQ(load(content, false), std::vector<std::string>{line(message)});
    }
    EXPECT_TRUE(profile.getRoutes().empty());
    EXPECT_TRUE(profile.getAudios().empty());
}

TEST_F(ProfileLoadTest, AWholeProfileLoadsWithBothMessagesAndAnswersInFileOrder) {
    const auto lines = load(R"({
      "profile": {
        "route": [
          {"destinations": {"50005": "9000", "50006": "9006"},
           "variables": {"description": "companies", "values": [{"mark": "type", "value": "pj"}]}},
          {"destinations": {"50005": "9100"},
           "variables": {"description": "fiber companies, more specific but later",
                         "values": [{"mark": "type", "value": "pj"}, {"mark": "plan", "value": "fiber", "priority": 99}]}},
          {"destinations": {"50007": "7000"},
           "variables": {"description": "vip", "values": [{"mark": "vip", "value": "yes"}]}},
          {"destinations": {"50006": "6000", "50007": "7777", "4001": "4100"}}
        ],
        "audio": [
          {"dir": "/voices/pj/", "variables": {"description": "companies", "values": [{"mark": "type", "value": "pj", "priority": 1}]}},
          {"dir": "/voices/fiber/", "variables": {"description": "fiber", "values": [{"mark": "plan", "value": "fiber", "priority": 50}]}},
          {"dir": "/voices/default/", "variables": {"description": "everyone", "values": []}}
        ]
      }
    })", true);
    EXPECT_EQ(lines, (std::vector<std::string>{line("configuration profile route is loaded  from file "),
                                               line("configuration profile audio is loaded  from file ")}));
    ASSERT_EQ(profile.getRoutes().size(), 4u);
    ASSERT_EQ(profile.getAudios().size(), 3u);
    EXPECT_EQ(profile.getRoutes()[0]->getCondition().getDescription(), "companies");
    EXPECT_EQ(profile.getRoutes()[1]->getCondition().getVariables()[1]->getPriority(), 99u);

    const Marks pjFiber{{"type", "pj"}, {"plan", "fiber"}, {"state", "ready"}};
    const Marks pf{{"type", "pf"}};
    const Marks vipPf{{"type", "pf"}, {"vip", "yes"}};

    // The earlier entry wins even against a later, more specific one.
    EXPECT_STREQ(profile.getDestination(pjFiber, "50005"), "9000");
    // A failing condition passes over the only entry listing the name.
    EXPECT_EQ(profile.getDestination(pf, "50005"), nullptr);
    // An entry that applies but does not list the name does not stop the walk.
    EXPECT_STREQ(profile.getDestination(pjFiber, "50007"), "7777");
    EXPECT_STREQ(profile.getDestination(vipPf, "50007"), "7000");
    // The unconditional entry placed last is the default.
    EXPECT_STREQ(profile.getDestination(pf, "50006"), "6000");
    EXPECT_STREQ(profile.getDestination(pjFiber, "50006"), "9006");
    EXPECT_STREQ(profile.getDestination({}, "4001"), "4100");
    EXPECT_EQ(profile.getDestination(pjFiber, "50001"), nullptr);
    EXPECT_EQ(profile.getDestination(pjFiber, ""), nullptr);

    // Audio: first applying entry, whatever the priorities.
    EXPECT_STREQ(profile.getAudioDir(pjFiber), "/voices/pj/");
    EXPECT_STREQ(profile.getAudioDir({{"plan", "fiber"}}), "/voices/fiber/");
    EXPECT_STREQ(profile.getAudioDir({}), "/voices/default/");

    // Answers are texts owned by the profile: they survive further loads.
    const char* kept = profile.getDestination(pjFiber, "50005");
    const char* keptDir = profile.getAudioDir(pjFiber);
    load(R"({"profile": {"route": [{"destinations": {"50005": "1"}}, {"destinations": {"50009": "2"}}],
                         "audio": [{"dir": "/x/", "variables": {"description": "", "values": []}}]}})", true);
    EXPECT_EQ(profile.getRoutes().size(), 6u);
    EXPECT_STREQ(kept, "9000");
    EXPECT_STREQ(keptDir, "/voices/pj/");
    EXPECT_STREQ(profile.getDestination(pjFiber, "50009"), "2");
}

TEST_F(ProfileLoadTest, MalformedRouteElementsAreSkippedOrLeftUnconditional) {
    const auto lines = load(R"({"profile": {"route": [
        42, "x", null, [],
        {"variables": {"values": 3}},
        {"destinations": "50005", "variables": {"description": "d", "values": []}},
        {"destinations": ["50005"]},
        {"destinations": {"50001": "1001"}},
        {"destinations": {"50002": "1002"}, "variables": "type=pj"},
        {"destinations": {"50003": "1003"}, "variables": []},
        {"destinations": {}},
        {"destinations": {"a": 9000, "b": true, "c": false, "d": null, "e": -12, "f": 1.5,
                          "g": [1], "h": {"x": "y"}, "i": "plain"}}
    ]}})", true);
    EXPECT_EQ(lines, std::vector<std::string>{line("configuration profile route is loaded  from file ")});
    ASSERT_EQ(profile.getRoutes().size(), 5u);

    const Marks anyone{{"type", "pf"}};
    EXPECT_STREQ(profile.getDestination(anyone, "50001"), "1001");
    EXPECT_STREQ(profile.getDestination({}, "50002"), "1002");
    EXPECT_STREQ(profile.getDestination({}, "50003"), "1003");
    EXPECT_EQ(profile.getDestination({}, "50005"), nullptr);

    // Scalars take the JSON text form; arrays and objects are left out.
    EXPECT_STREQ(profile.getDestination({}, "a"), "9000");
    EXPECT_STREQ(profile.getDestination({}, "b"), "true");
    EXPECT_STREQ(profile.getDestination({}, "c"), "false");
    EXPECT_STREQ(profile.getDestination({}, "d"), "");
    EXPECT_STREQ(profile.getDestination({}, "e"), "-12");
    EXPECT_STREQ(profile.getDestination({}, "f"), "1.5");
    EXPECT_EQ(profile.getDestination({}, "g"), nullptr);
    EXPECT_EQ(profile.getDestination({}, "h"), nullptr);
    EXPECT_STREQ(profile.getDestination({}, "i"), "plain");
}

TEST_F(ProfileLoadTest, ConditionObjectsKeepOnlyStringMarksAndValuesAndIntegralPriorities) {
    load(R"({"profile": {"route": [{"destinations": {"50005": "9000"}, "variables": {"description": "", "values": [
        "type", 7, null,
        {"mark": 5, "value": "x"},
        {"mark": "m0", "value": 5},
        {"mark": "m1"},
        {"mark": "m2", "value": "v", "priority": 7.5},
        {"mark": "m3", "value": "v", "priority": "7"},
        {"mark": "m4", "value": "v", "priority": 7.0},
        {"mark": "m5", "value": "v", "priority": 7},
        {"mark": "m6", "value": "v", "priority": -1},
        {"mark": "m7", "value": "v", "priority": 3000000000},
        {"mark": "m8", "value": "v", "priority": true},
        {"mark": "m9", "value": "v", "priority": 2147483647}
    ]}}]}})", true);
    ASSERT_EQ(profile.getRoutes().size(), 1u);
    const auto& variables = profile.getRoutes()[0]->getCondition().getVariables();
    std::map<std::string, std::uint32_t> priorities;
    for (const auto& variable : variables) {
        priorities[variable->getMark()] = variable->getPriority();
    }
    EXPECT_EQ(priorities, (std::map<std::string, std::uint32_t>{{"m2", 1},
                                                                 {"m3", 1},
                                                                 {"m4", 7},
                                                                 {"m5", 7},
                                                                 {"m6", 4294967295u},
                                                                 {"m7", 1},
                                                                 {"m8", 1},
                                                                 {"m9", 2147483647u}}));
    Marks marks;
    for (const char* mark : {"m2", "m3", "m4", "m5", "m6", "m7", "m8"}) {
        marks[mark] = "v";
    }
    EXPECT_EQ(profile.getDestination(marks, "50005"), nullptr) << "every kept condition counts";
    marks["m9"] = "v";
    EXPECT_STREQ(profile.getDestination(marks, "50005"), "9000");
}

TEST_F(ProfileLoadTest, AFaultInARouteConditionKeepsWhatWasReadBeforeIt) {
    const std::string failure = "failure on parse route profile in configuration profile file ";
    const std::string audio = R"(, "audio": [{"dir": "/a/", "variables": {"description": "d", "values": []}}])";

    // "values" without "description": the entry stays, without conditions;
    // later entries and the audio part are never read.
    EXPECT_EQ(load(R"({"profile": {"route": [
        {"destinations": {"50001": "1001"}, "variables": {"description": "pj", "values": [{"mark": "type", "value": "pj"}]}},
        {"destinations": {"50005": "9000"}, "variables": {"values": [{"mark": "type", "value": "pj"}]}},
        {"destinations": {"50006": "9006"}}
    ]})" + audio + "}}", false), std::vector<std::string>{line(failure)});
    ASSERT_EQ(profile.getRoutes().size(), 2u);
    EXPECT_TRUE(profile.getAudios().empty());
    EXPECT_STREQ(profile.getDestination({{"type", "pf"}}, "50005"), "9000");
    EXPECT_EQ(profile.getDestination({{"type", "pf"}}, "50001"), nullptr);
    EXPECT_EQ(profile.getDestination({}, "50006"), nullptr);

    Profile other;
    profile = std::move(other);
    for (const char* variables : {R"({"description": 3, "values": []})", R"({"description": "d"})",
                                         R"({"description": "d", "values": {}})"}) {
        EXPECT_EQ(load(std::string(R"({"profile": {"route": [{"destinations": {"50002": "1"}, "variables": )") + variables + "}]}}",
                       false),
                  std::vector<std::string>{line(failure)});
    }
    EXPECT_EQ(profile.getRoutes().size(), 3u);

    // A mark given twice, even with another value: the conditions read
    // before the repeat stay, the ones after it are never read.
    Profile empty;
    profile = std::move(empty);
    EXPECT_EQ(load(R"({"profile": {"route": [{"destinations": {"50005": "9000"}, "variables": {"description": "d", "values": [
        {"mark": "a", "value": "1"}, {"mark": "b", "value": "2"}, {"mark": "a", "value": "3"}, {"mark": "c", "value": "4"}
    ]}}]})" + audio + "}}", false), std::vector<std::string>{line(failure)});
    ASSERT_EQ(profile.getRoutes().size(), 1u);
    EXPECT_EQ(profile.getRoutes()[0]->getCondition().getVariables().size(), 2u);
    EXPECT_STREQ(profile.getDestination({{"a", "1"}, {"b", "2"}}, "50005"), "9000");
    EXPECT_EQ(profile.getDestination({{"a", "3"}, {"b", "2"}, {"c", "4"}}, "50005"), nullptr);
    EXPECT_TRUE(profile.getAudios().empty());
}

TEST_F(ProfileLoadTest, AudioFaultsFailTheLoadButKeepTheRoutesAndEarlierAudioEntries) {
    const std::string route = R"({"profile": {"route": [{"destinations": {"50005": "9000"}}], "audio": )";
    const std::string routeLoaded = "configuration profile route is loaded  from file ";

    EXPECT_EQ(load(route + R"({"dir": "/a/"}}})", false),
              (std::vector<std::string>{line(routeLoaded), line("no audio is not array in configuration profile file ")}));
    EXPECT_STREQ(profile.getDestination({}, "50005"), "9000");
    EXPECT_TRUE(profile.getAudios().empty());

    const std::string good = R"({"dir": "/good/", "variables": {"description": "d", "values": [{"mark": "type", "value": "pj"}]}})";
    for (const char* bad : {
             R"({"dir": "/bad/"})",
             R"({"dir": "/bad/", "variables": "x"})",
             R"({"variables": {"description": "d", "values": []}})",
             R"({"dir": 5, "variables": {"description": "d", "values": []}})",
             R"({"dir": "/bad/", "variables": {"values": []}})",
             R"({"dir": "/bad/", "variables": {"description": "d", "values": null}})",
             R"({"dir": "/bad/", "variables": {"description": "d", "values": [{"mark": "a", "value": "1"}, {"mark": "a", "value": "1"}]}})",
         }) {
        Profile empty;
        profile = std::move(empty);
        EXPECT_EQ(load(route + "[7, " + good + ", " + bad + ", " + good + "]}}", false),
                  (std::vector<std::string>{line(routeLoaded),
                                            line("failure on parse audio profile in configuration profile file ")}))
            << bad;
        ASSERT_EQ(profile.getAudios().size(), 1u) << bad;
        EXPECT_EQ(profile.getAudioDir({{"a", "1"}}), nullptr) << "the faulty entry is never added";
        EXPECT_STREQ(profile.getAudioDir({{"type", "pj"}}), "/good/");
        EXPECT_EQ(profile.getRoutes().size(), 1u);
    }

    // An empty "values" array always applies; non-object elements are skipped.
    Profile empty;
    profile = std::move(empty);
    load(route + R"([null, "x", {"dir": "/all/", "variables": {"description": "", "values": []}}]}})", true);
    EXPECT_STREQ(profile.getAudioDir({}), "/all/");
}

}  // namespace
}  // namespace tarvik
