#include "reservedescriptor.h"

// Sockets are not descriptors here, so there is nothing to hold back: the
// simulator waits and accepts again.
ReserveDescriptor::ReserveDescriptor() = default;

ReserveDescriptor::~ReserveDescriptor() = default;

bool ReserveDescriptor::refuseOne(qintptr) {
  return false;
}

const char* ReserveDescriptor::exhaustedResource() {
  return "sockets";
}
