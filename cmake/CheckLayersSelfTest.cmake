# Proves that CheckLayers.cmake refuses wrong includes: builds a small tree
# with one wrong include of each kind next to allowed ones, runs the check on
# it and expects it to fail naming exactly the wrong ones.
#   cmake -DCHECKER=<CheckLayers.cmake> -DWORK=<scratch folder> -P this file
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
function(put path text)
  file(WRITE "${WORK}/${path}" "${text}\n")
endfunction()

# Allowed: down the layers, beside the file, system headers, tests of a layer.
put(platform/core/Good.h "#include <vector>\n#include \"platform/core/Other.h\"")
put(platform/core/Other.h "#pragma once")
put(dbengine/storage/Good.cpp "#include \"dbengine/foundation/A.h\"\n#include \"platform/os/B.h\"")
put(dbengine/sql/Good.cpp "#include \"dbengine/api/A.h\"")
put(tests/dbengine/storage/GoodTest.cpp
    "#include \"Helper.h\"\n#include \"tests/common/NativeError.h\"\n#include \"dbengine/storage/Good.h\"")
put(tests/dbengine/storage/Helper.h "#include \"tests/dbengine/foundation/Util.h\"")
put(tests/platform/core/UsesEngineHelper.cpp "#include \"tests/dbengine/storage/Helper.h\"")
put(app/Main.cpp "#include <QApplication>\n#include \"dbengine/sql/A.h\"")
# Wrong, one of each kind.
put(platform/core/UpToEngine.h "#pragma once\n\n#include \"dbengine/storage/VEZCursor.h\"")
put(platform/core/Sideways.cpp "#include \"platform/os/File.h\"")
put(dbengine/foundation/UpToStorage.cpp "#include  \"dbengine/storage/VEZCursor.h\"")
put(dbengine/storage/UpToApi.cpp "#include \"../api/Thing.h\"")
put(dbengine/api/IntoSql.h "#include \"dbengine/sql/Thing.h\"")
put(dbengine/api/Thing.h "#pragma once")
put(dbengine/storage/IntoApp.cpp "#include \"app/ui/Window.h\"")
put(dbengine/foundation/WithQt.cpp "// [x]; a comment\n#include <QString>")
put(dbengine/foundation/VEZStream.h "#include \"VEZFileStream.h\"")
put(dbengine/foundation/VEZFileStream.h "#include \"dbengine/foundation/VEZStream.h\"")
put(tests/platform/os/UpTest.cpp "#include \"dbengine/foundation/VEZStream.h\"")

execute_process(COMMAND "${CMAKE_COMMAND}" -DROOT=${WORK} -P "${CHECKER}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(all "${out}${err}")
if(rc EQUAL 0)
  message(FATAL_ERROR "the layering check passed a tree with wrong includes:\n${all}")
endif()
set(expected
    "platform/core/UpToEngine.h:3 includes \"dbengine/storage/VEZCursor.h\""
    "platform/core/Sideways.cpp:1 includes \"platform/os/File.h\""
    "dbengine/foundation/UpToStorage.cpp:1 includes \"dbengine/storage/VEZCursor.h\""
    "dbengine/storage/UpToApi.cpp:1 includes \"../api/Thing.h\" (dbengine/api/Thing.h)"
    "dbengine/api/IntoSql.h:1 includes \"dbengine/sql/Thing.h\""
    "dbengine/storage/IntoApp.cpp:1 includes \"app/ui/Window.h\""
    "dbengine/foundation/WithQt.cpp:2 includes <QString>"
    "tests/platform/core/UsesEngineHelper.cpp:1 includes \"tests/dbengine/storage/Helper.h\""
    "tests/platform/os/UpTest.cpp:1 includes \"dbengine/foundation/VEZStream.h\""
    "dbengine/foundation/VEZStream.h:1 includes \"VEZFileStream.h\"; the base stream"
    "10 include(s) point up or sideways")
foreach(e IN LISTS expected)
  string(FIND "${all}" "${e}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the layering check did not report: ${e}\nIt said:\n${all}")
  endif()
endforeach()
foreach(good platform/core/Good.h dbengine/storage/Good.cpp dbengine/sql/Good.cpp
             tests/dbengine/storage/GoodTest.cpp tests/dbengine/storage/Helper.h app/Main.cpp
             dbengine/foundation/VEZFileStream.h)
  string(FIND "${all}" "layering: ${good}:" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the layering check refused an allowed include in ${good}:\n${all}")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "the layering check refuses each kind of wrong include")
