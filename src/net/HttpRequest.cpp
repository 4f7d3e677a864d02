#include "net/HttpRequest.h"

#include <memory>

#include "base/Exception.h"
#include "base/Text.h"
#include "net/CurlLibrary.h"
#include "net/OpenSslLibrary.h"

namespace duz {

namespace {

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

bool HasHttpScheme(std::string_view url) {
  return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

// The body of the last response; past MaxHttpBody the transfer is ended, so a huge reply cannot
// fill memory.
class TBodyReader {
 public:
  // Returns false at the bound, which makes libcurl end the transfer.
  bool Take(std::string_view data) {
    FBody.append(data.substr(0, MaxHttpBody - FBody.size()));
    return FBody.size() < MaxHttpBody;
  }
  // A new response (after a redirect) starts a new body.
  void Restart() { FBody.clear(); }
  std::string& Body() { return FBody; }

 private:
  std::string FBody;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* reader) {
  return static_cast<TBodyReader*>(reader)->Take({data, size * count}) ? size * count : 0;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* reader) {
  if (StartsWithNoCase({data, size * count}, "HTTP/")) static_cast<TBodyReader*>(reader)->Restart();
  return size * count;
}

struct TCaFile {
  const std::string& Path;
  bool Failed = false;
};

// The CA file adds to the system's trust store that libcurl has loaded, as the mail client's does.
// The OpenSSL that libcurl has loaded by then: loading it here maps nothing more.
CURLcode AddCaFile(CURL*, void* context, void* caFile) {
  auto& file = *static_cast<TCaFile*>(caFile);
  try {
    file.Failed = TOpenSslLibrary::Load().SslCtxLoadVerifyLocations(static_cast<SSL_CTX*>(context),
                                                                    file.Path.c_str(), nullptr) != 1;
  } catch (const Exception&) {
    file.Failed = true;
  }
  return file.Failed ? CURLE_SSL_CACERT_BADFILE : CURLE_OK;
}

// The authority's start and end in url: after "://", up to the first "/", "?" or "#".
std::pair<std::size_t, std::size_t> Authority(std::string_view url) {
  const std::size_t scheme = url.find("://");
  const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
  return {start, std::min(url.find_first_of("/?#", start), url.size())};
}

}  // namespace

THttpReply SendHttpRequest(const THttpRequest& request) {
  THttpReply reply;
  const TCurlLibrary* library = nullptr;
  try {
    library = &TCurlLibrary::Load();
  } catch (const Exception& error) {
    reply.Error = error.Message();
    return reply;
  }
  const TCurlLibrary& libcurl = *library;
  const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(libcurl.EasyInit(), libcurl.EasyCleanup);
  curl_slist* headers = nullptr;
  for (const std::string& header : request.Headers) headers = libcurl.SlistAppend(headers, header.c_str());
  // A POST goes at once, without waiting for a "100 Continue" that few receivers send.
  if (request.Body) headers = libcurl.SlistAppend(headers, "Expect:");
  const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, libcurl.SlistFreeAll);
  if (!curl || (!headers && (request.Body || !request.Headers.empty()))) {
    reply.Error = "no request could be made";
    return reply;
  }

  const std::string url = RequestUrl(HasHttpScheme(request.Url) ? request.Url : "http://" + request.Url);
  TBodyReader reader;
  char error[CURL_ERROR_SIZE] = "";
  CURL* handle = curl.get();
  libcurl.EasySetopt(handle, CURLOPT_URL, url.c_str());
  libcurl.EasySetopt(handle, CURLOPT_USERAGENT, "ReveZED:/1.0");
  libcurl.EasySetopt(handle, CURLOPT_HTTPHEADER, headers);
  if (request.Body) {
    libcurl.EasySetopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.Body->size()));
    libcurl.EasySetopt(handle, CURLOPT_POSTFIELDS, request.Body->data());
    libcurl.EasySetopt(handle, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
  }
  // Only the web is reachable, also through a redirect: no file:// or other schemes; and what was
  // meant to travel encrypted (a webhook's token) is never sent in clear because a server said so.
  libcurl.EasySetopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  libcurl.EasySetopt(handle, CURLOPT_REDIR_PROTOCOLS_STR,
                     StartsWithNoCase(url, "https://") ? "https" : "http,https");
  libcurl.EasySetopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  libcurl.EasySetopt(handle, CURLOPT_MAXREDIRS, 10L);
  libcurl.EasySetopt(handle, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
  libcurl.EasySetopt(handle, CURLOPT_TIMEOUT, TotalTimeoutSeconds);
  libcurl.EasySetopt(handle, CURLOPT_NOSIGNAL, 1L);
  libcurl.EasySetopt(handle, CURLOPT_SSL_VERIFYPEER, request.TlsVerify ? 1L : 0L);
  libcurl.EasySetopt(handle, CURLOPT_SSL_VERIFYHOST, request.TlsVerify ? 2L : 0L);
  TCaFile caFile{request.CaFile};
  if (!request.CaFile.empty()) {
    libcurl.EasySetopt(handle, CURLOPT_SSL_CTX_FUNCTION, AddCaFile);
    libcurl.EasySetopt(handle, CURLOPT_SSL_CTX_DATA, &caFile);
  }
  libcurl.EasySetopt(handle, CURLOPT_ERRORBUFFER, error);
  libcurl.EasySetopt(handle, CURLOPT_WRITEFUNCTION, OnBody);
  libcurl.EasySetopt(handle, CURLOPT_WRITEDATA, &reader);
  libcurl.EasySetopt(handle, CURLOPT_HEADERFUNCTION, OnHeader);
  libcurl.EasySetopt(handle, CURLOPT_HEADERDATA, &reader);
  // A failed transfer still leaves the status of the last response, which is what counts.
  if (const CURLcode result = libcurl.EasyPerform(handle); result != CURLE_OK)
    reply.Error = caFile.Failed ? "Cannot load the CA file " + request.CaFile
                  : *error      ? error
                                : libcurl.EasyStrerror(result);
  libcurl.EasyGetinfo(handle, CURLINFO_RESPONSE_CODE, &reply.Status);
  reply.Body = std::move(reader.Body());
  return reply;
}

std::string HttpFailure(const THttpReply& reply) {
  if (reply.Status >= 200 && reply.Status < 300) return "";
  if (reply.Status != 0) return "HTTP " + std::to_string(reply.Status);
  return reply.Error.empty() ? "no response" : reply.Error;
}

bool MayPass(const THttpReply& reply) {
  return reply.Status == 0 || reply.Status >= 500 || reply.Status == 429;
}

bool IsHttpUrl(std::string_view url) {
  if (!HasHttpScheme(url)) return false;
  const std::string host = UrlWithoutCredentials(url);
  const auto [start, end] = Authority(host);
  return end > start;
}

std::string UrlWithoutCredentials(std::string_view url) {
  const auto [start, end] = Authority(url);
  const std::size_t at = url.substr(start, end - start).rfind('@');
  if (at == std::string_view::npos) return std::string(url);
  return std::string(url.substr(0, start)) + std::string(url.substr(start + at + 1));
}

}  // namespace duz
