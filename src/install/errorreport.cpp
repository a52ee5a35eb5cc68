#include "install/errorreport.h"

#include "install/asciitext.h"
#include "nsvt/eventcodes.h"
#include "nsvt/socketerrors.h"

#include <cstdio>

namespace install {

namespace {

const char kKeptWhenContaining[] = "BLOCK";

}  // namespace

ErrorAction ErrorActionFor(int code) {
  return code == nsvt::kWsaConnectionAborted ? ErrorAction::Disconnected : ErrorAction::Report;
}

std::optional<std::string> ErrorStatusLine(int code, std::string_view text) {
  if (UpperAscii(std::string(text)).find(kKeptWhenContaining) != std::string::npos) {
    return std::nullopt;
  }
  if (code <= 0) {
    return std::string(text);
  }
  char head[32];
  std::snprintf(head, sizeof head, "  Network Error: %d, ", code);
  return head + std::string(text);
}

bool ErrorShowsBox(int code) {
  return code != nsvt::kErrorNormalEnd && code != nsvt::kErrorTerminationKnown &&
         code != nsvt::kWsaConnectionReset;
}

}  // namespace install
