// The system's socket layer where POSIX sockets and Windows Sockets differ:
// the headers, the handle type and the few calls that are spelt apart. The
// calls are defined in nativesocket_posix.cpp and nativesocket_win.cpp (the
// build takes one); the native socket and the reverse lookup use them with
// the calls both systems share (socket, connect, getnameinfo, ...).
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace nsvt {

#ifdef _WIN32
using NativeHandle = SOCKET;
inline constexpr NativeHandle kNoSocket = INVALID_SOCKET;
#else
using NativeHandle = int;
inline constexpr NativeHandle kNoSocket = -1;
#endif

// Windows Sockets must be started once per user of it and stopped as often;
// elsewhere these do nothing.
void StartSocketLayer();
void StopSocketLayer();

// The last socket call's error, as the system numbers it.
int LastSocketError();
// Whether that error only means "not now" (a full buffer, a connect under way).
bool WouldBlock(int error);
// The Windows Sockets code for a system error (on Windows they are the same).
int ToWsaCode(int error);
// The system's own words for an error.
QString SocketErrorText(int error);

void CloseSocket(NativeHandle handle);
bool SetNonBlocking(NativeHandle handle);
// Keeps a child process from inheriting the socket where the system lets
// it by default.
void KeepFromChildren(NativeHandle handle);

// One receive and one send that never wait (and never raise SIGPIPE): the
// count, 0 for a closed stream on receive, negative on an error
// (LastSocketError says which).
std::ptrdiff_t ReceiveSome(NativeHandle handle, std::span<std::uint8_t> buffer);
std::ptrdiff_t SendSome(NativeHandle handle, const char* data, std::size_t size);

}  // namespace nsvt
