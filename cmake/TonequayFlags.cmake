# Compiler flags every build shares: no build folder's path in any output, and, where asked, the
# hardening a Debian package gets.

# A program built in two folders must come out the same, so neither the tree's nor the build
# folder's path may reach a binary (debug information, __FILE__). The build folder's map comes
# last so that it wins for a build folder inside the tree.
add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
                    "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")

# Debian builds its packages with the flags dpkg-buildflags gives (stack protector, fortified
# functions, full RELRO with immediate binding); a package built here must carry the same.
option(TONEQUAY_DEBIAN_FLAGS "Add the hardening flags of dpkg-buildflags to a native build" OFF)
# Linux only: a Mac may have dpkg from Homebrew, whose linker flags its own linker refuses.
if(NOT TONEQUAY_DEBIAN_FLAGS OR CMAKE_CROSSCOMPILING OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()
find_program(TONEQUAY_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT TONEQUAY_DPKG_BUILDFLAGS)
  message(STATUS "No dpkg-buildflags here: the build keeps the compiler's default hardening")
  return()
endif()
foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            "${TONEQUAY_DPKG_BUILDFLAGS}" --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  # dpkg maps the folder it was started in; the maps above already cover this tree.
  string(REGEX REPLACE "-f(file|debug|macro)-prefix-map=[^ ]*" "" flags "${flags}")
  separate_arguments(debian_${kind} UNIX_COMMAND "${flags}")
endforeach()
add_compile_options(${debian_CPPFLAGS} "$<$<COMPILE_LANGUAGE:C>:${debian_CFLAGS}>"
                    "$<$<COMPILE_LANGUAGE:CXX>:${debian_CXXFLAGS}>")
add_link_options(${debian_LDFLAGS})
# Later Debian releases add these two where the compiler has them; they cost nothing here.
include(CheckCXXCompilerFlag)
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "TONEQUAY_HAS${flag}" result)
  check_cxx_compiler_flag(${flag} ${result})
  if(${result})
    add_compile_options(${flag})
  endif()
endforeach()
