// Heap allocation counting for the benchmarks. Linking alloc_counter.cpp
// replaces the global operator new/delete and, on glibc, interposes
// malloc/calloc/realloc too: Qt's own containers (QString, QByteArray,
// QList) get their storage from malloc directly, not from operator new, so
// counting operator new alone would miss them.
//
// Counting is off until Start() and off again after Stop(), so set-up and
// reporting are not counted. Only the thread that called Start() counts.
#pragma once

#include <cstdint>

namespace alloc_counter {

struct Counts {
  std::uint64_t operatorNew = 0;  // operator new / new[] (all forms)
  std::uint64_t malloc = 0;       // malloc, calloc, realloc, aligned forms, not via operator new
  std::uint64_t total() const { return operatorNew + malloc; }
};

// False in sanitizer builds, which keep their own allocator: nothing is
// counted there.
bool Available();

// True when malloc is interposed (glibc builds); otherwise only operator
// new is counted.
bool CountsMalloc();

void Start();
Counts Stop();

// While counting, print a stack of each of the first `limit` allocations
// to stderr (names need the executable's symbols exported; pipe through
// c++filt to read them).
void PrintStacks(int limit);

}  // namespace alloc_counter
