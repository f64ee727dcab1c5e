# How the programs are linked. A fully static program starts without the
# dynamic loader (no libraries to map, no relocations to apply), which is
# most of the start-up of a short fit. Where a static library is missing the
# programs fall back step by step: static libstdc++/libgcc with the shared C
# library, then an ordinary shared link. Sanitizer and fuzz builds always
# link dynamically (their runtimes need it).
#
# Sets TAVRICK_LINK_KIND to "static", "static-runtime" or "shared";
# tavrick_program(target) applies it to one program.
option(TAVRICK_STATIC "Link the programs statically where the static libraries exist" ON)

set(TAVRICK_LINK_KIND shared)
if(TAVRICK_STATIC AND NOT TAVRICK_SANITIZE AND NOT TAVRICK_FUZZ)
  include(CheckCXXSourceCompiles)
  set(_probe "#include <cstdio>\nint main() { std::puts(\"\"); return 0; }\n")
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static)
  check_cxx_source_compiles("${_probe}" TAVRICK_HAVE_STATIC_LIBC)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-libstdc++ -static-libgcc)
  check_cxx_source_compiles("${_probe}" TAVRICK_HAVE_STATIC_LIBSTDCXX)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  unset(CMAKE_REQUIRED_QUIET)

  # The libraries' archives, used for every target of the build once found
  # (the tests link the same code the programs do).
  find_library(TAVRICK_SQLITE3_ARCHIVE NAMES libsqlite3.a)
  if(TAVRICK_SQLITE3_ARCHIVE AND TARGET SQLite::SQLite3)
    set_property(TARGET SQLite::SQLite3 PROPERTY IMPORTED_LOCATION ${TAVRICK_SQLITE3_ARCHIVE})
    find_package(Threads REQUIRED)
    set_property(TARGET SQLite::SQLite3 APPEND PROPERTY
                 INTERFACE_LINK_LIBRARIES Threads::Threads m ${CMAKE_DL_LIBS})
  endif()
  set(_pugixml_static TRUE)
  if(TARGET pugixml::pugixml)
    if(TARGET pugixml::static)
      get_target_property(_loc pugixml::static IMPORTED_LOCATION_NONE)
      if(_loc AND EXISTS "${_loc}")
        set_property(TARGET pugixml::pugixml PROPERTY INTERFACE_LINK_LIBRARIES pugixml::static)
      else()
        set(_pugixml_static FALSE)
      endif()
    else()
      set(_pugixml_static FALSE)
    endif()
  endif()

  if(TAVRICK_HAVE_STATIC_LIBC AND TAVRICK_SQLITE3_ARCHIVE AND _pugixml_static)
    set(TAVRICK_LINK_KIND static)
  elseif(TAVRICK_HAVE_STATIC_LIBSTDCXX)
    set(TAVRICK_LINK_KIND static-runtime)
  endif()
endif()
message(STATUS "tavrick programs: ${TAVRICK_LINK_KIND} link")

# SQLite refers to dlopen for its loadable extensions, which the programs
# never load; in a static program that reference makes the linker warn. It is
# routed to a stub that always fails.
add_library(tavrick_no_dlopen OBJECT EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/no_dlopen.cpp)

function(tavrick_program target)
  if(TAVRICK_LINK_KIND STREQUAL "static")
    target_link_options(${target} PRIVATE -static -Wl,--wrap=dlopen)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:tavrick_no_dlopen>)
  elseif(TAVRICK_LINK_KIND STREQUAL "static-runtime")
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
