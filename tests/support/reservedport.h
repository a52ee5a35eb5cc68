// A loopback port bound without listening, held for the holder's life: it
// refuses connections, and no other program can take it meanwhile, as it
// could a port that was only closed.
#pragma once

#include <QtGlobal>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace support {

class ReservedPort {
public:
  ReservedPort() {
#ifndef _WIN32
    handle_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (handle_ >= 0 && ::bind(handle_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(handle_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      port_ = ntohs(address.sin_port);
    }
#endif
  }
  ~ReservedPort() {
#ifndef _WIN32
    if (handle_ >= 0) {
      ::close(handle_);
    }
#endif
  }
  ReservedPort(const ReservedPort&) = delete;
  ReservedPort& operator=(const ReservedPort&) = delete;
  // 0 when no port could be bound (and on Windows, where none is).
  quint16 port() const {
    return port_;
  }

private:
  int handle_ = -1;
  quint16 port_ = 0;
};

}  // namespace support
