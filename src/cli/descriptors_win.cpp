// Open-file limits on Windows: sockets are not descriptors, and there is no
// limit to go by.
#include "cli/descriptors.h"

namespace cli {

long RaiseOpenFileLimit() {
  return 0;
}

long OpenDescriptors() {
  return 0;
}

}  // namespace cli
