// Opening the trace file on Windows.
#include "nsvt/trace.h"

#include <cerrno>
#include <cstring>

namespace nsvt {

TraceFile OpenTraceFile(const std::string& path, bool emptied, std::string& reason) {
  // No links or FIFOs to plant in the way POSIX folders allow.
  TraceFile file(std::fopen(path.c_str(), emptied ? "wb" : "ab"));
  reason = file ? std::string() : std::strerror(errno);
  return file;
}

}  // namespace nsvt
