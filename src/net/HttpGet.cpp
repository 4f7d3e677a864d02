#include "net/HttpGet.h"

#include <string_view>

#include "net/HttpRequest.h"

namespace duz {

namespace {

constexpr std::size_t PieceSize = 4095;

// The body as the poster has always taken it: in pieces of 4095 bytes, each cut at its first zero
// byte.
std::string PosterBody(std::string_view body) {
  std::string result;
  for (std::size_t at = 0; at < body.size(); at += PieceSize) {
    const std::string_view piece = body.substr(at, PieceSize);
    result.append(piece.substr(0, piece.find('\0')));
  }
  return result;
}

}  // namespace

std::string HttpGet(const std::string& url) {
  THttpRequest request;
  request.Url = url;
  request.Headers = {"Cache-Control: no-cache", "Pragma: no-cache"};
  const THttpReply reply = SendHttpRequest(request);
  if (reply.Status == 200 || reply.Status == 302) return PosterBody(reply.Body);
  return reply.Status == 0 ? "Status:" : "Status:" + std::to_string(reply.Status);
}

}  // namespace duz
