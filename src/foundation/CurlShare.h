#pragma once

#include <curl/curl.h>

// Inside the HTTP layer only: what SyncHttp.cpp owns and the cookie store
// uses too.

namespace SyncHttp {

// The process's one share handle: cookies, DNS answers and TLS sessions.
// Asking for it sets libcurl up first, as every handle needs.
CURLSH *curlShare();

// A handle outside the pool, for a call that sends nothing.
struct EasyHandle
{
    CURL *curl = curl_easy_init();
    ~EasyHandle() { curl_easy_cleanup(curl); }
    EasyHandle() = default;
    EasyHandle(const EasyHandle &) = delete;
    EasyHandle &operator=(const EasyHandle &) = delete;
};

} // namespace SyncHttp
