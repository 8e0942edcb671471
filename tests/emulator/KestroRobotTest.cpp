#include "emulator/KestroRobot.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/emulator/EmulatorTestSupport.h"

namespace tarvik::testing {
namespace {

std::string robotOf(const std::string& body) { return "<?xml version=\"1.0\"?>\n<kestro-agi>" + body + "</kestro-agi>\n"; }

std::string agi(const std::string& name, const std::string& value) {
    return "<agi variable=\"" + name + "\" value=\"" + value + "\"/>";
}

std::string input(const std::string& name, const std::string& value) {
    return "<input variable=\"" + name + "\" value=\"" + value + "\"/>";
}

bool templateExists(const std::string& name) {
    struct stat info {};
    return stat((std::string(KestroRobot::kTemplateDirectory) + name + ".xml").c_str(), &info) == 0;
}

TEST(KestroRobot, ResolvesNamesUnderTheWorkingDirectory) {
    TempDir dir;
    dir.write("calls/test1.xml", robotOf("<inputs>" + input("a", "calls") + "</inputs>"));
    dir.write("test1.xml", robotOf("<inputs>" + input("a", "plain") + "</inputs>"));
    dir.write("abs/robot.xml", robotOf("<inputs>" + input("a", "absolute") + "</inputs>"));
    dir.write("robot.txt", robotOf("<inputs>" + input("a", "any extension") + "</inputs>"));
    WorkingDirectory inside(dir.path());

    KestroRobot robot;
    EXPECT_TRUE(robot.load("calls/test1"));
    EXPECT_STREQ(robot.getFilename(), "./calls/test1.xml");
    EXPECT_STREQ(robot.getVariableValue("a"), "calls");

    EXPECT_TRUE(robot.load("test1.xml"));
    EXPECT_STREQ(robot.getFilename(), "./test1.xml");
    EXPECT_STREQ(robot.getVariableValue("a"), "plain");

    EXPECT_TRUE(robot.load("test1"));
    EXPECT_STREQ(robot.getFilename(), "./test1.xml");

    EXPECT_TRUE(robot.load("robot.txt"));
    EXPECT_STREQ(robot.getVariableValue("a"), "any extension");

    // An absolute name is read where it points, whatever the working
    // directory; without a dot and without such a file, ".xml" completes it.
    dir.write("abs/plain", robotOf("<inputs>" + input("a", "no extension") + "</inputs>"));
    WorkingDirectory elsewhere(dir.file("calls"));
    const std::string absolute = dir.file("abs/robot.xml");
    EXPECT_TRUE(robot.load(absolute.c_str())) << robot.getLoadFailure();
    EXPECT_EQ(robot.getFilename(), absolute);
    EXPECT_STREQ(robot.getVariableValue("a"), "absolute");
    EXPECT_STREQ(robot.getLoadFailure(), "");
    EXPECT_TRUE(robot.load(dir.file("abs/plain").c_str()));
    EXPECT_STREQ(robot.getVariableValue("a"), "no extension");
    EXPECT_TRUE(robot.load(dir.file("abs/robot").c_str()));
    EXPECT_EQ(robot.getFilename(), absolute);

    // A missing absolute file is not looked for anywhere else.
    const std::string missing = dir.file("abs/missing.xml");
    EXPECT_FALSE(robot.load(missing.c_str()));
    EXPECT_EQ(std::string(robot.getLoadFailure()), "robot file " + missing + " cannot be read: No such file or directory");
    const std::string bare = dir.file("abs/missing");
    EXPECT_FALSE(robot.load(bare.c_str()));
    EXPECT_EQ(std::string(robot.getLoadFailure()), "robot file " + bare + " cannot be read: No such file or directory "
                                                   "(looked for " + bare + " and " + bare + ".xml)");

    // Not found here: the template directory is tried instead, and a failed
    // load leaves the filename and the values as they were.
    if (!templateExists("no-such-robot") && !templateExists("no-such-robot.xml")) {
        EXPECT_FALSE(robot.load("no-such-robot"));
        EXPECT_EQ(std::string(robot.getLoadFailure()),
                  std::string("robot file no-such-robot cannot be read: No such file or directory (looked for "
                              "./no-such-robot.xml and ") +
                      KestroRobot::kTemplateDirectory + "no-such-robot.xml)");
        EXPECT_FALSE(robot.load("no-such-robot.xml"));
        EXPECT_EQ(robot.getFilename(), absolute);
        EXPECT_STREQ(robot.getVariableValue("a"), "absolute");
    }

    EXPECT_FALSE(robot.load(nullptr));
    EXPECT_FALSE(robot.load("."));  // a directory, not a file
    // A name too long for the path buffer is refused, never cut short into
    // the name of another file.
    std::string longName(1100, 'x');
    dir.write(longName.substr(0, 200) + ".xml", robotOf(""));
    EXPECT_FALSE(robot.load(longName.c_str()));
}

TEST(KestroRobot, RefusesWrongRootsAndBrokenFiles) {
    TempDir dir;
    dir.write("upper.xml", "<Kestro-agi>" + agi("v", "1") + "</Kestro-agi>");
    dir.write("longer.xml", "<kestro-agis><agis>" + agi("v", "1") + "</agis></kestro-agis>");
    dir.write("text.xml", "this is not xml at all");
    dir.write("empty.xml", "");
    dir.write("unclosed.xml", "<kestro-agi><agis>" + agi("v", "1"));
    dir.write("binary.xml", std::string("\0\xff\xfe<\x01", 5));
    WorkingDirectory inside(dir.path());

    KestroRobot robot;
    StdoutCapture capture;  // libxml2's complaints must not reach the trace
    for (const char* name : {"upper", "longer", "text", "empty", "unclosed", "binary"}) {
        EXPECT_FALSE(robot.load(name)) << name;
    }
    EXPECT_EQ(capture.finish(), "");
    EXPECT_EQ(robot.getFilename(), nullptr);
    EXPECT_EQ(robot.getAsteriskVariableValue("v"), nullptr);
}

TEST(KestroRobot, SectionRules) {
    TempDir dir;
    dir.write("sections.xml",
              robotOf("<!-- inputs first -->text between sections"
                      "<inputs>" + input("one", "1") + "<!-- c -->" + input("two", "2") + "<other variable=\"x\" value=\"3\"/>" +
                      input("three", "3") + "</inputs>"
                      "<agis>" + agi("agi_version", "11.0") + "<agi value=\"no-name\"/><agi/>" + agi("empty", "") +
                      agi("", "no name") + "<agi variable=\"amp\" value=\"a&amp;b &lt;c&gt;\">ignored text</agi></agis>"
                      "<inputs>" + input("four", "4") + "<input variable=\"five\" value=\"5\" extra=\"x\"/>" + input("six", "6") +
                      "</inputs>"
                      "<agis>" + agi("agi_version", "13.1.0") + "</agis>"));
    dir.write("stray.xml", robotOf("<agis>" + agi("kept", "yes") + "</agis><settings/><inputs>" + input("late", "1") + "</inputs>"));
    dir.write("attributes.xml", robotOf("<agis><agi value=\"v\" variable=\"reversed\"/>" + agi("Case", "upper") + "</agis>"));
    WorkingDirectory inside(dir.path());

    KestroRobot robot;
    ASSERT_TRUE(robot.load("sections"));
    EXPECT_STREQ(robot.getVariableValue("one"), "1");
    EXPECT_STREQ(robot.getVariableValue("two"), "2");
    EXPECT_EQ(robot.getVariableValue("three"), nullptr);  // after the stray element
    EXPECT_EQ(robot.getVariableValue("x"), nullptr);
    EXPECT_STREQ(robot.getVariableValue("four"), "4");
    EXPECT_EQ(robot.getVariableValue("five"), nullptr);  // unknown attribute
    EXPECT_EQ(robot.getVariableValue("six"), nullptr);   // ends its section
    EXPECT_STREQ(robot.getAsteriskVariableValue("agi_version"), "13.1.0");  // the later section wins
    EXPECT_EQ(robot.getAsteriskVariableValue("empty"), nullptr);
    EXPECT_EQ(robot.getAsteriskVariableValue(""), nullptr);
    EXPECT_STREQ(robot.getAsteriskVariableValue("amp"), "a&b <c>");
    // Inputs and variables are separate maps.
    EXPECT_EQ(robot.getAsteriskVariableValue("one"), nullptr);
    EXPECT_EQ(robot.getVariableValue("agi_version"), nullptr);

    // An unknown top-level element fails the load but keeps what was read.
    EXPECT_FALSE(robot.load("stray"));
    EXPECT_STREQ(robot.getFilename(), "./stray.xml");
    EXPECT_STREQ(robot.getAsteriskVariableValue("kept"), "yes");
    EXPECT_EQ(robot.getVariableValue("late"), nullptr);
    // A later load adds to what is there.
    EXPECT_STREQ(robot.getVariableValue("one"), "1");

    ASSERT_TRUE(robot.load("attributes"));
    EXPECT_STREQ(robot.getAsteriskVariableValue("reversed"), "v");
    EXPECT_STREQ(robot.getAsteriskVariableValue("Case"), "upper");
    EXPECT_EQ(robot.getAsteriskVariableValue("case"), nullptr);
}

TEST(KestroRobot, DirectOperations) {
    KestroRobot robot;
    EXPECT_FALSE(robot.loadFromXML(nullptr));
    EXPECT_FALSE(robot.toXML("out.xml"));
    EXPECT_FALSE(robot.setVariable(nullptr, "x"));
    EXPECT_FALSE(robot.setVariableAgi(nullptr, "x"));
    EXPECT_EQ(robot.getVariableValue(nullptr), nullptr);
    EXPECT_EQ(robot.getAsteriskVariableValue(nullptr), nullptr);

    EXPECT_TRUE(robot.setVariable("a", "1"));
    EXPECT_TRUE(robot.setVariable("a", "2"));
    EXPECT_STREQ(robot.getVariableValue("a"), "2");
    EXPECT_TRUE(robot.setVariable("a", nullptr));
    EXPECT_EQ(robot.getVariableValue("a"), nullptr);
    EXPECT_TRUE(robot.setVariableAgi("b", "x"));
    EXPECT_STREQ(robot.getAsteriskVariableValue("b"), "x");

    robot.setFilename("f.xml");
    EXPECT_STREQ(robot.getFilename(), "f.xml");
    robot.setFilename(nullptr);
    EXPECT_EQ(robot.getFilename(), nullptr);
}

// Robot files are hand-written: hostile or absurd ones must end in a false
// or a loaded value, never in a crash or a runaway. Each load runs in a
// child with an alarm, so a fault fails the test instead of hanging it.
TEST(KestroRobot, SurvivesHostileFiles) {
    TempDir dir;
    std::string huge(4 * 1024 * 1024, 'h');
    dir.write("huge.xml", robotOf("<inputs>" + input("huge", huge) + "</inputs>"));
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE kestro-agi [<!ENTITY l0 \"lol\">";
    for (int level = 1; level <= 12; ++level) {
        std::string previous = "&l" + std::to_string(level - 1) + ";";
        std::string repeated;
        for (int i = 0; i < 10; ++i) repeated += previous;
        laughs += "<!ENTITY l" + std::to_string(level) + " \"" + repeated + "\">";
    }
    laughs += "]><kestro-agi><agis><agi variable=\"boom\" value=\"&l12;\"/></agis></kestro-agi>";
    dir.write("laughs.xml", laughs);
    dir.write("external.xml",
              "<?xml version=\"1.0\"?><!DOCTYPE kestro-agi [<!ENTITY secret SYSTEM \"file:///etc/passwd\">]>"
              "<kestro-agi><agis><agi variable=\"secret\" value=\"&secret;\"/></agis></kestro-agi>");
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<inputs>";
    dir.write("deep.xml", "<kestro-agi>" + deep + "</kestro-agi>");
    WorkingDirectory inside(dir.path());

    {
        KestroRobot robot;
        ASSERT_TRUE(robot.load("huge"));
        ASSERT_NE(robot.getVariableValue("huge"), nullptr);
        EXPECT_EQ(std::string(robot.getVariableValue("huge")).size(), huge.size());
    }

    for (const char* name : {"laughs", "external", "deep"}) {
        std::fflush(nullptr);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(20);
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDERR_FILENO);  // libxml2's long complaints
            KestroRobot robot;
            robot.load(name);
            const char* boom = robot.getAsteriskVariableValue("boom");
            const char* secret = robot.getAsteriskVariableValue("secret");
            // Neither the expansion nor a local file may come back as a value.
            bool sound = (boom == nullptr || std::string(boom).size() < 100000) &&
                         (secret == nullptr || std::string(secret).find("root:") == std::string::npos);
            _exit(sound ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << name << " ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << name;
        }
    }
}

}  // namespace
}  // namespace tarvik::testing
