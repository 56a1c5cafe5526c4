#include "ui/cli/display.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace morph {
namespace {

constexpr int kConnectTimeoutMs = 2000;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Connects without waiting longer than the timeout; true on success.
bool ConnectsWithin(int fd, const sockaddr* address, socklen_t length) {
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  if (connect(fd, address, length) == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd p{fd, POLLOUT, 0};
  if (poll(&p, 1, kConnectTimeoutMs) != 1) return false;
  int error = 0;
  socklen_t size = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// A local socket; abstract names start with '@'.
bool LocalSocketAnswers(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  if (path[0] == '@') address.sun_path[0] = '\0';
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  bool ok = ConnectsWithin(fd, reinterpret_cast<sockaddr*>(&address),
                           socklen_t(offsetof(sockaddr_un, sun_path) + path.size()));
  close(fd);
  return ok;
}

bool TcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a && !ok; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd < 0) continue;
    ok = ConnectsWithin(fd, a->ai_addr, a->ai_addrlen);
    close(fd);
  }
  freeaddrinfo(found);
  return ok;
}

}  // namespace

bool XServerAnswers(const std::string& display) {
  size_t colon = display.rfind(':');
  if (colon == std::string::npos || colon + 1 >= display.size()) return false;
  std::string host = display.substr(0, colon);
  char* end = nullptr;
  long number = std::strtol(display.c_str() + colon + 1, &end, 10);
  if (end == display.c_str() + colon + 1 || number < 0 || number > 59535) return false;
  if (host.empty() || host == "unix") {
    std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    return LocalSocketAnswers(path) || LocalSocketAnswers("@" + path);
  }
  return TcpAnswers(host, 6000 + int(number));
}

bool WaylandAnswers(const std::string& name, const std::string& runtimeDirectory) {
  if (name.empty()) return false;
  if (name[0] == '/') return LocalSocketAnswers(name);
  return !runtimeDirectory.empty() && LocalSocketAnswers(runtimeDirectory + "/" + name);
}

bool DisplayAvailable() {
  // The offscreen and minimal platforms show nothing, so a message box
  // there would wait for ever.
  std::string platform = Env("QT_QPA_PLATFORM");
  if (platform.rfind("offscreen", 0) == 0 || platform.rfind("minimal", 0) == 0) return false;
  bool x = XServerAnswers(Env("DISPLAY"));
  bool wayland = WaylandAnswers(Env("WAYLAND_DISPLAY"), Env("XDG_RUNTIME_DIR"));
  if (platform.rfind("xcb", 0) == 0) return x;
  if (platform.rfind("wayland", 0) == 0) return wayland;
  if (!platform.empty()) return true;  // a platform of its own (vnc, eglfs): Qt decides
  return x || wayland;
}

}  // namespace morph
