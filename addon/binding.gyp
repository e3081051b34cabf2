{
  "variables": {
    # The npm package carries the companion directory of each OS: Linux's
    # beside the prebuilt module in prebuilds/linux-x64/, Windows's (whose
    # module is built on install) in companion/win/. A build from source
    # places this OS's beside the module file it builds, where the module
    # looks for it. A checkout of the sources has none, and the build copies
    # nothing.
    "packaged_companion%": "<!(node -p \"const d = {linux: 'prebuilds/linux-x64/8a57342e5e/', win32: 'companion/win/8a57342e5e/'}[process.platform]; d && require('fs').existsSync(d) ? d : ''\")"
  },
  "targets": [
    {
      "target_name": "corvane_ostravine",
      "win_delay_load_hook": "false",
      "sources": [
        "src/bindings.cc",
        "src/launch.cc",
        "src/value_conversion.cc"
      ],
      # The companion's rule on application ids: companion/application_id.h,
      # found through the repository root in a checkout and through src/ in
      # the npm package, where `make dist` places a copy.
      "include_dirs": ["<!(node -e \"require('nan')\")", "src", ".."],
      # C++17 on every OS, whatever the host's headers default to.
      "cflags_cc": ["-std=c++17"],
      "xcode_settings": { "CLANG_CXX_LANGUAGE_STANDARD": "c++17" },
      "msvs_settings": {
        "VCCLCompilerTool": { "AdditionalOptions": ["/std:c++17"] }
      },
      "conditions": [
        ["packaged_companion!=''", {
          "copies": [{
            "destination": "<(PRODUCT_DIR)",
            "files": ["<(packaged_companion)"]
          }]
        }],
        ["OS=='win'", {
          # The product is a 32-bit module for a 32-bit host: build it with
          # `node-gyp rebuild --arch=ia32` and MSVC. The host's functions are
          # imported from "node.exe" and bound on first use; the addon's own
          # hook (in place of node-gyp's) points that import at whatever
          # executable hosts the runtime.
          "sources": [
            "src/launch_win.cc",
            "src/delay_load_hook_win.cc"
          ],
          "defines": ["WIN32_LEAN_AND_MEAN", "NOMINMAX", "UNICODE", "_UNICODE"],
          "libraries": ["-lshlwapi.lib"],
          "msvs_settings": {
            "VCLinkerTool": {
              "DelayLoadDLLs": ["node.exe"],
              "AdditionalOptions": ["/ignore:4199"]
            }
          }
        }],
        ["OS=='linux'", {
          "sources": ["src/launch_linux.cc"],
          "cflags_cc": ["-Wall", "-Wextra", "-Wno-unused-parameter", "-Wno-cast-function-type"],
          "libraries": ["-lpthread"]
        }]
      ]
    }
  ]
}
