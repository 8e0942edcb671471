// Feeds the input as a back-office answer read through the request result's
// JSON view: the first line is a dotted path ("items.#.name"), the rest the
// body.
#include <cstdint>
#include <string>

#include "api/KestroAgiDataSourceResult.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t feed = input.find('\n');
    std::string path = feed == std::string::npos ? std::string() : input.substr(0, feed);
    std::string body = feed == std::string::npos ? input : input.substr(feed + 1);

    tarvik::KestroAgiDataSourceResult result;
    result.setCode(200);
    result.setText(body.c_str());
    if (!result.changeTypeToJson()) return 0;
    for (int index = 0; index < 3; ++index) {
        result.setCurrentIndex(index);
        (void)result.getJsonResultField(path.c_str());
    }
    (void)result.count(path.c_str());
    (void)result.count("");
    for (auto type : {tarvik::KestroAgiDataSourceResult::EXPORT_STRING, tarvik::KestroAgiDataSourceResult::EXPORT_OBJECT,
                      tarvik::KestroAgiDataSourceResult::EXPORT_ARRAY, tarvik::KestroAgiDataSourceResult::EXPORT_ANY}) {
        (void)result.extract(path.c_str(), type);
    }
    (void)result.getResultField(path.c_str());
    return 0;
}
