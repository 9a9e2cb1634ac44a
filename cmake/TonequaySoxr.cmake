# The resampler: Debian's libsamplerate on the host; for Windows, a static library compiled from
# Debian's source package of the same version, fetched by scripts/setup-deps.sh, so both builds
# resample with the same code and a release depends on nothing but that pinned source.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SAMPLERATE REQUIRED IMPORTED_TARGET samplerate=0.2.2)
  add_library(tonequay_samplerate INTERFACE)
  target_link_libraries(tonequay_samplerate INTERFACE PkgConfig::SAMPLERATE)
  return()
endif()
set(TONEQUAY_SAMPLERATE_SOURCE "/opt/tonequay/src/libsamplerate-0.2.2" CACHE PATH
    "libsamplerate 0.2.2 sources from Debian's source package 0.2.2-3")
if(NOT EXISTS "${TONEQUAY_SAMPLERATE_SOURCE}/src/samplerate.c")
  message(FATAL_ERROR "No libsamplerate sources in ${TONEQUAY_SAMPLERATE_SOURCE}: "
                      "run scripts/setup-deps.sh as root")
endif()
set(srcDir "${TONEQUAY_SAMPLERATE_SOURCE}/src")
add_library(tonequay_samplerate STATIC "${srcDir}/samplerate.c" "${srcDir}/src_linear.c"
            "${srcDir}/src_sinc.c" "${srcDir}/src_zoh.c")
# What its own build would find on x86: every converter, and no processor that clips on its own.
target_compile_definitions(tonequay_samplerate PRIVATE ENABLE_SINC_BEST_CONVERTER
  ENABLE_SINC_MEDIUM_CONVERTER ENABLE_SINC_FAST_CONVERTER CPU_CLIPS_POSITIVE=0
  CPU_CLIPS_NEGATIVE=0 HAVE_STDBOOL_H=1 PACKAGE="libsamplerate" VERSION="0.2.2")
target_compile_options(tonequay_samplerate PRIVATE -w
  "-ffile-prefix-map=${TONEQUAY_SAMPLERATE_SOURCE}=libsamplerate")
target_include_directories(tonequay_samplerate SYSTEM PUBLIC "${TONEQUAY_SAMPLERATE_SOURCE}/include")
