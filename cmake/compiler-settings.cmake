# The language level, default build type and warnings shared by certexport and the projects
# built beside it (the benchmark's floor program, the fuzzer).
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
# An empty build type only: None, as Debian's tooling gives it, builds with the packager's flags.
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()
# Warnings are errors where we choose the compiler (CI and scripts/test turn this on); elsewhere a
# newer compiler's new warning must not stop the build.
option(CERTEXPORT_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra $<$<BOOL:${CERTEXPORT_WERROR}>:-Werror>)
