# Compiler cache, when the machine has one.
find_program(CORVID_CCACHE ccache)
if(CORVID_CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CORVID_CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${CORVID_CCACHE})
endif()

# Warnings and sanitizers for every target of the project.
add_compile_options(-Wall -Wextra)
if(CORVID_WERROR)
  add_compile_options(-Werror)
endif()

if(CORVID_SANITIZE)
  add_compile_options(-fsanitize=${CORVID_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${CORVID_SANITIZE})
  if(CORVID_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC's flow warnings see the sanitizers' instrumentation and report
    # paths that cannot run (inside std::regex and std::vector here); the
    # plain build keeps them as errors.
    add_compile_options(-Wno-maybe-uninitialized -Wno-stringop-overflow)
  endif()
endif()

if(CORVID_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "CORVID_BUILD_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  # Coverage feedback for the fuzzers from all library code.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# cv_library(NAME LIBS...): one static library per subsystem folder, made
# of every .cpp file of the folder.
function(cv_library name)
  cmake_parse_arguments(CV "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${CV_LIBS})
  else()
    # A folder that holds only headers so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${CV_LIBS})
  endif()
endfunction()
