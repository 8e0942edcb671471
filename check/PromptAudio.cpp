#include "check/PromptAudio.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

namespace tarvik {

namespace {

struct DirCloser {
    void operator()(DIR* directory) const noexcept { ::closedir(directory); }
};

}  // namespace

const std::vector<std::string>& PromptAudio::formats() {
    static const std::vector<std::string> all = {".wav", ".gsm", ".ulaw", ".alaw", ".sln", ".g722", ".g729"};
    return all;
}

std::vector<std::string> PromptAudio::check(const std::string& directory, const std::vector<std::string>& names) {
    std::vector<std::string> problems;
    if (directory.empty() || directory.back() != '/') {
        // The call puts the prompt name straight after the directory text.
        problems.push_back("audio directory \"" + directory + "\" does not end in \"/\": prompts would be looked up as \"" +
                           directory + (names.empty() ? std::string("NAME") : names.front()) + "\"");
        return problems;
    }
    errno = 0;
    std::unique_ptr<DIR, DirCloser> listing(::opendir(directory.c_str()));
    if (!listing) {
        problems.push_back("audio directory " + directory + " cannot be read: " + std::strerror(errno));
        return problems;
    }
    std::set<std::string> files;
    while (const dirent* entry = ::readdir(listing.get())) files.insert(entry->d_name);

    std::string looked;
    for (const std::string& format : formats()) looked += (looked.empty() ? "" : " ") + format;
    for (const std::string& name : names) {
        bool found = false;
        for (const std::string& format : formats()) found = found || files.count(name + format) > 0;
        if (!found) problems.push_back("prompt " + name + " has no audio file in " + directory + " (" + looked + ")");
    }
    return problems;
}

std::vector<std::string> PromptAudio::presentFiles(const std::string& directory,
                                                   const std::vector<std::string>& names) {
    std::vector<std::string> present;
    std::unique_ptr<DIR, DirCloser> listing(::opendir(directory.c_str()));
    if (!listing) return present;
    std::set<std::string> files;
    while (const dirent* entry = ::readdir(listing.get())) files.insert(entry->d_name);
    for (const std::string& name : names) {
        for (const std::string& format : formats()) {
            if (files.count(name + format) > 0) present.push_back(name + format);
        }
    }
    return present;
}

}  // namespace tarvik
