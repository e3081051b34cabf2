# What ships, laid out in the build tree as it ships beside the addon file:
#   build/<preset>/dist/8a57342e5e/            the companion build(s)
#   build/<preset>/dist/8a57342e5e/scripts/    the presence scripts
#   build/<preset>/dist/<tool>                 tools for script authors, beside
#                                              the companion directory
# The addon's tests place corvane_ostravine.node in build/<preset>/dist/ and
# load it from there, so they run against the real layout.
#
# The same layout is installed (`cmake --install`) by `make dist`, which
# gathers it from each build into the top-level dist/ folder:
#   component "companion"  the programs and scripts above
#   component "debug"      <program>.debug, the debug information that a
#                          release build strips from each program

set(CORVANE_DIST_DIR "${CMAKE_BINARY_DIR}/dist")
set(CORVANE_COMPANION_DIR_NAME "8a57342e5e")
set(CORVANE_COMPANION_DIR "${CORVANE_DIST_DIR}/${CORVANE_COMPANION_DIR_NAME}")

add_custom_target(dist ALL)

# corvane_ship_program(target directory): copies a program into `directory`
# of the layout ("." or the companion directory) whenever it is rebuilt, and
# installs it there. In a release build the program is stripped first and
# its debug information kept in <program>.debug, linked from the program by
# name so that a debugger finds it.
function(corvane_ship_program target directory)
  set(program "$<TARGET_FILE:${target}>")
  if(CORVANE_RELEASE)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "${program}" "${program}.debug"
      COMMAND "${CMAKE_STRIP}" --strip-all "${program}"
      COMMAND "${CMAKE_OBJCOPY}" "--add-gnu-debuglink=${program}.debug" "${program}"
      VERBATIM)
    install(FILES "${program}.debug" DESTINATION . COMPONENT debug)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CORVANE_DIST_DIR}/${directory}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "${program}" "${CORVANE_DIST_DIR}/${directory}/"
    VERBATIM)
  install(PROGRAMS "${program}" DESTINATION "${directory}" COMPONENT companion)
  add_dependencies(dist ${target})
endfunction()

# corvane_dist_program(target): a program of the companion directory.
function(corvane_dist_program target)
  corvane_ship_program(${target} "${CORVANE_COMPANION_DIR_NAME}")
endfunction()

# corvane_dist_tool(target): a tool that ships beside the companion
# directory, for the authors of presence scripts.
function(corvane_dist_tool target)
  corvane_ship_program(${target} .)
endfunction()
