// The floor of the start-up and whole-call comparisons: the least a program
// linked like the IVR must pay before it can say anything to Asterisk. It
// loads the same three libraries, initialises libcurl (TLS back end
// included) and writes one command line.

#include <curl/curl.h>
#include <json/value.h>
#include <libxml/parser.h>
#include <unistd.h>

int main() {
    LIBXML_TEST_VERSION
    Json::Value touched(Json::objectValue);  // keeps jsoncpp a real dependency
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        return 1;
    }
    static const char kLine[] = "VERBOSE \"floor\" 1\n";
    ssize_t written = ::write(STDOUT_FILENO, kLine, sizeof kLine - 1);
    curl_global_cleanup();
    return written == static_cast<ssize_t>(sizeof kLine - 1) && touched.isObject() ? 0 : 1;
}
