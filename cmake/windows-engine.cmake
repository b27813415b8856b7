# Included by the top-level CMakeLists.txt when building for Windows: the engine, vfpsql and the
# engine's tests, with GoogleTest built from Debian's source package.

# Every program lands in one folder with the runtime DLLs beside it, so each runs as it is.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# Unicode Win32 API throughout; nothing goes through the ANSI code page.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

set(QM_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS ${QM_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${QM_GOOGLETEST_SOURCE}; install the "
                      "Debian package googletest or set QM_GOOGLETEST_SOURCE")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# GoogleTest is third-party code: built without the project's warnings.
add_subdirectory(${QM_GOOGLETEST_SOURCE} googletest EXCLUDE_FROM_ALL SYSTEM)
find_package(Threads REQUIRED)

# The runtime DLLs of the compiler, copied beside the programs.
set(QM_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${found}")
    find_file(found_${dll} ${dll} PATHS /usr/${QM_MINGW_PREFIX}/lib /usr/lib/gcc/${QM_MINGW_PREFIX}
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    set(found ${found_${dll}})
  endif()
  if(NOT EXISTS "${found}")
    message(FATAL_ERROR "runtime DLL ${dll} of ${CMAKE_CXX_COMPILER} not found")
  endif()
  list(APPEND QM_RUNTIME_DLLS ${found})
endforeach()
file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
file(COPY ${QM_RUNTIME_DLLS} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})

enable_testing()
add_subdirectory(vfp)
add_subdirectory(tools)
add_subdirectory(tests)
