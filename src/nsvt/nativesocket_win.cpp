// The Windows side of the native socket: Windows Sockets started and
// stopped with each socket, its errors already the codes the program
// reports, their texts from the system's message table.
#include "nsvt/systemsocket.h"

namespace nsvt {

void StartSocketLayer() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

void StopSocketLayer() {
  WSACleanup();
}

int LastSocketError() {
  return WSAGetLastError();
}

bool WouldBlock(int error) {
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

int ToWsaCode(int error) {
  return error;
}

QString SocketErrorText(int error) {
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  QString result = text ? QString::fromWCharArray(text).trimmed() : QString();
  LocalFree(text);
  return result;
}

void CloseSocket(NativeHandle handle) {
  closesocket(handle);
}

bool SetNonBlocking(NativeHandle handle) {
  u_long on = 1;
  return ioctlsocket(handle, FIONBIO, &on) == 0;
}

void KeepFromChildren(NativeHandle /*handle*/) {}

std::ptrdiff_t ReceiveSome(NativeHandle handle, std::span<std::uint8_t> buffer) {
  return ::recv(handle, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
}

std::ptrdiff_t SendSome(NativeHandle handle, const char* data, std::size_t size) {
  return ::send(handle, data, static_cast<int>(size), 0);
}

}  // namespace nsvt
