# cmake -DVERSION=X.Y.Z -P check-versions.cmake -- PROGRAM...
# Each program, run with --version, must print its name and VERSION on one
# line and exit with status 0.
set(programs FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  set(arg "${CMAKE_ARGV${i}}")
  if(NOT programs)
    if(arg STREQUAL "--")
      set(programs TRUE)
    endif()
    continue()
  endif()
  get_filename_component(name "${arg}" NAME)
  execute_process(COMMAND "${arg}" --version RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc STREQUAL "0" OR NOT out STREQUAL "${name} ${VERSION}\n")
    message(SEND_ERROR "${name} --version: exit status ${rc}, printed \"${out}\" ${err}")
  endif()
endforeach()
