# Empaquetado.cmake: shared data, desktop entries, icons and man pages, and the Debian packages (CPack).
#
# One package per installation component:
#   pagora-solvane   solvane and solvane-servidor, demo database and example connection files, desktop
#                    entry, icon, man pages
#   libteclon1       libteclon.so.1 (runtime), with shlibs, symbols and the ldconfig trigger
#   libteclon-dev    headers, libteclon.so link, CMake package, pkg-config file, teclon(3)
#   teclon           teclon and teclon-simulador with their man pages
#   pagora-prueba    prueba, the simulated control and its registration, desktop entry, icon, man page
# Every package carries the project version, its copyright and changelog, and a -dbgsym companion with
# the debug information of its binaries; dependencies on system libraries come from dpkg-shlibdeps.

set(PAGORA_DATOS ${CMAKE_INSTALL_DATADIR}/pagora)
set(PAGORA_EMPAQUETADO ${PROJECT_SOURCE_DIR}/packaging)
find_program(PAGORA_GZIP gzip REQUIRED)

# A file compressed as Debian wants it (maximum compression, no name or time stamp, so that two builds
# give the same bytes), made in the build and refreshed when its source changes.
function(pagora_gzip fuente destino)
  add_custom_command(OUTPUT ${destino} DEPENDS ${fuente}
    COMMAND sh -c "${PAGORA_GZIP} -9n -c '${fuente}' > '${destino}'" VERBATIM)
  string(MAKE_C_IDENTIFIER "gz_${destino}" objetivo)
  add_custom_target(${objetivo} ALL DEPENDS ${destino})
endfunction()

# Man pages carry the version from the project and are installed compressed; each goes with its
# program's component. `nombre` is the page's file name in packaging/man (solvane.1, teclon.3).
function(pagora_manual nombre componente)
  configure_file(${PAGORA_EMPAQUETADO}/man/${nombre} ${PROJECT_BINARY_DIR}/man/${nombre} @ONLY)
  pagora_gzip(${PROJECT_BINARY_DIR}/man/${nombre} ${PROJECT_BINARY_DIR}/man/${nombre}.gz)
  string(REGEX REPLACE ".*\\." "" seccion ${nombre})
  install(FILES ${PROJECT_BINARY_DIR}/man/${nombre}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${seccion}
    COMPONENT ${componente})
endfunction()

# Desktop entry and scalable icon of a windowed program.
function(pagora_escritorio nombre componente)
  install(FILES ${PAGORA_EMPAQUETADO}/aplicaciones/${nombre}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${componente})
  install(FILES ${PAGORA_EMPAQUETADO}/iconos/${nombre}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT ${componente})
endfunction()

