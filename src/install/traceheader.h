// The two lines every trace begins with.
#pragma once

#include "nsvt/hostlink.h"

namespace install {

// "PELTRIMAX TRACE: " and the version text, then the application title;
// written through host's trace, which must be on.
void WriteTraceHeader(nsvt::HostLink& host);

}  // namespace install
