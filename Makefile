# The two commands of this project. Both install what is missing first.
#   make test   build every target and run every test
#   make demo   run the demo game with the companion and the reference service
#   make bench  build and run the benchmarks (optimised build)
#   make fuzz   run every fuzz target for FUZZ_SECONDS each (default 60)
#   make soak   restart the RPC service 100 times under a running companion

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

bench: setup
	@test -f build/linux-bench/build.ninja || cmake --preset linux-bench >/dev/null
	@cmake --build --preset linux-bench -- -j2
	@for b in build/linux-bench/benchmarks/*_benchmark; do "$$b"; done

# ---- Fuzzing and the restart soak ------------------------------------------
# The fuzz targets (fuzz/) are built by the fuzz preset (clang, libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer). Their seeds and regression
# inputs also run in `make test`, as the *_fuzzer_replay tests of the linux
# preset. The soak (tests/soak/) runs the release companion for a few minutes
# and is kept out of `make test`.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := incoming_message_fuzzer frame_stream_fuzzer find_pattern_fuzzer memory_scan_fuzzer \
	script_sandbox_fuzzer
SOAK_RELEASE_COMPANION := build/linux-release/dist/8a57342e5e/CorvaneTallowin_x64
SOAK_COMPANION ?= $(SOAK_RELEASE_COMPANION)
SOAK_RESTARTS ?= 100
.PHONY: fuzz build-fuzz soak soak-companion

build-fuzz: setup
	@test -f build/fuzz/build.ninja || cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz --target $(FUZZ_TARGETS) -- -j2

fuzz: build-fuzz
	@python3 fuzz/run_fuzzers.py --build build/fuzz --seconds $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The companion under soak is the release build, unless SOAK_COMPANION names another.
soak-companion: setup
ifeq ($(SOAK_COMPANION),$(SOAK_RELEASE_COMPANION))
	@test -f build/linux-release/build.ninja || cmake --preset linux-release >/dev/null
	@cmake --build --preset linux-release -- -j2
endif

soak: soak-companion build-linux
	@python3 tests/soak/restart_soak.py --companion "$(SOAK_COMPANION)" --tools build/linux/tools \
	  --restarts $(SOAK_RESTARTS)
