# zorbelix_add_payloads(TARGET NAME...): makes the named payloads with
# make-payload at build time and compiles them into TARGET as resources
# under ":/payloads/", beside the shipped one.
function(zorbelix_add_payloads target)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_payloads)
  list(TRANSFORM ARGN PREPEND ${dir}/ OUTPUT_VARIABLE files)
  add_custom_command(OUTPUT ${files}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND make-payload ${dir} ${ARGN}
    DEPENDS make-payload
    COMMENT "Making the payloads of ${target}")
  qt_add_resources(${target} "${target}_payloads"
    PREFIX "/payloads"
    BASE ${dir}
    FILES ${files})
endfunction()