# What Debian wants in /usr/share/doc/<package> of every package: the copyright and the changelog
# (changelog.gz: these packages are native, their version has no Debian revision); and the package's
# lintian overrides: the Spanish words that lintian takes for English misspellings, each file saying why.
pagora_gzip(${PAGORA_EMPAQUETADO}/debian/changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
function(pagora_documentos paquete componente)
  install(FILES ${PAGORA_EMPAQUETADO}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${paquete} COMPONENT ${componente})
  install(FILES ${PAGORA_EMPAQUETADO}/debian/${paquete}.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${paquete} COMPONENT ${componente})
endfunction()

set(componentes)
if(PAGORA_SOLVANE)
  install(FILES ${PROJECT_SOURCE_DIR}/solvane/datos/PagoraDemo.sql
    ${PROJECT_SOURCE_DIR}/solvane/datos/ejemplo-freetds.conexion ${PAGORA_EMPAQUETADO}/demo.conexion
    DESTINATION ${PAGORA_DATOS} COMPONENT solvane)
  pagora_manual(solvane.1 solvane)
  pagora_manual(solvane-servidor.1 solvane)
  pagora_escritorio(pagora-solvane solvane)
  pagora_documentos(pagora-solvane solvane)
  list(APPEND componentes solvane)
endif()
if(PAGORA_TECLON)
  pagora_manual(teclon.1 teclon)
  pagora_manual(teclon-simulador.1 teclon)
  pagora_manual(teclon.3 libteclon-dev)
  pagora_documentos(libteclon1 libteclon)
  pagora_documentos(libteclon-dev libteclon-dev)
  pagora_documentos(teclon teclon)
  list(APPEND componentes libteclon libteclon-dev teclon)
endif()
if(PAGORA_PRUEBA)
  pagora_manual(prueba.1 prueba)
  pagora_escritorio(pagora-prueba prueba)
  pagora_documentos(pagora-prueba prueba)
  list(APPEND componentes prueba)
endif()

set(CPACK_PACKAGE_NAME pagora)
set(CPACK_PACKAGE_VENDOR "Pagora")
set(CPACK_PACKAGE_CONTACT "Soporte Pagora <soporte@pagora.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL ${componentes})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE pagora)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries found while working out dependencies (libteclon.so.1 for the tools).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/teclon)
# Binaries ship stripped; their debug information goes to a <package>-dbgsym package (.ddeb) each,
# found by build ID under /usr/lib/debug/.build-id as Debian's own debug packages are.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# Each package's description: the summary line, then the text (lines of at most 80 columns).

set(CPACK_DEBIAN_SOLVANE_PACKAGE_NAME pagora-solvane)
set(CPACK_DEBIAN_SOLVANE_PACKAGE_SECTION database)
set(CPACK_DEBIAN_SOLVANE_PACKAGE_DEPENDS qt6-translations-l10n)
set(CPACK_DEBIAN_SOLVANE_PACKAGE_RECOMMENDS tdsodbc)
set(CPACK_DEBIAN_SOLVANE_DESCRIPTION "actualizador de la base de datos del cliente Pagora
Solvane lleva la base de datos del cliente Pagora (SQL Server, por ODBC con
FreeTDS) al esquema ${PROJECT_VERSION} en una sola transacción, con ventana (Qt 6) o
en modo consola. Incluye una base de demostración, ejemplos del archivo de
conexión en /usr/share/pagora y solvane-servidor, que sirve una base simulada
por TDS (el protocolo de SQL Server) a tsql, a ODBC con FreeTDS y a DB-Library.")

set(CPACK_DEBIAN_LIBTECLON_PACKAGE_NAME libteclon1)
set(CPACK_DEBIAN_LIBTECLON_PACKAGE_SECTION libs)
# The library's own control files: shlibs and symbols for dpkg-shlibdeps of the programs that link it
# (the symbols file is the one test teclon_simbolos checks), and the ldconfig trigger in place of the
# maintainer scripts that CPack writes, which cmake/DebFinal.cmake removes.
configure_file(${PROJECT_SOURCE_DIR}/teclon/libteclon1.symbols ${PROJECT_BINARY_DIR}/debian/libteclon1/symbols COPYONLY)
configure_file(${PAGORA_EMPAQUETADO}/debian/libteclon1.shlibs ${PROJECT_BINARY_DIR}/debian/libteclon1/shlibs COPYONLY)
configure_file(${PAGORA_EMPAQUETADO}/debian/libteclon1.triggers ${PROJECT_BINARY_DIR}/debian/libteclon1/triggers COPYONLY)
set(CPACK_DEBIAN_LIBTECLON_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/libteclon1/shlibs
  ${PROJECT_BINARY_DIR}/debian/libteclon1/symbols ${PROJECT_BINARY_DIR}/debian/libteclon1/triggers)
set(CPACK_DEBIAN_LIBTECLON_DESCRIPTION "manejador del PIN pad de Pagora (biblioteca)
libteclon maneja el PIN pad VeriFone 1000SE o VX800 por un puerto serie:
banda, chip, PIN y claves maestras, con la clase C++ cTeclon y una interfaz C.")

set(CPACK_DEBIAN_LIBTECLON-DEV_PACKAGE_NAME libteclon-dev)
set(CPACK_DEBIAN_LIBTECLON-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBTECLON-DEV_PACKAGE_DEPENDS "libteclon1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_LIBTECLON-DEV_DESCRIPTION "manejador del PIN pad de Pagora (desarrollo)
Encabezados de la clase C++ cTeclon y de la interfaz C, página de manual
teclon(3), paquete CMake (Teclon::teclon) y archivo pkg-config (teclon) para
compilar programas con libteclon.")

set(CPACK_DEBIAN_TECLON_PACKAGE_NAME teclon)
set(CPACK_DEBIAN_TECLON_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TECLON_PACKAGE_DEPENDS "libteclon1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TECLON_DESCRIPTION "herramientas de técnico para el PIN pad de Pagora
teclon prueba un PIN pad conectado a un puerto serie; teclon-simulador simula
uno en un seudoterminal.")

set(CPACK_DEBIAN_PRUEBA_PACKAGE_NAME pagora-prueba)
set(CPACK_DEBIAN_PRUEBA_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PRUEBA_PACKAGE_DEPENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PRUEBA_DESCRIPTION "formulario de prueba del control de transacciones de Pagora
Prueba (Qt 6) crea el control Pagora.ISOPagora y llama a cada uno de sus
métodos. Trae un control simulado registrado por omisión.")

set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebFinal.cmake)

include(CPack)
