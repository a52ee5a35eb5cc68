# zorbelix_platform_sources(<target> <stem>...)
#
# Adds the platform's half of each pair of platform files to a target:
# <stem>_win.cpp on Windows, <stem>_posix.cpp elsewhere. What differs between
# the two systems lives only in such pairs, never in the shared files.
function(zorbelix_platform_sources target)
  if(WIN32)
    set(suffix _win.cpp)
  else()
    set(suffix _posix.cpp)
  endif()
  list(TRANSFORM ARGN APPEND ${suffix} OUTPUT_VARIABLE sources)
  target_sources(${target} PRIVATE ${sources})
endfunction()
