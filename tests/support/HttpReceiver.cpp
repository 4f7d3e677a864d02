#include "support/HttpReceiver.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>

#include "support/Env.h"

namespace duz::test {

THttpReceiver::THttpReceiver(std::map<std::string, int> statuses)
    : FStatuses(std::move(statuses)), FServer([this](int socket) { Serve(socket); }) {}

std::vector<TReceivedRequest> THttpReceiver::Requests() const {
  std::lock_guard lock(FLock);
  return FRequests;
}

std::vector<TReceivedRequest> THttpReceiver::Requests(const std::string& path) const {
  std::vector<TReceivedRequest> found = Requests();
  std::erase_if(found, [&](const TReceivedRequest& request) { return request.Path != path; });
  return found;
}

bool THttpReceiver::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return Requests().size() >= count; }, timeout);
}

void THttpReceiver::Serve(int socket) {
  std::string buffer;
  const std::optional<std::string> head = ReadUntil(socket, buffer, "\r\n\r\n");
  if (!head) return;
  TReceivedRequest request;
  request.Head = head->substr(0, head->size() - 2);
  request.Method = head->substr(0, head->find(' '));
  const std::size_t path = request.Method.size() + 1;
  request.Path = head->substr(path, head->find(' ', path) - path);
  std::string lower = *head;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::size_t length = lower.find("\r\ncontent-length:");
  const std::size_t size =
      length == std::string::npos ? 0 : std::strtoul(head->c_str() + length + 17, nullptr, 10);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (buffer.size() < size && std::chrono::steady_clock::now() < deadline) {
    pollfd entry{socket, POLLIN, 0};
    char chunk[4096];
    const ssize_t received = poll(&entry, 1, 100) > 0 ? recv(socket, chunk, sizeof chunk, 0) : 0;
    if (received < 0 || (received == 0 && entry.revents)) return;
    buffer.append(chunk, static_cast<std::size_t>(received));
  }
  request.Body = buffer.substr(0, size);
  const auto status = FStatuses.find(request.Path);
  {
    std::lock_guard lock(FLock);
    FRequests.push_back(std::move(request));
  }
  WriteAll(socket, "HTTP/1.1 " + std::to_string(status == FStatuses.end() ? 200 : status->second) +
                       " Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

}  // namespace duz::test
