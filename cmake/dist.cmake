# The companion directory as it ships beside the addon file, and the tools
# for script authors beside it:
#   build/<preset>/dist/corvane-probe*         the probe
#   build/<preset>/dist/8a57342e5e/            the companion build(s)
#   build/<preset>/dist/8a57342e5e/scripts/    the presence scripts
# The addon's tests place corvane_ostravine.node in build/<preset>/dist/ and
# load it from there, so they run against the real layout.

set(CORVANE_DIST_DIR "${CMAKE_BINARY_DIR}/dist")
set(CORVANE_COMPANION_DIR "${CORVANE_DIST_DIR}/8a57342e5e")

add_custom_target(dist ALL)

# corvane_dist_copy(target directory): copies a program into a folder of the
# assembled layout whenever it is rebuilt.
function(corvane_dist_copy target directory)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory "${directory}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "$<TARGET_FILE:${target}>" "${directory}/"
    VERBATIM)
  add_dependencies(dist ${target})
endfunction()

# corvane_dist_program(target): a program of the companion directory.
function(corvane_dist_program target)
  corvane_dist_copy(${target} "${CORVANE_COMPANION_DIR}")
endfunction()

# corvane_dist_tool(target): a tool for script authors, beside the companion
# directory.
function(corvane_dist_tool target)
  corvane_dist_copy(${target} "${CORVANE_DIST_DIR}")
endfunction()
