# The commands of this project. Each installs what is missing first.
#   make test   build every target and run every test
#   make dist   release builds of every deliverable, gathered in dist/
#   make demo   run the demo game with the release companion and the reference service
#   make bench  the benchmarks (optimised build) and the release companion's figures
#
# Build trees (CMakePresets.json), each in build/<preset>/:
#   linux          native, with sanitizers: every test
#   linux-release  native, as it ships: the end-to-end tests
#   mingw-x64      Windows x64, as it ships: every test, under Wine
#   mingw-x86      Windows x86, as it ships: every test, where Wine can start it
#   linux-bench    native, optimised: the benchmarks
#   make fuzz   run every fuzz target for FUZZ_SECONDS each (default 60)
#   make soak   restart the RPC service 100 times under a running companion

PRESETS := linux linux-release mingw-x64 mingw-x86
# The builds whose companion directories ship.
SHIPPING_PRESETS := linux-release mingw-x64 mingw-x86

.PHONY: test setup build dist demo bench addon \
	$(addprefix build-,$(PRESETS)) $(addprefix ship-,$(SHIPPING_PRESETS)) \
	$(addprefix test-,$(PRESETS)) test-sig-wine test-addon test-addon-win test-package

test: setup build test-linux test-linux-release test-mingw-x64 test-mingw-x86 \
	test-sig-wine test-addon test-addon-win test-package

setup:
	@tools/setup

# ---- Builds ------------------------------------------------------------------

build: $(addprefix build-,$(PRESETS))

# Configure only once per build tree; later runs are incremental.
configure = test -f build/$(1)/build.ninja || cmake --preset $(1) >/dev/null

$(addprefix build-,$(PRESETS)): build-%:
	@$(call configure,$*)
	@cmake --build --preset $* -- -j2

# Only what a build ships (its companion directory), for `make dist`.
$(addprefix ship-,$(SHIPPING_PRESETS)): ship-%:
	@$(call configure,$*)
	@cmake --build --preset $* --target dist -- -j2

# ---- Tests -------------------------------------------------------------------

test-linux test-linux-release test-mingw-x64: test-%:
	@ctest --preset $* -j2

# 32-bit Windows programs run only where Wine can actually start one here
# (wine32 installed and a kernel that executes 32-bit code); otherwise this
# says why the tests were skipped.
test-mingw-x86:
	@if reason="$$(tools/wine_starts build/mingw-x86)"; then \
	  ctest --preset mingw-x86 -j2; \
	else \
	  echo "mingw-x86: tests skipped: $$reason (the x86 build compiled and linked)"; \
	fi

# The Linux probe's sig on Windows programs under Wine, of each bitness Wine
# starts here.
test-sig-wine:
	@builds=build/mingw-x64; \
	if tools/wine_starts build/mingw-x86 >/dev/null; then builds="$$builds build/mingw-x86"; fi; \
	timeout 600 tests/tools/sig_under_wine.py build/linux/tools/probe/corvane-probe $$builds

# ---- The Node addon ------------------------------------------------------------

# Built by node-gyp against the headers of the installed Node (never
# downloaded), then tested in real Node against the companion directory of
# the sanitized build and of the release build.
NODE_PREFIX := $(shell dirname "$$(dirname "$$(readlink -f "$$(command -v node)")")")
NODE_GYP := node_modules/.bin/node-gyp --nodedir="$(NODE_PREFIX)" --loglevel=warn
ADDON := addon/build/Release/corvane_ostravine.node

# Without the package's install script: the module is built just below.
addon/node_modules/.package-lock.json: addon/package.json addon/package-lock.json
	@cd addon && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error

addon/build/Makefile: addon/binding.gyp addon/node_modules/.package-lock.json
	@cd addon && $(NODE_GYP) configure

$(ADDON): addon/build/Makefile $(wildcard addon/src/*) companion/application_id.h companion/utf8_sequence.h
	@cd addon && $(NODE_GYP) build

addon: $(ADDON)

test-addon: $(ADDON) build-linux build-linux-release
	@for preset in linux linux-release; do \
	  echo "addon: tests against build/$$preset/dist"; \
	  (cd addon && CORVANE_DIST_DIR="$(CURDIR)/build/$$preset/dist" npm test --silent) || exit 1; \
	done

# The Windows addon's sources, compiled for 32-bit Windows in syntax-only mode.
test-addon-win: addon/node_modules/.package-lock.json
	@tools/check_addon_win

# The packed addon installed into a fresh project, as a host application gets
# it: with install scripts and without, the prebuilt module for Linux x64.
test-package: dist build-linux-release
	@CORVANE_PACKAGE="$$(ls dist/corvane_ostravine-*.tgz)" \
	  CORVANE_DIST_DIR="$(CURDIR)/build/linux-release/dist" \
	  node --test addon/test/package/

# ---- The presence card in a browser ------------------------------------------

# The reference service's page in the distribution's headless Chromium, driven
# by playwright-core from the npm registry (it downloads no browser), against
# the release build. The screenshot is kept in build/test-web/. Last in `make test`.
.PHONY: test-web
test: test-web

tests/web/node_modules/.package-lock.json: tests/web/package.json tests/web/package-lock.json
	@cd tests/web && npm ci --no-audit --no-fund --loglevel=error

test-web: build-linux-release tests/web/node_modules/.package-lock.json
	@cd tests/web && npm test --silent

# ---- Shipping, the demo and the figures ----------------------------------------

dist: setup $(addprefix ship-,$(SHIPPING_PRESETS)) addon
	@tools/dist

demo: setup build-linux-release
	@tools/demo

bench: setup build-linux-release
	@tools/setup --bench
	@$(call configure,linux-bench)
	@cmake --build --preset linux-bench -- -j2
	@for b in build/linux-bench/benchmarks/*_benchmark; do "$$b"; done
	@benchmarks/companion_figures.py

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
.PHONY: fuzz build-fuzz soak

build-fuzz: setup
	@$(call configure,fuzz)
	@cmake --build --preset fuzz --target $(FUZZ_TARGETS) -- -j2

fuzz: build-fuzz
	@python3 fuzz/run_fuzzers.py --build build/fuzz --seconds $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The companion under soak is the release build, unless SOAK_COMPANION names another.
soak: setup build-linux $(if $(filter $(SOAK_RELEASE_COMPANION),$(SOAK_COMPANION)),build-linux-release)
	@python3 tests/soak/restart_soak.py --companion "$(SOAK_COMPANION)" --tools build/linux/tools \
	  --restarts $(SOAK_RESTARTS)
