# Third-party libraries, found as installed packages.

# libbz2 ships no CMake package; Boost's iostreams target links a bare "bz2".
find_path(BZIP2_INCLUDE_DIR bzlib.h REQUIRED)
find_library(BZIP2_LIBRARY NAMES bz2 libbz2 REQUIRED)
if(NOT TARGET bz2)
  add_library(bz2 UNKNOWN IMPORTED)
  set_target_properties(bz2 PROPERTIES
    IMPORTED_LOCATION ${BZIP2_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${BZIP2_INCLUDE_DIR})
endif()

set(Boost_USE_STATIC_LIBS ON)
set(Boost_USE_STATIC_RUNTIME ON)
find_package(Boost 1.81 CONFIG REQUIRED COMPONENTS iostreams system)
find_package(fmt 9 CONFIG REQUIRED)
# As the library was built (scripts/bootstrap-deps.sh): a fixed thousands separator (","), no
# std::locale.
set_property(TARGET fmt::fmt APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS FMT_STATIC_THOUSANDS_SEPARATOR=0x2C)
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
find_package(GTest CONFIG REQUIRED)
