# The companion directory as it ships beside the addon file:
#   build/<preset>/dist/8a57342e5e/            the companion build(s)
#   build/<preset>/dist/8a57342e5e/scripts/    the presence scripts
# The addon's tests place corvane_ostravine.node in build/<preset>/dist/ and
# load it from there, so they run against the real layout.

set(CORVANE_DIST_DIR "${CMAKE_BINARY_DIR}/dist")
set(CORVANE_COMPANION_DIR "${CORVANE_DIST_DIR}/8a57342e5e")

add_custom_target(dist ALL)

# corvane_dist_program(target): copies a program into the companion directory
# whenever it is rebuilt.
function(corvane_dist_program target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CORVANE_COMPANION_DIR}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "$<TARGET_FILE:${target}>" "${CORVANE_COMPANION_DIR}/"
    VERBATIM)
  add_dependencies(dist ${target})
endfunction()
