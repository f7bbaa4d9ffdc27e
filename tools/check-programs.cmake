# cmake -DVERSION=X.Y.Z -DMANDIR=<folder of NAME.1> -P check-programs.cmake -- PROGRAM...
# Each program, run with --version, must print its name and VERSION on one
# line and exit with status 0; its --help and its manual page must name the
# same options, in the usage and the synopsis and in all.
set(programs FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")

# The options (--name) that <text> names, sorted, each once.
function(options_of out text)
  string(REGEX MATCHALL "--[a-z][a-z-]*" found "${text}")
  list(REMOVE_DUPLICATES found)
  list(SORT found)
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# <what> of <name> names the same options in --help and in the manual page.
function(same_options name what help page)
  options_of(in_help "${help}")
  options_of(in_page "${page}")
  if(NOT in_help STREQUAL in_page)
    message(SEND_ERROR "${name}: ${what} of --help names \"${in_help}\", of the manual page \"${in_page}\"")
  endif()
endfunction()

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

  execute_process(COMMAND "${arg}" --help RESULT_VARIABLE rc OUTPUT_VARIABLE help ERROR_VARIABLE err)
  if(NOT rc STREQUAL "0")
    message(SEND_ERROR "${name} --help: exit status ${rc} ${err}")
  endif()
  file(READ "${MANDIR}/${name}.1" page)
  string(REPLACE "\\-" "-" page "${page}")
  same_options(${name} "the whole" "${help}" "${page}")
  # The usage ends with the line of --help and --version.
  set(last_line "--help | --version")
  string(FIND "${help}" "${last_line}" end)
  string(LENGTH "${last_line}" length)
  math(EXPR end "${end} + ${length}")
  string(SUBSTRING "${help}" 0 ${end} usage)
  string(REGEX REPLACE ".*\n\\.SH SYNOPSIS\n" "" synopsis "${page}")
  string(REGEX REPLACE "\n\\.SH .*" "" synopsis "${synopsis}")
  same_options(${name} "the usage" "${usage}" "${synopsis}")
endforeach()
