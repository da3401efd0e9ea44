# Include roots that hold one folder each. A target sees a folder of the tree (`#include
# "analysis/labelling.h"`) only through the root of a target it links to, so an include of a
# folder the target does not depend on finds nothing and fails the build.
set(KINETISCAN_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include_roots)

# Gives `target` the root that shows `folder` (relative to the project) under its own name.
function(kinetiscan_include_root target scope folder)
  get_filename_component(name ${folder} NAME)
  set(root ${KINETISCAN_INCLUDE_ROOTS}/${name})
  if(NOT EXISTS ${root}/${name})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${name} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# A root that shows only the named headers of include/kinetiscan/.
function(kinetiscan_contract_root target scope name)
  set(root ${KINETISCAN_INCLUDE_ROOTS}/contract-${name})
  file(MAKE_DIRECTORY ${root}/kinetiscan)
  foreach(header ${ARGN})
    if(NOT EXISTS ${root}/kinetiscan/${header})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/include/kinetiscan/${header}
           ${root}/kinetiscan/${header} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()
