# Run by cpack after it made the packages (CPACK_POST_BUILD_SCRIPTS): what its
# Debian generator leaves undone.
# - The library's package activates the ldconfig trigger (its triggers file),
#   so the postinst and the postrm that CPack gives it to call ldconfig come
#   out; it gets a symbols file, made from the library itself by
#   dpkg-gensymbols: every symbol at this version, as its shlibs file says.
# - A debug-symbol package (.ddeb) lists its files in md5sums by their paths
#   in the package (CPack writes the builder's own), its .debug files are not
#   executable, and its documentation folder is a link to that of the package
#   it belongs to and depends on, as debhelper makes them; it names the
#   source all the packages come from, as they do.
set(compression xz)
if(CPACK_DEBIAN_COMPRESSION_TYPE MATCHES "^(gzip|xz|zstd|none)$")
  set(compression ${CPACK_DEBIAN_COMPRESSION_TYPE})
endif()
find_program(ORV_GENSYMBOLS dpkg-gensymbols)

# md5sums of the package tree <tree>: each regular file outside DEBIAN.
function(orv_write_md5sums tree)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/*")
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    if(file MATCHES "^DEBIAN/" OR IS_SYMLINK "${tree}/${file}")
      continue()
    endif()
    file(MD5 "${tree}/${file}" sum)
    string(APPEND sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
endfunction()

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${deb} NAME)
  if(name MATCHES "^${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME}_.*\\.deb$")
    set(kind library)
  elseif(name MATCHES "^(.+)-dbgsym_.*\\.ddeb$")
    set(kind debug)
    set(owner ${CMAKE_MATCH_1})
  else()
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  if(kind STREQUAL "library")
    file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
    if(ORV_GENSYMBOLS)
      file(GLOB_RECURSE libraries LIST_DIRECTORIES false "${tree}/usr/lib/*.so.*")
      list(FILTER libraries EXCLUDE REGEX "/debug/")
      set(only)
      foreach(library IN LISTS libraries)
        if(NOT IS_SYMLINK "${library}")
          list(APPEND only "-e${library}")
        endif()
      endforeach()
      execute_process(COMMAND ${ORV_GENSYMBOLS} -p${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} -v${CPACK_PACKAGE_VERSION}
                              -P${tree} ${only} -O${tree}/DEBIAN/symbols
                      OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
      # The development package names the library a program is built against.
      file(READ ${tree}/DEBIAN/symbols symbols)
      string(FIND "${symbols}" "\n" end)
      math(EXPR end "${end} + 1")
      string(SUBSTRING "${symbols}" 0 ${end} first)
      string(SUBSTRING "${symbols}" ${end} -1 rest)
      file(WRITE ${tree}/DEBIAN/symbols "${first}* Build-Depends-Package: ${CPACK_DEBIAN_DEV_PACKAGE_NAME}\n${rest}")
    endif()
  else()
    file(GLOB_RECURSE debug LIST_DIRECTORIES false "${tree}/usr/lib/debug/*.debug")
    if(debug)
      file(CHMOD ${debug} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
    file(MAKE_DIRECTORY ${tree}/usr/share/doc)
    file(CREATE_LINK ${owner} ${tree}/usr/share/doc/${owner}-dbgsym SYMBOLIC)
    file(READ ${tree}/DEBIAN/control control)
    if(NOT control MATCHES "(^|\n)Source:")
      file(WRITE ${tree}/DEBIAN/control "Source: ${CPACK_DEBIAN_PACKAGE_SOURCE}\n${control}")
    endif()
    orv_write_md5sums(${tree})
  endif()
  execute_process(COMMAND dpkg-deb --root-owner-group -Z${compression} -b ${tree} ${deb}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
