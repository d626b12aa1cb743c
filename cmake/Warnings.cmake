# Project targets call wheelbox_target(<target>) to get the common warnings. They are errors only
# where WHEELBOX_WERROR asks for it (scripts/test and CI do): another compiler's new warning must not
# stop a packager's build.
option(WHEELBOX_WERROR "Treat compiler warnings as errors" OFF)
function(wheelbox_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Woverloaded-virtual -Wimplicit-fallthrough
                                           $<$<BOOL:${WHEELBOX_WERROR}>:-Werror>)
endfunction()

# Subfolders are added when present, so subsystems can land one at a time.
function(wheelbox_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt")
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
