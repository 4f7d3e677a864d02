#include "net/HttpGet.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>

#include "base/Text.h"

namespace duz {

namespace {

constexpr std::size_t PieceSize = 4095;
constexpr std::size_t MaxBody = 1 << 20;
constexpr long ConnectTimeoutSeconds = 15;
constexpr long TotalTimeoutSeconds = 30;

// A request line cannot carry blanks, control or non-ASCII bytes, and a template's value brings a
// leading blank: such bytes travel as %XX, as a browser sends them. Everything else goes as given.
std::string RequestUrl(std::string_view url) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string result;
  for (unsigned char c : url) {
    if (c <= ' ' || c >= 0x7F) {
      result += '%';
      result += Hex[c >> 4];
      result += Hex[c & 15];
    } else {
      result += static_cast<char>(c);
    }
  }
  return result;
}

// The body as the poster has always taken it: in pieces of 4095 bytes, each cut at its first zero
// byte. Past MaxBody the transfer is ended, so a huge reply cannot fill memory.
class TBodyReader {
 public:
  // Returns false at the bound, which makes libcurl end the transfer.
  bool Take(std::string_view data) {
    while (!data.empty()) {
      const std::size_t length = std::min(data.size(), PieceSize - FPieceUsed);
      if (!FPieceCut) {
        const std::string_view part = data.substr(0, length);
        const std::size_t zero = part.find('\0');
        FBody.append(part.substr(0, zero));
        FPieceCut = zero != std::string_view::npos;
        if (FBody.size() >= MaxBody) {
          FBody.resize(MaxBody);
          return false;
        }
      }
      FPieceUsed += length;
      if (FPieceUsed == PieceSize) FPieceUsed = 0, FPieceCut = false;
      data.remove_prefix(length);
    }
    return true;
  }

  // A new response (after a redirect) starts a new body.
  void Restart() {
    FBody.clear();
    FPieceUsed = 0;
    FPieceCut = false;
  }

  const std::string& Body() const { return FBody; }

 private:
  std::string FBody;
  std::size_t FPieceUsed = 0;
  bool FPieceCut = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* reader) {
  return static_cast<TBodyReader*>(reader)->Take({data, size * count}) ? size * count : 0;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* reader) {
  if (StartsWithNoCase({data, size * count}, "HTTP/")) static_cast<TBodyReader*>(reader)->Restart();
  return size * count;
}

void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

std::string HttpGet(const std::string& url) {
  InitialiseOnce();
  const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) return "";
  curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
  headers = curl_slist_append(headers, "Pragma: no-cache");
  const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, curl_slist_free_all);
  if (!headers) return "";

  const std::string fullUrl = RequestUrl(
      StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://") ? url : "http://" + url);
  TBodyReader reader;
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, fullUrl.c_str());
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "ReveZED:/1.0");
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  // Only the web is reachable, also through a redirect: no file:// or other schemes; and what was
  // meant to travel encrypted is never sent in clear because a server said so.
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR,
                   StartsWithNoCase(fullUrl, "https://") ? "https" : "http,https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, TotalTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reader);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &reader);
  // A failed transfer still leaves the status of the last response, which is what counts.
  curl_easy_perform(handle);

  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  if (status == 200 || status == 302) return reader.Body();
  return status == 0 ? "Status:" : "Status:" + std::to_string(status);
}

}  // namespace duz
