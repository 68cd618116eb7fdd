# The cross build must not search the host's /usr/include (its C library headers would
# shadow mingw's), yet the header-only libraries there work for any target. Give the
# compiler a folder that holds links to exactly those libraries and nothing else.
set(TARSOLIN_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-include)
file(MAKE_DIRECTORY ${TARSOLIN_HOST_HEADERS})
foreach(lib CLI nlohmann fmt)
  if(EXISTS ${TARSOLIN_HOST_INCLUDE_DIR}/${lib} AND NOT EXISTS ${TARSOLIN_HOST_HEADERS}/${lib})
    file(CREATE_LINK ${TARSOLIN_HOST_INCLUDE_DIR}/${lib} ${TARSOLIN_HOST_HEADERS}/${lib} SYMBOLIC)
  endif()
endforeach()
include_directories(SYSTEM ${TARSOLIN_HOST_HEADERS})
# Only fmt's headers exist for the target: use it in header-only mode.
add_compile_definitions(FMT_HEADER_ONLY)
