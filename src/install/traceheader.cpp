#include "install/traceheader.h"

#include "install/versioninfo.h"

#include <string>

namespace install {

namespace {

const char kTraceTitle[] = "PELTRIMAX TRACE: ";

}  // namespace

void WriteTraceHeader(nsvt::HostLink& host) {
  host.TraceLine(kTraceTitle + VersionText());
  host.TraceLine(kApplicationTitle);
}

}  // namespace install
