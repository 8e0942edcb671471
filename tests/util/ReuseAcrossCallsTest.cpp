#include "util/JsonFile.h"
#include "util/ReusedThread.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "tests/support/TempDir.h"

using tarvik::JsonFile;
using tarvik::ReusedThread;
using tarvik::TempDir;

// A file read again once it changed (content, replacement, permissions);
// what cannot be read or parsed says so every time.
TEST(JsonFile, KeptUntilTheFileChanges) {
    TempDir dir;
    const std::string path = dir.write("config.json", "{\"a\": 1}");
    JsonFile::Outcome outcome;
    auto first = JsonFile::load(path, outcome);
    ASSERT_EQ(outcome, JsonFile::Outcome::parsed);
    EXPECT_EQ((*first)["a"].asInt(), 1);
    EXPECT_EQ(JsonFile::load(path, outcome).get(), first.get());

    dir.write("next.json", "{\"a\": 22}");
    ASSERT_EQ(std::rename(dir.file("next.json").c_str(), path.c_str()), 0);
    EXPECT_EQ((*JsonFile::load(path, outcome))["a"].asInt(), 22);

    dir.write("config.json", "{\"a\": 3");
    EXPECT_EQ(JsonFile::load(path, outcome), nullptr);
    EXPECT_EQ(outcome, JsonFile::Outcome::notJson);
    EXPECT_EQ(JsonFile::load(dir.file("missing.json"), outcome), nullptr);
    EXPECT_EQ(outcome, JsonFile::Outcome::unreadable);

    dir.write("config.json", "{\"a\": 4}");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    JsonFile::load(path, outcome);
    if (::geteuid() != 0) {
        EXPECT_EQ(outcome, JsonFile::Outcome::unreadable);
    }
}

// Tasks run one after another on the thread the first one started, each
// joined before the next; a task still running when another starts gets a
// thread of its own.
TEST(ReusedThread, KeepsItsThreadForTheNextTask) {
    std::thread::id first, second;
    {
        ReusedThread task;
        task.start([&] { first = std::this_thread::get_id(); });
        task.join();
        EXPECT_FALSE(task.joinable());
        task.start([&] { second = std::this_thread::get_id(); });
    }
    EXPECT_EQ(first, second);
    EXPECT_NE(first, std::this_thread::get_id());

    std::atomic<bool> release{false};
    std::thread::id busy, beside;
    ReusedThread waiting, other;
    waiting.start([&] {
        busy = std::this_thread::get_id();
        while (!release) std::this_thread::yield();
    });
    other.start([&] { beside = std::this_thread::get_id(); });
    other.join();
    release = true;
    waiting.join();
    EXPECT_NE(busy, beside);
}
