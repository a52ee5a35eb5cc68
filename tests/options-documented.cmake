# Every option of a program is documented: each option named in its --help
# (and, with SOURCE, each option the source's parser declares, so that an
# option the hand-written help forgets is caught too) must appear as --NAME
# in the help, in the man page and in the folder's README. So must the names
# of the lists the help prints from the program's tables (the simulator's
# fault points and MPE commands): each in the README as `NAME, and a point
# in the man page too, as a .B or .BI line.
#   cmake -DPROGRAM=... -DMAN=... -DREADME=... [-DSOURCE=options.cpp] -P options-documented.cmake
foreach(variable PROGRAM MAN README)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "options-documented.cmake needs -D${variable}=...")
  endif()
endforeach()

# The names in --NAME words of a text.
function(option_names text out)
  string(REGEX MATCHALL "--[a-z][a-z0-9-]*" words "${text}")
  list(TRANSFORM words REPLACE "^--" "")
  set(${out} ${words} PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
endif()
option_names("${help}" names)

if(DEFINED SOURCE)
  # The option list of QCommandLineParser::addOptions: {"name", ...} or
  # {{"name", "n"}, ...}, one an entry.
  file(READ ${SOURCE} source)
  string(REGEX MATCHALL "addOptions\\(\\{[^;]*\\}\\);" lists "${source}")
  string(REGEX MATCHALL "\n *\\{\\{?\"[a-z][a-z0-9-]*\"" entries "${lists}")
  if(NOT entries)
    message(FATAL_ERROR "no addOptions list found in ${SOURCE}")
  endif()
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE ".*\"([a-z0-9-]+)\"" "\\1" name "${entry}")
    list(APPEND names ${name})
  endforeach()
endif()
list(REMOVE_DUPLICATES names)

# The man page as it reads: roff's \- is a dash, and font changes go.
file(READ ${MAN} man)
string(REPLACE "\\-" "-" man "${man}")
string(REGEX REPLACE "\\\\f[BIRP]" "" man "${man}")
file(READ ${README} readme)

set(missing "")

# A list in the help: a heading that ends in ":", then lines of two spaces,
# a name and what it means.
set(listed 0)
foreach(list Points Commands)
  if(NOT "${help}" MATCHES "\n${list}[^\n]*:((\n  [^\n]*)+)")
    continue()
  endif()
  string(REGEX MATCHALL "\n  [^ \n]+" items "${CMAKE_MATCH_1}")
  foreach(item IN LISTS items)
    string(STRIP "${item}" item)
    math(EXPR listed "${listed} + 1")
    if(NOT "${readme}" MATCHES "`${item}([^A-Za-z0-9-]|$)")
      string(APPEND missing "\n  ${list} ${item} is not in the readme")
    endif()
    # The man page sets a point's argument in italics: ".BI command: verb".
    string(REGEX REPLACE ":.*" ":" stem "${item}")
    if(list STREQUAL "Points" AND NOT "${man}" MATCHES "\n\\.BI? ${stem}([^a-z0-9-]|$)")
      string(APPEND missing "\n  ${list} ${item} is not in the man page")
    endif()
  endforeach()
endforeach()

foreach(name IN LISTS names)
  foreach(place help man readme)
    if(NOT "${${place}}" MATCHES "--${name}([^a-z0-9-]|$)")
      string(APPEND missing "\n  --${name} is not in the ${place}")
    endif()
  endforeach()
endforeach()
if(missing)
  message(FATAL_ERROR "Undocumented in ${PROGRAM}:${missing}")
endif()
list(LENGTH names count)
message(STATUS "${count} options and ${listed} listed names, each where it belongs")
