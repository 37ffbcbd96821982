# What makes a build cheaper without changing what it builds: a compiler cache and a faster linker
# where installed, and Qt's headers parsed once per kind of target instead of once per file.

find_program(ACCTSET_CCACHE ccache)
if(ACCTSET_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  # Paths inside the source tree are hashed relative to it, so clones and worktrees share hits;
  # the sloppiness lets ccache serve files compiled against a precompiled header.
  set(CMAKE_CXX_COMPILER_LAUNCHER
      ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}
      CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
      ${ACCTSET_CCACHE})
endif()

include(CheckLinkerFlag)
check_linker_flag(CXX -fuse-ld=lld ACCTSET_HAVE_LLD)
if(ACCTSET_HAVE_LLD)
  add_link_options(-fuse-ld=lld)
endif()

option(ACCTSET_PCH "Precompile the Qt headers" ON)
# A precompiled header is valid only for files compiled with the same macros; a mismatch falls back
# to parsing the headers, correct but slow, so say so instead of failing the build.
if(ACCTSET_PCH)
  add_compile_options(-Winvalid-pch -Wno-error=invalid-pch)
endif()

# acctset_pch(kind LIBS …): a header set precompiled once, against the libraries of that kind of
# target; acctset_use_pch(target kind) makes a target reuse it.
function(acctset_pch kind)
  cmake_parse_arguments(P "" "" "LIBS" ${ARGN})
  if(NOT ACCTSET_PCH)
    return()
  endif()
  add_library(acctset_pch_${kind} STATIC ${PROJECT_SOURCE_DIR}/cmake/pch/pch.cpp)
  target_link_libraries(acctset_pch_${kind} PRIVATE ${P_LIBS})
  target_precompile_headers(acctset_pch_${kind} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/pch/${kind}.h)
endfunction()

function(acctset_use_pch target kind)
  if(ACCTSET_PCH)
    target_precompile_headers(${target} REUSE_FROM acctset_pch_${kind})
  endif()
endfunction()
