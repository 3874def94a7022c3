# ccache, when present, in front of every compile. Paths are hashed relative
# to the source root and the working directory is left out, so that a fresh
# clone in another folder hits what an earlier clone compiled.
find_program(OSTREL_CCACHE ccache)
if(OSTREL_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_CXX_COMPILER_LAUNCHER
      ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=true
      CCACHE_MAXSIZE=12G ${OSTREL_CCACHE})
endif()
