{
  "targets": [
    {
      "target_name": "veltrano",
      "sources": ["src/addon.cpp", "<!@(node scripts/core.js sources)"],
      "include_dirs": ["<!@(node scripts/core.js includes)", "<!(node -p \"require('node-addon-api').include_dir\")"],
      "defines": ["NAPI_VERSION=8", "NAPI_CPP_EXCEPTIONS", "NODE_ADDON_API_DISABLE_DEPRECATED", "VELTRANO_STATIC"],
      "cflags!": ["-fno-exceptions"],
      "cflags_cc!": ["-fno-exceptions", "-fno-rtti", "-std=gnu++17", "-std=gnu++20"],
      "cflags_cc": ["-std=c++20", "-fexceptions", "-fvisibility=hidden"],
      "conditions": [
        ["OS=='mac'", {
          "xcode_settings": {
            "CLANG_CXX_LANGUAGE_STANDARD": "c++20",
            "GCC_ENABLE_CPP_EXCEPTIONS": "YES",
            "GCC_ENABLE_CPP_RTTI": "YES",
            "MACOSX_DEPLOYMENT_TARGET": "11.0"
          }
        }],
        ["OS=='win'", {
          "msvs_settings": {
            "VCCLCompilerTool": { "ExceptionHandling": 1, "AdditionalOptions": ["/std:c++20"] }
          }
        }]
      ]
    }
  ]
}
