{
  "targets": [
    {
      "target_name": "corvane_ostravine",
      "win_delay_load_hook": "false",
      "sources": [
        "src/bindings.cc",
        "src/launch.cc",
        "src/value_conversion.cc"
      ],
      # The repository root, for the companion's rule on application ids.
      "include_dirs": ["<!(node -e \"require('nan')\")", ".."],
      "conditions": [
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
