// One header, named by the build (tests/CMakeLists.txt), compiled against
// the run's include path: build.rooms_enforced shows what the run can reach.
#include ROOMS_HEADER
