# The window program: main.cpp over Form1 and the platform backends.
if(WIN32)
  # The Windows branch (Win32 window system, COM file-system object) comes with platform/win32.
else()
  add_executable(tarsolin ${PROJECT_SOURCE_DIR}/main.cpp)
  target_link_libraries(tarsolin PRIVATE form1 qt_window_system posix_file_system engine_binding)
endif()
