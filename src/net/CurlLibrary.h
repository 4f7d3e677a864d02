#pragma once
// TCurlLibrary: the functions of libcurl that HTTP requests use, resolved when the first request
// needs them, so that a process that makes no request maps none of libcurl's long chain of
// libraries. Typed from curl's own header, so every call is checked as a direct one would be. Any
// thread may call Load; the library stays loaded for the rest of the process.
#include <curl/curl.h>

namespace duz {

struct TCurlLibrary {
  decltype(&curl_easy_init) EasyInit;
  decltype(&curl_easy_cleanup) EasyCleanup;
  decltype(&curl_easy_setopt) EasySetopt;
  decltype(&curl_easy_perform) EasyPerform;
  decltype(&curl_easy_getinfo) EasyGetinfo;
  decltype(&curl_easy_strerror) EasyStrerror;
  decltype(&curl_slist_append) SlistAppend;
  decltype(&curl_slist_free_all) SlistFreeAll;

  // The library, loaded and initialised. Raises Exception with the reason when it cannot be (not
  // installed, too old), and then the next call tries again.
  static const TCurlLibrary& Load();
};

}  // namespace duz
