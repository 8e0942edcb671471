#pragma once

#include <string>
#include <vector>

namespace tarvik {

// Every prompt name the call flow of either program can play, in name
// order. The configuration check looks for their audio files and the
// placeholder prompts (prompts/prompts.tsv) cover exactly this list; a test
// keeps it in step with the names written in the call-flow sources.
class PromptCatalog {
public:
    static const std::vector<std::string>& names();
    // names() without `left` (the prompts one program never plays).
    static std::vector<std::string> without(const std::vector<std::string>& left);
};

}  // namespace tarvik
