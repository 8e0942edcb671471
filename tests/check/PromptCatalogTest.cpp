// The prompt list of the check and of `make prompts` against what the call
// flow really plays.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "ivr/PromptCatalog.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing {
namespace {

std::set<std::string> namesWrittenIn(const std::vector<std::string>& folders) {
    std::set<std::string> names;
    const std::regex prompt("Orvel-u4-[A-Za-z0-9-]+");
    for (const std::string& folder : folders) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(std::string(IVR_SOURCE_DIR) + "/" + folder)) {
            if (entry.path().extension() != ".cpp") continue;
            const std::string text = TempDir::readFile(entry.path().string());
            for (auto match = std::sregex_iterator(text.begin(), text.end(), prompt); match != std::sregex_iterator();
                 ++match) {
                names.insert(match->str());
            }
        }
    }
    return names;
}

TEST(PromptCatalog, ListsEveryPromptTheFlowPlaysAndThePlaceholderTableCoversIt) {
    const std::vector<std::string>& catalog = PromptCatalog::names();
    const std::set<std::string> listed(catalog.begin(), catalog.end());
    EXPECT_EQ(listed.size(), catalog.size());
    EXPECT_EQ(listed, namesWrittenIn({"ivr", "sites"}));

    // prompts/prompts.tsv: NAME<TAB>TEXT, "#" comments; every text non-empty.
    std::ifstream table(IVR_SOURCE_DIR "/prompts/prompts.tsv");
    ASSERT_TRUE(table.good());
    std::set<std::string> inTable;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        EXPECT_GT(line.size(), tab + 1) << line;
        EXPECT_TRUE(inTable.insert(line.substr(0, tab)).second) << "twice: " << line;
    }
    EXPECT_EQ(inTable, listed);
}

}  // namespace
}  // namespace tarvik::testing
