# Tests of the Debian package and the manual pages, included from cmake/Packaging.cmake once
# every program's target exists. Label "package"; they run the programs and tools, not the
# code under the sanitizers, so "no-sanitizer" too.

# Every option a program's --help names is in its manual page, and the other way round. The
# list follows whichever programs this tree builds.
foreach(program IN LISTS KESTREL_MAN_PAGES)
  add_test(NAME man_page_options.${program}
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/check_man_options.sh $<TARGET_FILE:${program}>
            ${PROJECT_SOURCE_DIR}/packaging/man/${program}.1)
  set_tests_properties(man_page_options.${program} PROPERTIES
    LABELS "package;no-sanitizer" TIMEOUT 30)
endforeach()

# lintian on the package made from this build tree.
add_test(NAME package_lintian
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/lintian_check.sh ${CMAKE_BINARY_DIR}
          ${CMAKE_BINARY_DIR}/tests/package)
set_tests_properties(package_lintian PROPERTIES
  LABELS "package;no-sanitizer" SKIP_RETURN_CODE 77 TIMEOUT 60)
