#pragma once

#include <array>
#include <mutex>

#include <curl/curl.h>

namespace tarvik {

// One libcurl connection cache that several requests, and several threads,
// may share: requests that go through one cache reuse its open connections.
// A call keeps two: the process's own for the requests on the caller's path,
// and one for the records sent beside the call.
class ConnectionCache {
public:
    ConnectionCache();
    ~ConnectionCache();
    ConnectionCache(const ConnectionCache&) = delete;
    ConnectionCache& operator=(const ConnectionCache&) = delete;

    // Null when libcurl could not make one: requests then open their own.
    CURLSH* handle() const { return share; }

private:
    static void lock(CURL* handle, curl_lock_data data, curl_lock_access access, void* self);
    static void unlock(CURL* handle, curl_lock_data data, void* self);

    CURLSH* share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

}  // namespace tarvik
