# Fails when a global of markfeed's can be written outside the file that
# owns it. Every extern of markfeed's headers must be a const view, and the
# compiler must refuse an assignment to each: a source that assigns them,
# one a line, must fail on every line as an assignment to something
# read-only. The same source reading them instead must compile, so that a
# refusal for another reason (a missing header, a misspelt name) fails too.
#   cmake -DCXX=c++ -DCXX_ID=GNU|Clang -DROOT=<source tree> -DWORK=<scratch dir>
#         -P owners.cmake
cmake_minimum_required(VERSION 3.18)
file(GLOB headers RELATIVE ${ROOT} ${ROOT}/markfeed/*.h)
list(SORT headers)

set(names "")
set(arrays "")
foreach(header IN LISTS headers)
  file(STRINGS ${ROOT}/${header} externs REGEX "^extern ")
  foreach(line IN LISTS externs)
    if(NOT line MATCHES "^extern const ")
      message(SEND_ERROR "${header}: a global others can write: ${line}")
    elseif(line MATCHES "^extern const [a-z ]+ \\(?&([A-Za-z_][A-Za-z_0-9]*)(\\)\\[)?[^,]*;")
      list(APPEND names ${CMAKE_MATCH_1})
      if(CMAKE_MATCH_2)
        list(APPEND arrays ${CMAKE_MATCH_1})
      endif()
    else()
      message(SEND_ERROR "${header}: not one read-only view a line: ${line}")
    endif()
  endforeach()
endforeach()
list(LENGTH names count)
if(count EQUAL 0)
  message(FATAL_ERROR "no globals found in ${ROOT}/markfeed")
endif()

# The two sources, line for line alike: the first global is on line
# `first`.
set(head "")
foreach(header IN LISTS headers)
  string(APPEND head "#include \"${header}\"\n")
endforeach()
string(APPEND head "void touch() {\n")
string(REGEX MATCHALL "\n" lines "${head}")
list(LENGTH lines first)
math(EXPR first "${first} + 1")
set(reads "${head}")
set(writes "${head}")
foreach(name IN LISTS names)
  set(target ${name})
  if(name IN_LIST arrays)
    set(target "${name}[0]")
  endif()
  string(APPEND reads "(void)${target};\n")
  string(APPEND writes "${target} = 0;\n")
endforeach()
file(WRITE ${WORK}/reads.cpp "${reads}}\n")
file(WRITE ${WORK}/writes.cpp "${writes}}\n")

# Every error, not the first few.
set(nolimit -fmax-errors=0)
if(CXX_ID MATCHES "Clang")
  set(nolimit -ferror-limit=0)
endif()

function(compile source)
  execute_process(COMMAND ${CXX} -std=c++17 -fsyntax-only ${nolimit} -I${ROOT} ${source}
                  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE result ERROR_VARIABLE errors
                  OUTPUT_QUIET)
  set(result ${result} PARENT_SCOPE)
  set(errors "${errors}" PARENT_SCOPE)
endfunction()

compile(reads.cpp)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "reading markfeed's globals does not compile:\n${errors}")
endif()

compile(writes.cpp)
set(line ${first})
foreach(name IN LISTS names)
  # g++: "assignment of read-only reference/location"; clang++: "cannot
  # assign to variable ... with const-qualified type".
  if(errors MATCHES "writes\\.cpp:${line}:[0-9]+: error: [^\n]*(read-only|const-qualified)")
    message("${name}: read-only outside its owner")
  else()
    message(SEND_ERROR "${name} can be assigned outside its owner (writes.cpp:${line})")
  endif()
  math(EXPR line "${line} + 1")
endforeach()
message("${count} globals")
