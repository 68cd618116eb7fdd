# The Windows installer, made on the build machine with NSIS (Debian: nsis): a 64-bit
# installer holding tarsolin.exe and jetrepair.exe (static, no DLL beside them), a
# Start-menu shortcut and an uninstaller registered under Add/Remove Programs.
find_program(TARSOLIN_MAKENSIS makensis)
if(NOT TARSOLIN_MAKENSIS OR NOT TARGET tarsolin OR NOT TARGET jetrepair)
  message(STATUS "Sin makensis: no se hará el instalador de Windows")
  return()
endif()
set(TARSOLIN_INSTALLER ${PROJECT_BINARY_DIR}/tarsolin-${TARSOLIN_DISPLAY_VERSION}-instalador.exe)
set(TARSOLIN_VERSION_BINARY_DOTTED
  "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
set(TARSOLIN_ICON ${PROJECT_SOURCE_DIR}/assets/tarsolin.ico)
configure_file(${TARSOLIN_PACKAGING_DIR}/windows/tarsolin.nsi.in ${PROJECT_BINARY_DIR}/tarsolin.nsi @ONLY)
add_custom_command(OUTPUT ${TARSOLIN_INSTALLER}
  COMMAND ${TARSOLIN_MAKENSIS} -V2 -NOCD
    -DTARSOLIN_EXE=$<TARGET_FILE:tarsolin> -DJETREPAIR_EXE=$<TARGET_FILE:jetrepair>
    ${PROJECT_BINARY_DIR}/tarsolin.nsi
  DEPENDS tarsolin jetrepair ${PROJECT_BINARY_DIR}/tarsolin.nsi ${TARSOLIN_ICON}
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
add_custom_target(installer ALL DEPENDS ${TARSOLIN_INSTALLER})
