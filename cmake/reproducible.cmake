# The Release build of the Windows programs is the same bytes whoever builds it, wherever and
# whenever, so that anyone can check that a release holds the programs built from its commit.
#
# - The linker writes 0 instead of the time of the link into the PE header's time stamp.
# - The checkout's and the build folder's paths never reach a program: __FILE__ and debug
#   information name files relative to them. (The build folder is mapped after the checkout, so
#   that it wins when it lies inside the checkout.)
# - The compiler writes no identification string of its own ("GCC: (GNU) 12-win32") into the
#   objects; the build record in the release names the compiler instead. (The runtime libraries
#   that Debian ships prebuilt still carry theirs.)
#
# Only Release is changed: a Debug build keeps the real paths that a debugger needs.
if(NOT WIN32)
  return()
endif()

set(release_compile $<AND:$<CONFIG:Release>,$<COMPILE_LANGUAGE:C,CXX>>)
add_compile_options(
  $<${release_compile}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>
  $<${release_compile}:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>
  $<${release_compile}:-fno-ident>)
add_link_options($<$<CONFIG:Release>:LINKER:--no-insert-timestamp>)
