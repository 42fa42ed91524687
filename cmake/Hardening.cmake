# The distribution's hardening flags, as Debian's own packages get them from dpkg-buildflags:
# stack protector, format checks, _FORTIFY_SOURCE, full RELRO (relro and bindnow), PIE.
# Optimisation and debug flags stay the build type's; _FORTIFY_SOURCE only goes where the
# build type optimises (without optimisation glibc warns, and -Werror would stop the build).
# Sanitizer and fuzz builds get none of it: the sanitizers replace the checked functions.
option(KESTREL_HARDENING "Build with the distribution's hardening flags (dpkg-buildflags)" ON)
if(NOT KESTREL_HARDENING OR KESTREL_SANITIZE OR KESTREL_FUZZ)
  return()
endif()

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(OUTPUT_VARIABLE kestrel_pie_message LANGUAGES CXX)

find_program(KESTREL_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT KESTREL_DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: no hardening flags beyond PIE")
  return()
endif()

# Asks dpkg-buildflags for one variable with every hardening feature on, as a list.
function(kestrel_buildflags name out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-all"
            ${KESTREL_DPKG_BUILDFLAGS} --get ${name}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    set(flags "")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

kestrel_buildflags(CPPFLAGS cppflags)
kestrel_buildflags(CXXFLAGS cxxflags)
kestrel_buildflags(LDFLAGS ldflags)
set(kestrel_hardening_compile "")
foreach(flag IN LISTS cppflags cxxflags)
  if(flag MATCHES "^-(g|O)" OR flag MATCHES "prefix-map")
    continue()  # the build type's business
  elseif(flag MATCHES "^-D_FORTIFY_SOURCE")
    list(APPEND kestrel_hardening_compile "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:${flag}>")
  else()
    list(APPEND kestrel_hardening_compile ${flag})
  endif()
endforeach()
add_compile_options(${kestrel_hardening_compile})
add_link_options(${ldflags})
list(JOIN kestrel_hardening_compile " " compile_text)
list(JOIN ldflags " " link_text)
message(STATUS "Hardening: compile ${compile_text}; link ${link_text}; PIE")
