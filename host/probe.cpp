#include "probe.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

std::string CheckFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    return errno == ENOENT ? "no such file: " + path : path + ": " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return path + " is a directory, not an audio file";
  if (!S_ISREG(st.st_mode)) return path + " is not a regular file";
  if (access(path.c_str(), R_OK) != 0) return path + ": " + std::strerror(errno);
  if (st.st_size == 0) return path + " is empty";
  return "";
}

namespace {

constexpr int kWaitMs = 3000;

// Connects with a time limit; returns the socket, or -1 with errno set.
int ConnectWithin(const addrinfo* a) {
  const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
  if (fd < 0) return -1;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) return fd;
  if (errno != EINPROGRESS) {
    const int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  pollfd p{fd, POLLOUT, 0};
  int err = ETIMEDOUT;
  socklen_t len = sizeof err;
  if (poll(&p, 1, kWaitMs) == 1) getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
  if (err != 0) {
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

}  // namespace

std::string ProbeUrl(const std::string& url) {
  const auto scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return "";
  const std::string scheme = url.substr(0, scheme_end);
  const std::string rest = url.substr(scheme_end + 3);
  const auto slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  const std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
  if (const auto at = authority.rfind('@'); at != std::string::npos) authority = authority.substr(at + 1);
  std::string host = authority, port = scheme == "https" ? "443" : "80";
  if (!authority.empty() && authority[0] == '[') {  // [v6 address]:port
    const auto close_bracket = authority.find(']');
    host = authority.substr(1, close_bracket == std::string::npos ? std::string::npos : close_bracket - 1);
    if (close_bracket != std::string::npos && authority.size() > close_bracket + 2)
      port = authority.substr(close_bracket + 2);
  } else if (const auto colon = authority.rfind(':'); colon != std::string::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found) return "cannot find the server " + host;
  int fd = -1, why = 0;
  for (const addrinfo* a = found; a && fd < 0; a = a->ai_next)
    if ((fd = ConnectWithin(a)) < 0) why = errno;
  freeaddrinfo(found);
  const std::string where = host + ":" + port;
  if (fd < 0)
    return why == ECONNREFUSED ? "the server " + where + " refuses the connection"
           : why == ETIMEDOUT  ? "the server " + where + " does not answer"
                               : "cannot reach " + where + ": " + std::strerror(why);
  std::string status;
  if (scheme == "http") {
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + authority + "\r\nUser-Agent: tovarin\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      char buf[256];
      pollfd p{fd, POLLIN, 0};
      while (status.find('\n') == std::string::npos && status.size() < 200 && poll(&p, 1, kWaitMs) == 1) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        status.append(buf, static_cast<size_t>(n));
      }
    }
  }
  close(fd);
  if (scheme != "http") return "";
  if (status.empty()) return "the server " + where + " sends no answer";
  status = status.substr(0, status.find_first_of("\r\n"));
  // "HTTP/1.1 404 Not Found" or "ICY 200 OK": a status other than 2xx.
  const auto space = status.find(' ');
  if (space == std::string::npos || status.compare(space + 1, 1, "2") != 0)
    return "the server " + where + " answered \"" + status + "\"";
  return "";
}

}  // namespace host
