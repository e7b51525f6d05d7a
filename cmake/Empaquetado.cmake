# Empaquetado.cmake: shared data, desktop entries, icons and man pages, and the Debian packages (CPack).
#
# One package per installation component:
#   pagora-solvane   solvane and solvane-servidor, demo database and example connection files, desktop
#                    entry, icon, man pages
#   libteclon1       libteclon.so.1 (runtime)
#   libteclon-dev    headers, libteclon.so link, CMake package, pkg-config file
#   teclon           teclon and teclon-simulador with their man pages
#   pagora-prueba    prueba, the simulated control and its registration, desktop entry, icon, man page
# Every package carries the project version; dependencies on system libraries come from dpkg-shlibdeps.

set(PAGORA_DATOS ${CMAKE_INSTALL_DATADIR}/pagora)
set(PAGORA_EMPAQUETADO ${PROJECT_SOURCE_DIR}/packaging)

# Man pages carry the version from the project; each goes with its program's component.
function(pagora_manual nombre componente)
  configure_file(${PAGORA_EMPAQUETADO}/man/${nombre}.1 ${PROJECT_BINARY_DIR}/man/${nombre}.1 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/man/${nombre}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT ${componente})
endfunction()

# Desktop entry and scalable icon of a windowed program.
function(pagora_escritorio nombre componente)
  install(FILES ${PAGORA_EMPAQUETADO}/aplicaciones/${nombre}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${componente})
  install(FILES ${PAGORA_EMPAQUETADO}/iconos/${nombre}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT ${componente})
endfunction()

set(componentes)
if(PAGORA_SOLVANE)
  install(FILES ${PROJECT_SOURCE_DIR}/solvane/datos/PagoraDemo.sql
    ${PROJECT_SOURCE_DIR}/solvane/datos/ejemplo-freetds.conexion ${PAGORA_EMPAQUETADO}/demo.conexion
    DESTINATION ${PAGORA_DATOS} COMPONENT solvane)
  pagora_manual(solvane solvane)
  pagora_manual(solvane-servidor solvane)
  pagora_escritorio(pagora-solvane solvane)
  list(APPEND componentes solvane)
endif()
if(PAGORA_TECLON)
  pagora_manual(teclon teclon)
  pagora_manual(teclon-simulador teclon)
  list(APPEND componentes libteclon libteclon-dev teclon)
endif()
if(PAGORA_PRUEBA)
  pagora_manual(prueba prueba)
  pagora_escritorio(pagora-prueba prueba)
  list(APPEND componentes prueba)
endif()

set(CPACK_PACKAGE_NAME pagora)
set(CPACK_PACKAGE_VENDOR "Pagora")
set(CPACK_PACKAGE_CONTACT "Soporte Pagora <soporte@pagora.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Herramientas del cliente Pagora")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL ${componentes})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Our own libraries found while working out dependencies (libteclon.so.1 for the tools).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/teclon)

set(CPACK_DEBIAN_SOLVANE_PACKAGE_NAME pagora-solvane)
set(CPACK_DEBIAN_SOLVANE_PACKAGE_SECTION database)
set(CPACK_DEBIAN_SOLVANE_PACKAGE_RECOMMENDS tdsodbc)
set(CPACK_COMPONENT_SOLVANE_DESCRIPTION "Actualizador de la base de datos del cliente Pagora
 Solvane lleva la base de datos del cliente Pagora (SQL Server, por ODBC con FreeTDS) al esquema
 ${PROJECT_VERSION} en una sola transacción, con ventana (Qt 6) o en modo consola. Incluye una base de
 demostración y ejemplos del archivo de conexión en /usr/share/pagora, y solvane-servidor, que sirve
 una base simulada por TDS (el protocolo de SQL Server) a tsql, ODBC con FreeTDS y DB-Library.")

set(CPACK_DEBIAN_LIBTECLON_PACKAGE_NAME libteclon1)
set(CPACK_DEBIAN_LIBTECLON_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBTECLON_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_LIBTECLON_DESCRIPTION "Manejador del PIN pad de Pagora (biblioteca)
 libteclon maneja el PIN pad VeriFone 1000SE o VX800 por un puerto serie: banda, chip, PIN y claves
 maestras, con interfaz C++ (cTeclon) y C.")

set(CPACK_DEBIAN_LIBTECLON-DEV_PACKAGE_NAME libteclon-dev)
set(CPACK_DEBIAN_LIBTECLON-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBTECLON-DEV_PACKAGE_DEPENDS "libteclon1 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_LIBTECLON-DEV_DESCRIPTION "Manejador del PIN pad de Pagora (desarrollo)
 Encabezados, paquete CMake (Teclon::teclon) y archivo pkg-config (teclon) para compilar programas
 con libteclon.")

set(CPACK_DEBIAN_TECLON_PACKAGE_NAME teclon)
set(CPACK_DEBIAN_TECLON_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TECLON_PACKAGE_DEPENDS "libteclon1 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_TECLON_DESCRIPTION "Herramientas de técnico para el PIN pad de Pagora
 teclon prueba un PIN pad conectado a un puerto serie; teclon-simulador simula uno en un
 seudoterminal.")

set(CPACK_DEBIAN_PRUEBA_PACKAGE_NAME pagora-prueba)
set(CPACK_DEBIAN_PRUEBA_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_PRUEBA_DESCRIPTION "Formulario de prueba del control de transacciones de Pagora
 Prueba (Qt 6) crea el control Pagora.ISOPagora y llama a cada uno de sus métodos. Trae un control
 simulado registrado por omisión.")

include(CPack)
