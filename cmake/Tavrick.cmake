# Warnings for the project's own code. Every single-precision step must be an
# explicit cast, so -Wconversion and -Wdouble-promotion are on.
set(TAVRICK_WARNINGS
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wdouble-promotion
  -Wold-style-cast)
set(TAVRICK_TEST_WARNINGS -Wall -Wextra)
# Warnings as errors in developer and CI builds (the Makefile's test targets
# and .ci/run turn it on); a user's build with another compiler or flags must
# not fail on a new warning.
if(TAVRICK_WERROR)
  list(APPEND TAVRICK_WARNINGS -Werror)
  list(APPEND TAVRICK_TEST_WARNINGS -Werror)
endif()

# tavrick_library(name folder [deps...]): one static library from every .cpp of
# a folder (not its subfolders).
function(tavrick_library name)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${TAVRICK_WARNINGS})
  if(L_DEPS)
    target_link_libraries(${name} PUBLIC ${L_DEPS})
  endif()
endfunction()

# clang (the fuzz build) warns about helpers used only in a switched-off
# `if constexpr` branch (the diagnostic dump); gcc accepts them.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  list(APPEND TAVRICK_WARNINGS -Wno-unneeded-internal-declaration)
endif()
