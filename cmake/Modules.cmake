# cq_add_module(NAME EXPORTS sym1 sym2 ... SOURCES ... LIBS ...)
# A loadable module (dlopen) whose only exported symbols are the given entry
# points; everything else, the statically linked platform included, stays
# hidden behind a version script.
function(cq_add_module name)
  cmake_parse_arguments(M "" "" "EXPORTS;SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${M_SOURCES})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  set(body "{\n  global:\n")
  foreach(sym ${M_EXPORTS})
    string(APPEND body "    ${sym};\n")
  endforeach()
  string(APPEND body "  local: *;\n};\n")
  # Written only when its text changes: a new time stamp would relink the
  # module at every build.
  file(CONFIGURE OUTPUT ${script} CONTENT "${body}" @ONLY)
  target_link_libraries(${name} PRIVATE ${M_LIBS})
  target_link_options(${name} PRIVATE "-Wl,--version-script=${script}")
  # Every symbol resolved at link time, except under clang's sanitizers (the
  # fuzz preset): clang leaves their runtime out of shared objects, to be found
  # in the program that loads them.
  if(NOT (CQ_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang"))
    target_link_options(${name} PRIVATE "-Wl,--no-undefined")
  endif()
  set_target_properties(${name} PROPERTIES PREFIX "" LINK_DEPENDS ${script})
endfunction()
