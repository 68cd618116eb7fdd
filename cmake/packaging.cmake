# What `cmake --install` puts beside the two programs, and the packages made from it:
# a .deb on Linux (CPack, `--target package`) and an NSIS installer for Windows
# (`--target installer`, built with the program when makensis is found).
set(TARSOLIN_PUBLISHER "Tarsolin" CACHE STRING "Publisher named by the packages")
set(TARSOLIN_CONTACT "Tarsolin <tarsolin@tarsolin.es>" CACHE STRING "Maintainer of the packages")
# The day this version was released (UTC seconds), stated once: the manual pages, the
# AppStream release and the Debian changelog each print it in their own form.
set(TARSOLIN_RELEASE_EPOCH 1796644800)

set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${TARSOLIN_RELEASE_EPOCH})
string(TIMESTAMP TARSOLIN_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP TARSOLIN_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")

set(TARSOLIN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(TARSOLIN_APP_ID es.tarsolin.tarsolin)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/installer.cmake)
  return()
endif()

set(staged ${PROJECT_BINARY_DIR}/packaging)

# Manual pages, gzipped as Debian's policy wants them (-n: no name or time inside, so the
# bytes depend on the text alone).
set(manual_pages)
foreach(page jetrepair tarsolin)
  configure_file(${TARSOLIN_PACKAGING_DIR}/linux/${page}.1.in ${staged}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${staged}/man/${page}.1.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${staged}/${page}.1 ${staged}/man/${page}.1
    COMMAND gzip -9nf ${staged}/man/${page}.1
    DEPENDS ${staged}/${page}.1 VERBATIM)
  list(APPEND manual_pages ${staged}/man/${page}.1.gz)
endforeach()
# We are upstream and the version has no Debian revision: a native package, whose
# changelog is changelog.gz.
configure_file(${TARSOLIN_PACKAGING_DIR}/linux/changelog.in ${staged}/changelog @ONLY)
add_custom_command(OUTPUT ${staged}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${staged}/changelog ${staged}/doc/changelog
  COMMAND gzip -9nf ${staged}/doc/changelog
  DEPENDS ${staged}/changelog VERBATIM)
add_custom_target(packaging_files ALL DEPENDS ${manual_pages} ${staged}/doc/changelog.gz)

configure_file(${TARSOLIN_PACKAGING_DIR}/linux/${TARSOLIN_APP_ID}.metainfo.xml.in
  ${staged}/${TARSOLIN_APP_ID}.metainfo.xml @ONLY)
configure_file(${TARSOLIN_PACKAGING_DIR}/linux/copyright.in ${staged}/copyright @ONLY)

install(FILES ${TARSOLIN_PACKAGING_DIR}/linux/${TARSOLIN_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${staged}/${TARSOLIN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32)
  install(FILES ${PROJECT_SOURCE_DIR}/assets/tarsolin-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tarsolin.png)
endforeach()
install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${staged}/copyright ${staged}/doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The .deb: its dependencies are what dpkg-shlibdeps finds the two programs linked against.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarsolin)
set(CPACK_PACKAGE_VERSION ${TARSOLIN_DISPLAY_VERSION})
set(CPACK_PACKAGE_VENDOR ${TARSOLIN_PUBLISHER})
set(CPACK_PACKAGE_CONTACT ${TARSOLIN_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repara bases de datos de Access dañadas")
set(CPACK_PACKAGE_DESCRIPTION [=[
Tarsolin comprueba y repara en su sitio bases de datos de Microsoft Access
dañadas: .mdb de Jet 3 (Access 95 y 97), .mdb de Jet 4 (Access 2000 a 2003)
y .accdb de ACE (Access 2007 y posteriores). Guarda antes el original como
copia de seguridad.

Incluye la ventana tarsolin y la orden jetrepair, que comprueba, repara y
vuelca bases de datos desde la línea de órdenes.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
