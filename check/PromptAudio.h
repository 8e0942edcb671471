#pragma once

#include <string>
#include <vector>

namespace tarvik {

// Which prompts of a directory have no audio file Asterisk can play. A
// prompt is played by name without extension, so any one of the formats
// Asterisk plays will do.
class PromptAudio {
public:
    static const std::vector<std::string>& formats();  // ".wav", ".gsm", ...

    // Problems of `directory` (as written in the configuration, ending in
    // "/") for the prompts `names`: one text when the directory cannot be
    // read, else one per prompt without an audio file.
    static std::vector<std::string> check(const std::string& directory, const std::vector<std::string>& names);

    // The audio files of `directory` for the prompts `names` ("NAME.wav"
    // ...), by file name; empty when the directory cannot be listed.
    static std::vector<std::string> presentFiles(const std::string& directory, const std::vector<std::string>& names);
};

}  // namespace tarvik
