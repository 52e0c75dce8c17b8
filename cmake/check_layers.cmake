# Refuses an include that runs up a layer. Each folder of src/ is a layer (core/validate is one of
# its own); a file may include its own layer and the layers below. A unit-test folder
# (tests/unit/<layer>) keeps the rule of the layer it tests; the fixture tool's tests stand above
# every layer. Run as a script: cmake -DROOT=<source> -DLAYERS=<lowest,...,highest>
# -DSTAMP=<file> -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)

string(REPLACE "," ";" LAYERS "${LAYERS}")

# The layer a path inside src/ (or a unit-test folder name) belongs to, as its index in LAYERS.
function(layer_of relative out)
  if(relative MATCHES "^core/validate/")
    set(name validate)
  elseif(relative MATCHES "^([a-z_]+)/")
    set(name ${CMAKE_MATCH_1})
  else()
    set(name "")
  endif()
  list(FIND LAYERS "${name}" index)
  set(${out} ${index} PARENT_SCOPE)
endfunction()

set(refusals "")
function(check_file file own_index)
  file(STRINGS ${file} includes REGEX "^#include \"[a-z_]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
    # A unit-test helper of another folder belongs to that folder's layer.
    string(REGEX REPLACE "^unit/" "" target "${header}")
    layer_of(${target} index)
    if(index GREATER own_index)
      file(RELATIVE_PATH shown ${ROOT} ${file})
      list(GET LAYERS ${own_index} own)
      list(GET LAYERS ${index} above)
      list(APPEND refusals "${shown} includes ${header}: ${above} is above ${own}")
      set(refusals "${refusals}" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

file(GLOB_RECURSE sources RELATIVE ${ROOT}/src ${ROOT}/src/*.h ${ROOT}/src/*.cc)
foreach(relative IN LISTS sources)
  layer_of(${relative} own)
  if(own LESS 0)
    message(FATAL_ERROR "src/${relative} lies in no known layer")
  endif()
  check_file(${ROOT}/src/${relative} ${own})
endforeach()

file(GLOB_RECURSE tests RELATIVE ${ROOT}/tests/unit ${ROOT}/tests/unit/*.h ${ROOT}/tests/unit/*.cc)
foreach(relative IN LISTS tests)
  layer_of(${relative} own)
  # Folders that are no layer (the fixture tool's tests) may use every layer.
  if(own GREATER_EQUAL 0)
    check_file(${ROOT}/tests/unit/${relative} ${own})
  endif()
endforeach()

if(refusals)
  list(JOIN refusals "\n  " shown)
  message(FATAL_ERROR "includes that run up a layer:\n  ${shown}")
endif()
file(TOUCH ${STAMP})
