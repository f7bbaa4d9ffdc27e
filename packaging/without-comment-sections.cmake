# Run by cpack once the packages' files are in its staging folder, before it
# splits off their debug symbols (CPACK_PRE_BUILD_SCRIPTS): the programs and
# the library lose the .comment section, the compiler's version notes, which
# a stripped binary in a Debian package does not carry.
if(NOT CPACK_ORV_OBJCOPY)
  message(WARNING "objcopy not found: the packaged binaries keep their .comment section")
  return()
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS files)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND "${CPACK_ORV_OBJCOPY}" --remove-section=.comment "${file}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
