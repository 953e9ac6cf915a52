# SPDX-License-Identifier: Apache-2.0
# PAPPL's source as it is built: the release tarball, checked against its pinned
# SHA-256, unpacked, with the patches of patches/series applied in order. Included, it
# gives the functions; run with cmake -P it unpacks the source into SOURCE_DIR.

# Stop unless TARBALL is there and has the SHA-256 EXPECTED.
function(strobane_pappl_check_tarball tarball expected)
  if(NOT EXISTS "${tarball}")
    message(FATAL_ERROR "PAPPL's source tarball ${tarball} is missing: run scripts/deps.sh, "
                        "which downloads it, or give its path with -DSTROBANE_PAPPL_TARBALL=FILE")
  endif()
  file(SHA256 "${tarball}" found)
  if(NOT found STREQUAL expected)
    message(FATAL_ERROR "PAPPL's source tarball ${tarball} has the SHA-256\n  ${found}\n"
                        "where the release pinned in pappl/release has\n  ${expected}\n"
                        "Remove it and run scripts/deps.sh, or give the right one with "
                        "-DSTROBANE_PAPPL_TARBALL=FILE")
  endif()
endfunction()

# Set OUT to the paths of the patches that SERIES names, in its order; a line holds
# one file name of the series' folder, and # starts a comment.
function(strobane_pappl_read_series series out)
  get_filename_component(dir "${series}" DIRECTORY)
  file(STRINGS "${series}" lines)
  set(patches)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" name "${line}")
    string(STRIP "${name}" name)
    if(name STREQUAL "")
      continue()
    endif()
    if(NOT EXISTS "${dir}/${name}")
      message(FATAL_ERROR "${series} names ${name}, which is not in ${dir}")
    endif()
    list(APPEND patches "${dir}/${name}")
  endforeach()
  set(${out} "${patches}" PARENT_SCOPE)
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE)
  return()
endif()

# Unpack beside SOURCE_DIR and move it into place only once every patch applied, so
# that a patch that fails leaves no half-patched source to build.
strobane_pappl_check_tarball("${TARBALL}" "${SHA256}")
strobane_pappl_read_series("${SERIES}" patches)
get_filename_component(top "${SOURCE_DIR}" NAME)
set(unpacked "${SOURCE_DIR}.new")
file(REMOVE_RECURSE "${unpacked}")
file(ARCHIVE_EXTRACT INPUT "${TARBALL}" DESTINATION "${unpacked}")
if(NOT EXISTS "${unpacked}/${top}/configure")
  message(FATAL_ERROR "${TARBALL} holds no ${top}/configure: it is not PAPPL's release tarball")
endif()
foreach(patch IN LISTS patches)
  execute_process(COMMAND "${PATCH}" -p1 --fuzz=0 --forward --batch --no-backup-if-mismatch
                          -i "${patch}"
                  WORKING_DIRECTORY "${unpacked}/${top}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "The patch ${patch} does not apply to PAPPL's source without fuzz "
                        "(patch -p1 --fuzz=0, in ${unpacked}/${top}):\n${output}")
  endif()
endforeach()
file(REMOVE_RECURSE "${SOURCE_DIR}")
file(RENAME "${unpacked}/${top}" "${SOURCE_DIR}")
file(REMOVE_RECURSE "${unpacked}")
list(LENGTH patches count)
message(STATUS "PAPPL's source is in ${SOURCE_DIR} (patches applied: ${count})")
