# One INTERFACE target carries the language standard and the warnings; every library and
# executable of the project links it.
add_library(kelvad_options INTERFACE)
target_compile_features(kelvad_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(kelvad_options INTERFACE -Wall -Wextra)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 reports std::string::insert/replace of literals as overlapping copies when inlined
  # at -O2 (a false positive, fixed in GCC 13).
  target_compile_options(kelvad_options INTERFACE -Wno-restrict)
endif()
target_include_directories(kelvad_options INTERFACE ${PROJECT_SOURCE_DIR}/src)

if(WIN32)
  # One self-contained executable: no runtime DLL beside it.
  target_compile_definitions(kelvad_options INTERFACE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
                                                      _WIN32_WINNT=0x0601)
  target_link_options(kelvad_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# kelvad_add_library(<name> <sources...> [LINKS <targets...>])
function(kelvad_add_library name)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  add_library(${name} STATIC ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PUBLIC kelvad_options ${ARG_LINKS})
endfunction()
