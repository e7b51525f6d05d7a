# DebFinal.cmake: run by CPack after it builds the packages, to finish what CPack leaves short of Debian's
# rules, each package unpacked and rebuilt with dpkg-deb:
# - CPack gives the package holding the shared library maintainer scripts that call ldconfig; Debian wants
#   the ldconfig trigger instead (the package ships its `triggers` file), and without scripts a removed
#   library leaves nothing behind. So the scripts are taken out of that package.
# - CPack writes the md5sums of a -dbgsym package with the paths of its own staging folder, and gives it no
#   documentation. Its md5sums are made again from its files, and its /usr/share/doc/<package>-dbgsym
#   points at that of the package it belongs to (its exact dependency), as Debian's own -dbgsym packages do.

function(pagora_rehacer paquete arbol)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b ${arbol} ${paquete}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${arbol})
endfunction()

foreach(paquete IN LISTS CPACK_PACKAGE_FILES)
  set(arbol ${paquete}.arbol)
  if(paquete MATCHES "/libteclon1_[^/]*\\.deb$")
    file(REMOVE_RECURSE ${arbol})
    execute_process(COMMAND dpkg-deb -R ${paquete} ${arbol} COMMAND_ERROR_IS_FATAL ANY)
    if(NOT EXISTS ${arbol}/DEBIAN/triggers)
      message(FATAL_ERROR "${paquete}: falta el disparador de ldconfig (DEBIAN/triggers)")
    endif()
    file(REMOVE ${arbol}/DEBIAN/postinst ${arbol}/DEBIAN/postrm)
    pagora_rehacer(${paquete} ${arbol})
  elseif(paquete MATCHES "\\.ddeb$")
    file(REMOVE_RECURSE ${arbol})
    execute_process(COMMAND dpkg-deb -R ${paquete} ${arbol} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND dpkg-deb -f ${paquete} Package OUTPUT_VARIABLE nombre
      OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE "-dbgsym$" "" principal ${nombre})
    file(MAKE_DIRECTORY ${arbol}/usr/share/doc)
    file(CREATE_LINK ${principal} ${arbol}/usr/share/doc/${nombre} SYMBOLIC)
    execute_process(COMMAND sh -c "find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum > DEBIAN/md5sums"
      WORKING_DIRECTORY ${arbol} COMMAND_ERROR_IS_FATAL ANY)
    pagora_rehacer(${paquete} ${arbol})
  endif()
endforeach()
