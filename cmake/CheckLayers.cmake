# Checks that every #include points down the layers. Run as a script:
#   cmake -DROOT=<source tree> -P cmake/CheckLayers.cmake
# Every library sees the whole tree as its include path, so the compiler
# cannot refuse an upward include; this check does. It prints one line per
# wrong include (file, line, the include, what the folder may include) and
# fails when there is any.

cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED ROOT)
  message(FATAL_ERROR "CheckLayers: pass -DROOT=<source tree>")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)

# Which folders each folder may include, lowest layer first. A folder not
# listed here (and not under tests/) is not checked.
set(platform_all platform/core platform/os platform/dataset platform/ui)
set(allow_platform/core platform/core)
set(allow_platform/os platform/core platform/os)
# The dataset layer reports handler exceptions through the engine UI seam.
set(allow_platform/dataset platform/core platform/ui platform/dataset)
set(allow_platform/ui platform/core platform/ui)
set(allow_dbengine/foundation ${platform_all} dbengine/foundation)
set(allow_dbengine/storage ${allow_dbengine/foundation} dbengine/storage)
set(allow_dbengine/api ${allow_dbengine/storage} dbengine/api)
set(allow_dbengine/sql ${allow_dbengine/api} dbengine/sql)
set(engine_all ${allow_dbengine/sql})
# Benchmarks may drive the layers through the tests' fakes, and measure the
# application's own code (with its test stand-ins).
set(allow_bench ${engine_all} bench tests/common tests/platform/dataset tests/dbengine/storage
                tests/dbengine/api
                app tests/app/support)
set(layers platform/core platform/os platform/dataset platform/ui dbengine/foundation
           dbengine/storage dbengine/api dbengine/sql bench)
# The platform and the engine never see Qt: its headers all begin with Q.
set(no_qt platform/core platform/os platform/dataset platform/ui dbengine/foundation
          dbengine/storage dbengine/api dbengine/sql)

# Within a layer: the base stream knows none of its subclasses, so a stream
# user never drags in the file layer. Pairs of "file|include it may not have".
set(forbidden
    "dbengine/foundation/VEZStream.h|dbengine/foundation/VEZFileStream.h"
    "dbengine/foundation/VEZStream.h|dbengine/foundation/VEZMemoryStream.h"
    "dbengine/foundation/VEZStream.h|dbengine/foundation/VEZTemporaryStream.h"
    "dbengine/foundation/VEZStream.h|platform/os/File.h"
    "dbengine/foundation/VEZStream.cpp|dbengine/foundation/VEZFileStream.h"
    "dbengine/foundation/VEZStream.cpp|dbengine/foundation/VEZMemoryStream.h"
    "dbengine/foundation/VEZStream.cpp|dbengine/foundation/VEZTemporaryStream.h"
    "dbengine/foundation/VEZStream.cpp|platform/os/File.h")

# The rule for a folder: its own entry, or the entry of the layer that
# contains it (platform/core/sub obeys platform/core). A test folder obeys the
# folder it tests, and may use tests/common and the test helpers of the
# layers that folder may include.
function(layer_of rel out_layer)
  set(best "")
  foreach(layer IN LISTS layers)
    if(rel STREQUAL layer OR rel MATCHES "^${layer}/")
      set(best ${layer})
    endif()
  endforeach()
  set(${out_layer} "${best}" PARENT_SCOPE)
endfunction()

set(violations 0)
file(GLOB_RECURSE files RELATIVE "${ROOT}" "${ROOT}/platform/*" "${ROOT}/dbengine/*"
     "${ROOT}/app/*" "${ROOT}/bench/*" "${ROOT}/tests/*")
list(FILTER files INCLUDE REGEX "\\.(h|hpp|cpp|cc|inc)$")
list(SORT files)
foreach(file IN LISTS files)
  get_filename_component(dir "${file}" DIRECTORY)
  set(is_test FALSE)
  set(subject "${dir}")
  if(dir MATCHES "^tests/(.*)$")
    set(is_test TRUE)
    set(subject "${CMAKE_MATCH_1}")
  endif()
  if(is_test AND subject MATCHES "^common(/|$)")
    set(allowed ${engine_all} tests/common)
    # The worker is a test program of the storage tests, not a shared helper:
    # it may build its tables with their helpers.
    if(subject MATCHES "^common/worker(/|$)")
      list(APPEND allowed tests/dbengine/storage)
    endif()
    set(layer common)
  else()
    layer_of("${subject}" layer)
    if(layer STREQUAL "")
      continue()  # app/ may include every layer, and Qt
    endif()
    set(allowed ${allow_${layer}})
    if(is_test)
      # Test helpers follow the layers too: a test may use those of the
      # layers its subject may include.
      foreach(a IN LISTS allow_${layer})
        list(APPEND allowed tests/${a})
      endforeach()
      list(APPEND allowed tests/common)
    endif()
  endif()
  set(check_qt FALSE)
  if(layer IN_LIST no_qt)
    set(check_qt TRUE)
  endif()

  # One list element per line: characters that CMake lists treat specially
  # are masked first, so that the line numbers hold.
  file(READ "${ROOT}/${file}" content)
  string(REPLACE ";" "<sc>" content "${content}")
  string(REPLACE "[" "<lb>" content "${content}")
  string(REPLACE "]" "<rb>" content "${content}")
  string(REPLACE "\\" "<bs>" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  set(line_no 0)
  foreach(line IN LISTS lines)
    math(EXPR line_no "${line_no} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include")
      continue()
    endif()
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(inc "${CMAKE_MATCH_1}")
      # A quoted include is looked up beside the file first, then from the root.
      if(EXISTS "${ROOT}/${dir}/${inc}")
        file(REAL_PATH "${ROOT}/${dir}/${inc}" target)
        file(RELATIVE_PATH target "${ROOT}" "${target}")
      else()
        set(target "${inc}")
      endif()
      get_filename_component(target_dir "${target}" DIRECTORY)
      set(ok FALSE)
      foreach(a IN LISTS allowed)
        if(target_dir STREQUAL a OR target_dir MATCHES "^${a}/")
          set(ok TRUE)
        endif()
      endforeach()
      if(ok AND "${file}|${target}" IN_LIST forbidden)
        message(NOTICE "layering: ${file}:${line_no} includes \"${inc}\"; "
                       "the base stream knows none of its subclasses")
        math(EXPR violations "${violations} + 1")
      elseif(NOT ok)
        string(REPLACE ";" ", " allowed_text "${allowed}")
        message(NOTICE "layering: ${file}:${line_no} includes \"${inc}\" (${target}); "
                       "${subject} may include only ${allowed_text}")
        math(EXPR violations "${violations} + 1")
      endif()
    elseif(check_qt AND line MATCHES "#[ \t]*include[ \t]*<(Q[^>]*)>")
      message(NOTICE "layering: ${file}:${line_no} includes <${CMAKE_MATCH_1}>; "
                     "the platform and the engine never include Qt")
      math(EXPR violations "${violations} + 1")
    endif()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "layering: ${violations} include(s) point up or sideways")
endif()
list(LENGTH files count)
message(STATUS "layering: ${count} files checked, every include points down")
