// Windows Sockets error codes, the codes the program reports socket
// failures with on every platform (the error rules name them: 10053 an
// aborted connection, 10054 a reset, ...).
#pragma once

namespace nsvt {

inline constexpr int kWsaConnectionAborted = 10053;
inline constexpr int kWsaConnectionReset = 10054;
inline constexpr int kWsaNoBufferSpace = 10055;
inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaConnectionRefused = 10061;
inline constexpr int kWsaHostUnreachable = 10065;
inline constexpr int kWsaNetworkUnreachable = 10051;
inline constexpr int kWsaHostNotFound = 11001;

}  // namespace nsvt
