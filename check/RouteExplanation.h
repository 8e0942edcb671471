#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace tarvik {

class Profile;

// --explain-route CONFIG.json EXIT [mark::KEY:VALUE ...]: which route entry
// of the configuration's profile a call with these marks takes at EXIT, and
// why each entry does or does not apply. The choice is the profile's own
// (Profile::chooseRoute), so the extension shown is the one a call gets.
class RouteExplanation {
public:
    // `arguments`: EXIT, then the marks. Prints the explanation on `out`
    // and returns 0; one line on `errors` and 1 for an unknown exit, mark
    // arguments of the wrong form, or a configuration or profile that
    // cannot be used.
    static int run(const std::string& path, const std::vector<std::string>& arguments, std::ostream& out,
                   std::ostream& errors);

private:
    using Marks = std::map<std::string, std::string>;

    static bool isKnownExit(const Profile& profile, const std::string& exit);
    static void explain(const Profile& profile, const std::string& exit, const Marks& marks, std::ostream& out);
};

}  // namespace tarvik
