# Run by CPack on its staging tree before it builds the packages, doing what
# Debian's own helpers would: manual pages and changelogs compressed with
# gzip -9n (no name, no time stamp), whatever the install rules put there,
# and the programs, already stripped, rid of the .comment and .note sections.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(path MATCHES "/share/man/man[1-9]/[^/]+\\.[1-9]$" OR path MATCHES "/share/doc/[^/]+/changelog$")
    set(command gzip -9nf ${path})
  elseif(path MATCHES "/bin/[^/]+$")
    set(command ${CPACK_SCANSTATION_STRIP} --remove-section=.comment --remove-section=.note ${path})
  else()
    continue()
  endif()
  execute_process(COMMAND ${command} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${command} failed")
  endif()
endforeach()
