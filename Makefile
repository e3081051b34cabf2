# The two commands of this project. Both install what is missing first.
#   make test   build every target and run every test
#   make demo   run the demo game with the companion and the reference service
#   make bench  build and run the benchmarks (optimised build)

PRESETS := linux mingw-x64 mingw-x86
.PHONY: test setup build demo bench $(addprefix build-,$(PRESETS)) test-linux test-mingw-x64 test-mingw-x86 \
	addon test-addon

test: setup build test-linux test-mingw-x64 test-mingw-x86 test-addon

setup:
	@tools/setup

build: $(addprefix build-,$(PRESETS))

# Configure only once per build tree; later runs are incremental.
$(addprefix build-,$(PRESETS)): build-%:
	@test -f build/$*/build.ninja || cmake --preset $* >/dev/null
	@cmake --build --preset $* -- -j2

test-linux:
	@ctest --preset linux -j2

test-mingw-x64:
	@ctest --preset mingw-x64 -j2

# 32-bit Windows programs need wine32, which needs the i386 architecture.
test-mingw-x86:
	@if dpkg-query -W -f='$${Status}' wine32 2>/dev/null | grep -q "install ok installed"; then \
	  ctest --preset mingw-x86 -j2; \
	else \
	  echo "mingw-x86: tests skipped: wine32 is not installed (the x86 build compiled and linked)"; \
	fi

# The Node addon, built by node-gyp against the headers of the installed Node
# (never downloaded), then tested in real Node against the companion directory
# that the linux build assembles.
NODE_PREFIX := $(shell dirname "$$(dirname "$$(readlink -f "$$(command -v node)")")")
NODE_GYP := node_modules/.bin/node-gyp --nodedir="$(NODE_PREFIX)" --loglevel=warn
ADDON := addon/build/Release/corvane_ostravine.node

addon/node_modules/.package-lock.json: addon/package.json addon/package-lock.json
	@cd addon && npm ci --no-audit --no-fund --loglevel=error

addon/build/Makefile: addon/binding.gyp addon/node_modules/.package-lock.json
	@cd addon && $(NODE_GYP) configure

$(ADDON): addon/build/Makefile $(wildcard addon/src/*)
	@cd addon && $(NODE_GYP) build

addon: $(ADDON)

test-addon: $(ADDON) build-linux
	@cd addon && CORVANE_DIST_DIR="$(CURDIR)/build/linux/dist" npm test --silent

demo: setup build-linux
	@tools/demo

bench:
	@tools/setup --bench
	@test -f build/linux-bench/build.ninja || cmake --preset linux-bench >/dev/null
	@cmake --build --preset linux-bench -- -j2
	@for b in build/linux-bench/benchmarks/*_benchmark; do "$$b"; done
