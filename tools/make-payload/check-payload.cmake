# Regenerates the payload image and checks it against the committed one:
# identical bytes, 438 records of 256 bytes, and the version line inside.
# Run by ctest with GENERATOR, OUTPUT_DIR and COMMITTED set.
set(OUTPUT ${OUTPUT_DIR}/ZORBELIX)
execute_process(COMMAND ${GENERATOR} ${OUTPUT_DIR} ZORBELIX RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make-payload failed: ${rc}")
endif()

file(SIZE ${OUTPUT} size)
if(NOT size EQUAL 112128)
  message(FATAL_ERROR "generated image has ${size} bytes, expected 112128")
endif()

# file(STRINGS) picks the printable runs out of the binary image.
file(STRINGS ${OUTPUT} versionLines REGEX "ZORBELIX - 2\\.5\\.0\\.6")
if(NOT versionLines)
  message(FATAL_ERROR "generated image lacks the version line ZORBELIX - 2.5.0.6")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${COMMITTED}
  RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${COMMITTED} differs from what make-payload writes; "
    "regenerate it (tools/make-payload/README.md)")
endif()
