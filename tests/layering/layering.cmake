# Checks that every layer includes only what lies below it:
#   cmake -DROOT=<source dir> -P layering.cmake
# Each rule: the files of a folder may include project headers only from the
# listed folders (third-party and system headers are not looked at).

set(violations "")

# check(<folder> <allowed prefix>...): the folder's .h and .cpp files, all depths.
function(check folder)
  file(GLOB_RECURSE files ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      # Only the project's own folders are judged; a header beside the file
      # or from a library is none of this check's business.
      if(NOT header MATCHES "^(app|game|content|media|engine|toolkit|dataset|tools|bench|fuzz|tests|testing)/")
        continue()
      endif()
      set(allowed FALSE)
      foreach(prefix ${ARGN})
        string(FIND "${header}" "${prefix}" at)
        if(at EQUAL 0)
          set(allowed TRUE)
          break()
        endif()
      endforeach()
      if(NOT allowed)
        file(RELATIVE_PATH where ${ROOT} ${file})
        set(violations "${violations}\n  ${where} includes ${header}")
      endif()
    endforeach()
  endforeach()
  set(violations "${violations}" PARENT_SCOPE)
endfunction()

# The engine, bottom up; the builder and the core sit side by side.
check(engine/errors engine/errors/)
check(engine/files engine/files/ engine/errors/)
check(engine/core engine/core/ engine/files/ engine/errors/)
check(engine/build engine/build/ engine/files/ engine/errors/)
check(engine/public engine/public/ engine/core/ engine/build/ engine/files/ engine/errors/)
# Outsiders reach the engine through its public headers only.
check(engine/components engine/components/ engine/public/ dataset/)
# The content tool judges words by the game's own gap cutting in content/.
check(tools tools/ content/ engine/public/ engine/components/ media/ dataset/ toolkit/)
check(bench bench/ engine/public/ engine/components/ media/ game/ content/ dataset/ toolkit/)
# The program, top down: start-up, the game, its tables and controls, and
# the frameworks under them.
check(app app/ game/ content/ media/ engine/components/ dataset/ toolkit/)
check(game game/ content/ media/ engine/components/ dataset/ toolkit/)
check(content content/ engine/components/ dataset/ toolkit/)
check(media media/ dataset/ toolkit/)
check(dataset dataset/)
check(toolkit toolkit/)
# The checks on top: the harnesses and samples are shared below the fuzz
# targets and the tests, so neither of those has to reach into the other.
check(testing testing/ engine/ tools/ media/ dataset/ toolkit/)
check(fuzz fuzz/ testing/ engine/ tools/ media/ dataset/ toolkit/)
check(tests tests/ testing/ app/ game/ content/ engine/ tools/ media/ dataset/ toolkit/)

if(violations)
  message(FATAL_ERROR "Includes against the layering:${violations}")
endif()
