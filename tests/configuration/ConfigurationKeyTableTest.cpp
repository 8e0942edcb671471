// The table of configuration keys against the README's table of them: an
// operator reads the one, the programs the other.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "configuration/ConfigurationKeyTable.h"

namespace tarvik::testing {
namespace {

using Row = std::tuple<std::string, std::string, std::string>;  // key, type, default

std::string cell(const std::string& text) {
    std::string kept;
    for (char c : text) {
        if (c != '`') kept += c;
    }
    std::size_t first = kept.find_first_not_of(' ');
    std::size_t last = kept.find_last_not_of(' ');
    kept = first == std::string::npos ? std::string() : kept.substr(first, last - first + 1);
    return kept == "—" ? std::string() : kept;  // a dash: no default
}

// The rows of the first table after the heading "Configuration keys".
std::set<Row> readmeRows() {
    std::ifstream readme(IVR_SOURCE_DIR "/README.md");
    std::set<Row> rows;
    std::string line;
    bool underHeading = false;
    bool inTable = false;
    while (std::getline(readme, line)) {
        if (line.rfind("#", 0) == 0) underHeading = line.find(" Configuration keys") != std::string::npos;
        if (!underHeading) continue;
        if (line.rfind("| `", 0) != 0) {
            if (inTable) break;
            continue;
        }
        inTable = true;
        std::istringstream cells(line.substr(1));
        std::string key, type, value;
        std::getline(cells, key, '|');
        std::getline(cells, type, '|');
        std::getline(cells, value, '|');
        rows.emplace(cell(key), cell(type), cell(value));
    }
    return rows;
}

TEST(ConfigurationKeyTable, TheReadmeListsEveryKeyWithItsTypeAndDefault) {
    std::set<Row> code;
    for (const ConfigurationKey* key = ConfigurationKeyTable::begin(); key != ConfigurationKeyTable::end(); ++key) {
        code.emplace(key->path, ConfigurationKeyTable::typeName(key->type), key->defaultValue);
    }
    std::set<Row> readme = readmeRows();
    for (const Row& row : code) {
        EXPECT_EQ(readme.count(row), 1u) << "README lacks: " << std::get<0>(row) << " | " << std::get<1>(row)
                                         << " | " << std::get<2>(row);
    }
    for (const Row& row : readme) {
        EXPECT_EQ(code.count(row), 1u) << "README has, the code does not: " << std::get<0>(row) << " | "
                                       << std::get<1>(row) << " | " << std::get<2>(row);
    }

    // Lookups by path as --check walks a file.
    EXPECT_EQ(ConfigurationKeyTable::member("profile.route[].destinations", "50005"),
              &configurationKey(ConfigurationKeyId::RouteDestination));
    EXPECT_EQ(ConfigurationKeyTable::member("", "pendingTimeout"),
              &configurationKey(ConfigurationKeyId::PendingTimeout));
    EXPECT_EQ(ConfigurationKeyTable::member("", "*"), nullptr);
    EXPECT_EQ(ConfigurationKeyTable::member("", "plugin.driver"), nullptr);
    EXPECT_EQ(ConfigurationKeyTable::memberNames("plugin"), (std::vector<std::string>{"driver", "id"}));
    EXPECT_EQ(configurationKey(ConfigurationKeyId::HttpTimeout).defaultNumber(), 10);
    EXPECT_TRUE(configurationKey(ConfigurationKeyId::FeatureRecall).defaultFlag());
}

}  // namespace
}  // namespace tarvik::testing
