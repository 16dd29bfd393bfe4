# Dependencies of a cross-build for Windows, taken from the build machine's
# Debian packages: the header-only CLI11 and nlohmann-json through a folder
# that holds only them (the machine's /usr/include must not shadow the
# target's C library), and GoogleTest built for the target from its sources.
set(KESTROW_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${KESTROW_HOST_HEADERS})
foreach(dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/setup.sh")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${KESTROW_HOST_HEADERS}/${dir} SYMBOLIC)
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${KESTROW_HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${KESTROW_HOST_HEADERS})

if(KESTROW_TESTS)
  set(KESTROW_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources (Debian package googletest)")
  if(NOT EXISTS ${KESTROW_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "${KESTROW_GOOGLETEST_SOURCE} is missing: run KESTROW_WINDOWS=ON scripts/setup.sh")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  enable_language(C)
  add_subdirectory(${KESTROW_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Their headers are a system's to our warnings, as the installed ones are.
  foreach(target gtest gtest_main gmock gmock_main)
    get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${target} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${dirs}")
  endforeach()
endif()
