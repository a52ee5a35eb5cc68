// The POSIX side of the native socket: errno, file-descriptor calls, and
// the Windows Sockets code each socket error is reported with.
#include "nsvt/socketerrors.h"
#include "nsvt/systemsocket.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace nsvt {

void StartSocketLayer() {}

void StopSocketLayer() {}

int LastSocketError() {
  return errno;
}

bool WouldBlock(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
}

int ToWsaCode(int error) {
  switch (error) {
    case ECONNREFUSED:
      return kWsaConnectionRefused;
    case ETIMEDOUT:
      return kWsaTimedOut;
    case ECONNRESET:
    case EPIPE:
      return kWsaConnectionReset;
    case ECONNABORTED:
      return kWsaConnectionAborted;
    case EHOSTUNREACH:
      return kWsaHostUnreachable;
    case ENETUNREACH:
      return kWsaNetworkUnreachable;
    case ENETDOWN:
      return 10050;
    case ENETRESET:
      return 10052;
    case EADDRNOTAVAIL:
      return 10049;
    case EADDRINUSE:
      return 10048;
    case ENOTCONN:
      return 10057;
    case EACCES:
      return 10013;
    case ENOBUFS:
      return 10055;
    default:
      return 10000 + error;  // no Windows Sockets equivalent
  }
}

QString SocketErrorText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

void CloseSocket(NativeHandle handle) {
  ::close(handle);
}

bool SetNonBlocking(NativeHandle handle) {
  const int flags = fcntl(handle, F_GETFL, 0);
  return flags >= 0 && fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}

void KeepFromChildren(NativeHandle handle) {
  fcntl(handle, F_SETFD, FD_CLOEXEC);
}

std::ptrdiff_t ReceiveSome(NativeHandle handle, std::span<std::uint8_t> buffer) {
  return ::recv(handle, buffer.data(), buffer.size(), MSG_DONTWAIT);
}

std::ptrdiff_t SendSome(NativeHandle handle, const char* data, std::size_t size) {
  return ::send(handle, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace nsvt
