# zorbelix_public_headers(<target>)
#
# Gives a library of src/ an include folder of its own, holding its headers
# and nothing else, so a file can include only the headers of the libraries
# it links (its own, and theirs through PUBLIC links). An include across
# rooms that the link graph does not allow then fails to compile, where it
# would otherwise fail to link, or link by luck through another library.
#
# The headers are the .h files among the target's sources, so call this after
# they are all given. Each one gets a forwarding header
#   <build>/include/<target>/<room>/<name>.h   ->   #include "<source path>"
# and the folder becomes the target's PUBLIC include directory. Include lines
# keep their paths from src/ ("nsvt/vtpkt.h"); compilers, debuggers and
# clang-tidy see the real file. A forwarding header is written only when its
# text changes, so configuring again does not rebuild anything, and one left
# from a header no longer listed is removed.
function(zorbelix_public_headers target)
  set(folder ${CMAKE_BINARY_DIR}/include/${target})
  set(rooms ${PROJECT_SOURCE_DIR}/src)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  list(FILTER sources INCLUDE REGEX "\\.h$")
  set(made)
  foreach(header IN LISTS sources)
    cmake_path(ABSOLUTE_PATH header BASE_DIRECTORY ${source_dir} NORMALIZE)
    cmake_path(IS_PREFIX rooms ${header} NORMALIZE in_rooms)
    if(NOT in_rooms)
      message(FATAL_ERROR "zorbelix_public_headers(${target}): ${header} is not under ${rooms}")
    endif()
    cmake_path(RELATIVE_PATH header BASE_DIRECTORY ${rooms} OUTPUT_VARIABLE name)
    set(forward ${folder}/${name})
    file(CONFIGURE OUTPUT ${forward} @ONLY
         CONTENT "// Made by CMake: @name@, a header of @target@.\n#include \"@header@\"\n")
    list(APPEND made ${forward})
  endforeach()
  file(GLOB_RECURSE present LIST_DIRECTORIES false ${folder}/*)
  foreach(stale IN LISTS present)
    if(NOT stale IN_LIST made)
      file(REMOVE ${stale})
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC ${folder})
endfunction()
