# The window program: main.cpp over Form1 and the platform backends.
if(WIN32)
  # A GUI-subsystem executable entered at wWinMain, linked statically so it needs no DLL,
  # carrying its icon, manifest and version information.
  add_executable(tarsolin WIN32 ${PROJECT_SOURCE_DIR}/main.cpp ${TARSOLIN_WIN32_RESOURCES})
  target_link_libraries(tarsolin PRIVATE form1 platform_win32 engine_binding)
  target_link_options(tarsolin PRIVATE -municode)
  target_include_directories(tarsolin PRIVATE ${PROJECT_SOURCE_DIR})
  set_source_files_properties(${TARSOLIN_WIN32_RESOURCES} PROPERTIES OBJECT_DEPENDS
    "${PROJECT_SOURCE_DIR}/assets/tarsolin.ico;${PROJECT_SOURCE_DIR}/platform/win32/tarsolin.manifest;${PROJECT_BINARY_DIR}/platform/win32/tarsolin_version.h")
else()
  add_executable(tarsolin ${PROJECT_SOURCE_DIR}/main.cpp)
  target_link_libraries(tarsolin PRIVATE form1 qt_window_system posix_file_system engine_binding)
endif()
install(TARGETS tarsolin)
