// Terminal data both ways: the host's output into the console, HostText
// and RawHostData; lines, byte arrays and transfer blocks out as terminal
// input messages; and the trace writes, which do nothing unless tracing is
// on.
#include "../shell/TNSVT.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kTermIoDumpLimit = 2048;  // bytes of host output dumped per message
const char kNulShownAs = '~';

}  // namespace

void TNSVT::ReceiveTermIo(nsvt::ConstBytes message) {
  const nsvt::ConstBytes data = nsvt::TermIoData(message);
  const std::size_t n = data.size();

  if (ConsoleEcho) {
    AppendConsoleBytes(data);
  }
  if (TraceOn) {
    if (nsvt::GetBE16(message, nsvt::kOffTermIoCount) == 0) {
      TraceLine(" {}");
    } else {
      char line[64];
      std::snprintf(line, sizeof line, " TERM_IO from host [%5d] [%.4X]", static_cast<int>(n),
                    static_cast<unsigned>(nsvt::GetBE16(message, nsvt::kOffTermIoWord)));
      TraceLine(line);
      TraceHexDump(data.first(std::min(n, kTermIoDumpLimit)));
    }
  }

  // RawHostData keeps what fits; the excess of a flood that no dialogue
  // clears is dropped, so the buffer is never overrun.
  const std::size_t room = RawHostData.size() - static_cast<std::size_t>(RawHostCount);
  const std::size_t kept = std::min(n, room);
  std::copy_n(data.begin(), kept, RawHostData.begin() + RawHostCount);
  RawHostCount += static_cast<std::int32_t>(kept);

  const std::size_t start = HostText.size();
  HostText.append(reinterpret_cast<const char*>(data.data()), n);
  std::replace(HostText.begin() + static_cast<std::ptrdiff_t>(start), HostText.end(), '\0',
               kNulShownAs);
  if (HostText.size() > kHostTextLimit) {
    // The output after the head goes, oldest first, half the limit at once
    // so a flood costs little per message; what the states judge at fixed
    // places (the 7th character) stays where it was.
    HostText.erase(kHostTextHead, HostText.size() - kHostTextLimit / 2);
  }

  if (ConsoleEcho && message[nsvt::kOffOutputControl] != nsvt::kOutputControlNoNewLine) {
    EndConsoleLine();
  }
}

bool TNSVT::SendLine(std::string_view text) {
  std::size_t n = text.size();
  if (n > nsvt::kMaxTerminalData) {
    return false;
  }
  if (HostReadLength != 0 && static_cast<std::size_t>(HostReadLength) < n) {
    n = static_cast<std::size_t>(HostReadLength);
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t length = nsvt::BuildTerminalInput(sendBuffer, EchoWord, std::span(bytes, n));
  const bool sent = SocketSend(std::span(sendBuffer).first(length)) >= 0;

  std::string echo(text);
  echo.push_back(' ');
  if (ConsoleEcho) {
    AppendConsoleBytes(std::span(reinterpret_cast<const std::uint8_t*>(echo.data()), echo.size()));
    EndConsoleLine();
  }
  if (TraceOn) {
    if (maskTracedLine) {
      std::fill(echo.begin(), echo.end() - 1, '*');
    }
    TraceLine(" [" + echo + "]");
  }
  SetConsoleInput(false);
  return sent;
}

bool TNSVT::SendArray(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > nsvt::kMaxTerminalData) {
    return false;
  }
  std::size_t n = bytes.size();
  if (HostReadLength != 0 && static_cast<std::size_t>(HostReadLength) < n) {
    n = static_cast<std::size_t>(HostReadLength);
  }
  SetConsoleInput(false);
  const std::size_t length = nsvt::BuildTerminalInput(sendBuffer, EchoWord, bytes.first(n));
  const bool sent = SocketSend(std::span(sendBuffer).first(length)) >= 0;
  if (LocalEcho) {
    AppendConsoleBytes(bytes);
    const std::uint8_t lineBreak[] = {'\r', '\n'};
    AppendConsoleBytes(lineBreak);
  }
  if (TraceOn) {
    TraceLine(" SendArray [" + std::to_string(bytes.size()) + "]");
    TraceHexDump(bytes);
  }
  return sent;
}

bool TNSVT::blk_out(std::span<std::uint8_t, install::kBlockSize> block) {
  SetConsoleInput(false);
  install::CompleteBlock(block);
  const std::size_t length = nsvt::BuildTerminalInput(sendBuffer, EchoWord, block);
  const bool sent = SocketSend(std::span(sendBuffer).first(length)) >= 0;
  if (TraceOn) {
    TraceLine(" blk_out [" + std::to_string(install::kBlockSize) + "]");
    TraceHexDump(block);
  }
  return sent;
}

void TNSVT::ClearHostText(bool withRaw) {
  HostText.clear();
  if (withRaw) {
    RawHostCount = 0;
  }
}

void TNSVT::TraceMark(std::string_view text) {
  trace.TraceMark(text);
}

void TNSVT::TraceLine(std::string_view text) {
  trace.TraceLine(text);
}

void TNSVT::TraceHexDump(std::span<const std::uint8_t> bytes) {
  trace.TraceHexDump(bytes);
}
