# expat built from Debian's source (ZELREP_EXPAT_SOURCE, prepared by
# scripts/expat-source.sh) with its own CMake, for builds that have no
# system library to link, such as the Windows build's nsfdb: the static
# library only, without its tools, examples, tests and documents.
foreach(part TOOLS EXAMPLES TESTS DOCS PKGCONFIG)
  set(EXPAT_BUILD_${part} OFF CACHE BOOL "" FORCE)
endforeach()
set(EXPAT_SHARED_LIBS OFF CACHE BOOL "" FORCE)
set(EXPAT_ENABLE_INSTALL OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZELREP_EXPAT_SOURCE} expat EXCLUDE_FROM_ALL)
add_library(EXPAT::EXPAT ALIAS expat)
# Debian's patches test "XML_DTD == 1", as its own (autotools) build
# defines it; expat's CMake defines it empty.
set(expat_config ${CMAKE_CURRENT_BINARY_DIR}/expat/expat_config.h)
file(READ ${expat_config} expat_config_text)
string(REPLACE "#define XML_DTD\n" "#define XML_DTD 1\n" expat_config_text "${expat_config_text}")
file(WRITE ${expat_config} "${expat_config_text}")
