# The resampler, libsoxr (LGPL-2.1+), always as a shared library a user can replace: Debian's own
# libsoxr0 on a Linux host; for Windows (and the macOS build check) a DLL (dylib) built here by the
# library's own CMake from Debian's source package of the same version, fetched by
# scripts/setup-deps.sh, so every build resamples with the same code and a release depends on
# nothing but that pinned source.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr=0.1.3)
  add_library(tonequay_soxr INTERFACE)
  target_link_libraries(tonequay_soxr INTERFACE PkgConfig::SOXR)
  return()
endif()
set(TONEQUAY_SOXR_SOURCE "/opt/tonequay/src/libsoxr-0.1.3" CACHE PATH
    "libsoxr 0.1.3 sources from Debian's source package 0.1.3-4")
if(NOT EXISTS "${TONEQUAY_SOXR_SOURCE}/src/soxr.c")
  message(FATAL_ERROR "No libsoxr sources in ${TONEQUAY_SOXR_SOURCE}: "
                      "run scripts/setup-deps.sh as root")
endif()

include(ExternalProject)
set(soxr_build "${CMAKE_BINARY_DIR}/soxr")
set(soxr_linker_flags "")
if(WIN32)
  # No compiler runtime DLL beside it (i686's libgcc would be one), no time stamp in its header,
  # and the same oldest Windows in its header as the programs have.
  string(REGEX MATCH "-Wl,--major-subsystem-version[^ ]*" soxr_versions
         "${CMAKE_EXE_LINKER_FLAGS_INIT}")
  set(soxr_linker_flags "-static-libgcc -Wl,--no-insert-timestamp ${soxr_versions}")
  set(soxr_library "${soxr_build}/bin/libsoxr.dll")
  set(soxr_link "${soxr_build}/src/libsoxr.dll.a")
  set(soxr_outputs "${soxr_library}" "${soxr_link}")
else()
  set(soxr_library "${soxr_build}/src/libsoxr.0.dylib")
  set(soxr_link "${soxr_library}")
  set(soxr_outputs "${soxr_library}")
endif()
# Neither folder's path may reach the library: a release is the same from any folder.
set(soxr_c_flags "-ffile-prefix-map=${TONEQUAY_SOXR_SOURCE}=libsoxr")
string(APPEND soxr_c_flags " -ffile-prefix-map=${soxr_build}=libsoxr-build")
set(soxr_args
  -DCMAKE_SYSTEM_NAME=${CMAKE_SYSTEM_NAME} -DCMAKE_SYSTEM_PROCESSOR=${CMAKE_SYSTEM_PROCESSOR}
  -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_AR=${CMAKE_AR} -DCMAKE_RANLIB=${CMAKE_RANLIB}
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_POLICY_VERSION_MINIMUM=3.5 -DBUILD_SHARED_LIBS=ON
  # OpenMP would bring libgomp's and a threading library's DLLs along; one thread is all we use.
  -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF
  -DWITH_DEV_TRACE=OFF
  "-DCMAKE_C_FLAGS=${soxr_c_flags}"
  "-DCMAKE_SHARED_LINKER_FLAGS=${soxr_linker_flags}")
if(CMAKE_TOOLCHAIN_FILE)
  list(APPEND soxr_args "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}")
endif()
ExternalProject_Add(soxr_build
  SOURCE_DIR "${TONEQUAY_SOXR_SOURCE}" BINARY_DIR "${soxr_build}"
  PREFIX "${CMAKE_BINARY_DIR}/soxr-ep" CMAKE_ARGS ${soxr_args}
  INSTALL_COMMAND "" BUILD_BYPRODUCTS ${soxr_outputs})

add_library(tonequay_soxr SHARED IMPORTED GLOBAL)
set_target_properties(tonequay_soxr PROPERTIES IMPORTED_LOCATION "${soxr_library}"
  IMPORTED_IMPLIB "${soxr_link}" INTERFACE_INCLUDE_DIRECTORIES "${TONEQUAY_SOXR_SOURCE}/src")
add_dependencies(tonequay_soxr soxr_build)
set(TONEQUAY_SOXR_LIBRARY "${soxr_library}")
if(NOT WIN32)
  return()
endif()
# The zip ships the DLL beside the programs, with its licence: the copyright file of Debian's
# package (pffft's terms among them) and the LGPL's own text, in Notepad's line ends.
install(FILES "${soxr_library}" DESTINATION .)
file(READ "${TONEQUAY_SOXR_SOURCE}/debian/copyright" soxr_copyright)
file(READ "${TONEQUAY_SOXR_SOURCE}/COPYING.LGPL" soxr_lgpl)
string(REPLACE "\n" "\r\n" soxr_licence "${soxr_copyright}\n\n${soxr_lgpl}")
file(WRITE "${CMAKE_BINARY_DIR}/LICENSE-libsoxr.txt" "${soxr_licence}")
install(FILES "${CMAKE_BINARY_DIR}/LICENSE-libsoxr.txt" DESTINATION .)

# Each program that links the resampler finds the DLL in its own folder, as under Wine's tests;
# the window program links none.
function(tonequay_soxr_beside_programs)
  set(dirs "${CMAKE_SOURCE_DIR}")
  set(copies "")
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
    get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
    list(APPEND dirs ${subdirs})
    foreach(program ${targets})
      get_target_property(type ${program} TYPE)
      if(NOT type STREQUAL "EXECUTABLE")
        continue()
      endif()
      # The libraries it links, and theirs, down to the resampler or to the end.
      set(queue ${program})
      set(seen "")
      while(queue AND NOT tonequay_soxr IN_LIST seen)
        list(POP_FRONT queue library)
        if(TARGET ${library} AND NOT library IN_LIST seen)
          list(APPEND seen ${library})
          get_property(links TARGET ${library} PROPERTY LINK_LIBRARIES)
          string(REGEX REPLACE "\\$<LINK_ONLY:([^>]*)>" "\\1" links "${links}")
          list(APPEND queue ${links})
        endif()
      endwhile()
      get_target_property(folder ${program} BINARY_DIR)
      if(tonequay_soxr IN_LIST seen AND NOT "${folder}/libsoxr.dll" IN_LIST copies)
        add_custom_command(OUTPUT "${folder}/libsoxr.dll" DEPENDS "${TONEQUAY_SOXR_LIBRARY}"
          COMMAND "${CMAKE_COMMAND}" -E copy "${TONEQUAY_SOXR_LIBRARY}" "${folder}")
        list(APPEND copies "${folder}/libsoxr.dll")
        add_dependencies(${program} soxr_beside_programs)
      endif()
    endforeach()
  endwhile()
  add_custom_target(soxr_beside_programs DEPENDS ${copies})
  add_dependencies(soxr_beside_programs soxr_build)
endfunction()
