#include "ivr/PromptCatalog.h"

namespace tarvik {

const std::vector<std::string>& PromptCatalog::names() {
    // Numbers 30, 31, 32 and 35 of the prompt set are played by no dialogue.
    static const std::vector<std::string> all = {
        "Orvel-u4-01",
        "Orvel-u4-02",
        "Orvel-u4-03",
        "Orvel-u4-04",
        "Orvel-u4-05",
        "Orvel-u4-06",
        "Orvel-u4-07",
        "Orvel-u4-08",
        "Orvel-u4-09",
        "Orvel-u4-10",
        "Orvel-u4-11",
        "Orvel-u4-12",
        "Orvel-u4-13",
        "Orvel-u4-14",
        "Orvel-u4-15",
        "Orvel-u4-16",
        "Orvel-u4-17",
        "Orvel-u4-18",
        "Orvel-u4-19",
        "Orvel-u4-20",
        "Orvel-u4-21",
        "Orvel-u4-22",
        "Orvel-u4-23",
        "Orvel-u4-24",
        "Orvel-u4-25",
        "Orvel-u4-26",
        "Orvel-u4-27",
        "Orvel-u4-28",
        "Orvel-u4-29",
        "Orvel-u4-33",
        "Orvel-u4-34",
        "Orvel-u4-36",
        "Orvel-u4-37",
        "Orvel-u4-38",
        "Orvel-u4-39",
        "Orvel-u4-40",
        "Orvel-u4-41",
        "Orvel-u4-42",
        "Orvel-u4-43",
        "Orvel-u4-44",
        "Orvel-u4-45",
        "Orvel-u4-46",
        "Orvel-u4-47",
        "Orvel-u4-48",
        "Orvel-u4-49",
        "Orvel-u4-50",
        "Orvel-u4-51",
        "Orvel-u4-52",
        "Orvel-u4-53",
        "Orvel-u4-54",
        "Orvel-u4-55",
        "Orvel-u4-56",
        "Orvel-u4-57",
        "Orvel-u4-falha-desbloqueio",
    };
    return all;
}

std::vector<std::string> PromptCatalog::without(const std::vector<std::string>& left) {
    std::vector<std::string> kept;
    for (const std::string& name : names()) {
        bool dropped = false;
        for (const std::string& leftOut : left) dropped = dropped || leftOut == name;
        if (!dropped) kept.push_back(name);
    }
    return kept;
}

}  // namespace tarvik
