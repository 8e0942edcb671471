#include "api/ConnectionCache.h"

namespace tarvik {

ConnectionCache::ConnectionCache() {
    share = curl_share_init();
    if (share == nullptr) return;
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &ConnectionCache::lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &ConnectionCache::unlock);
    curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

ConnectionCache::~ConnectionCache() {
    if (share != nullptr) curl_share_cleanup(share);
}

void ConnectionCache::lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    auto* cache = static_cast<ConnectionCache*>(self);
    if (data >= 0 && data < CURL_LOCK_DATA_LAST) cache->locks[data].lock();
}

void ConnectionCache::unlock(CURL*, curl_lock_data data, void* self) {
    auto* cache = static_cast<ConnectionCache*>(self);
    if (data >= 0 && data < CURL_LOCK_DATA_LAST) cache->locks[data].unlock();
}

}  // namespace tarvik
