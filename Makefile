# The two commands of this project. Both install what is missing first.
#   make test   build every target and run every test
#   make demo   run the demo game with the companion and the reference service
#   make bench  build and run the benchmarks (optimised build)

PRESETS := linux mingw-x64 mingw-x86
.PHONY: test setup build demo bench $(addprefix build-,$(PRESETS)) test-linux test-mingw-x64 test-mingw-x86

test: setup build test-linux test-mingw-x64 test-mingw-x86

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

bench: setup
	@test -f build/linux-bench/build.ninja || cmake --preset linux-bench >/dev/null
	@cmake --build --preset linux-bench -- -j2
	@for b in build/linux-bench/benchmarks/*_benchmark; do "$$b"; done
