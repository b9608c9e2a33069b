# A library preloaded into a program under test, built without sanitizers:
# a preload runs inside any program, sanitized or not. Also included by
# ndxmode's test driver, which builds on its own.
function(add_preload name source)
  add_library(${name} SHARED ${source})
  set_target_properties(${name} PROPERTIES PREFIX "" C_STANDARD 99)
  target_compile_options(${name} PRIVATE -fno-sanitize=all)
  target_link_options(${name} PRIVATE -fno-sanitize=all)
  target_link_libraries(${name} PRIVATE ${CMAKE_DL_LIBS})
endfunction()
