# Run by cpack after it made the packages (CPACK_POST_BUILD_SCRIPTS). CPack
# gives a package with a shared library in the loader's folders a postinst
# and a postrm that call ldconfig; the library's package activates the
# ldconfig trigger instead (its triggers file), so both scripts come out of it.
set(compression xz)
if(CPACK_DEBIAN_COMPRESSION_TYPE MATCHES "^(gzip|xz|zstd|none)$")
  set(compression ${CPACK_DEBIAN_COMPRESSION_TYPE})
endif()
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${deb} NAME)
  if(NOT name MATCHES "^${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME}_.*\\.deb$")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
  execute_process(COMMAND dpkg-deb --root-owner-group -Z${compression} -b ${tree} ${deb}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
