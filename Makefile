# One entry point: `make test` installs what is missing, builds and runs every test.
WIN_BUILD    := build/win
NATIVE_BUILD := build/native
JOBS         := $(shell nproc)

.PHONY: all deps build test release release-check bench demo clean

all: build

deps:
	@scripts/install-deps

$(WIN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release

# The operator's tools (tools/) and their tests, built with the system compiler.
$(NATIVE_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(NATIVE_BUILD) -DCMAKE_BUILD_TYPE=Release

build: deps $(WIN_BUILD)/CMakeCache.txt $(NATIVE_BUILD)/CMakeCache.txt
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cmake --build $(NATIVE_BUILD) -j $(JOBS)

test: build
	cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(NATIVE_BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory release-check

# The programs players and operators get, from a clean copy of the checked-out commit, into
# dist/ with SHA256SUMS; signed when ORVANE_SIGN_PFX and ORVANE_SIGN_PASSWORD_FILE name a
# certificate (scripts/release lists every setting).
release: deps
	scripts/release

# Two release builds of this tree in two folders, compared byte for byte; the first signed
# with a throwaway certificate, verified, and run once to install a client (a few minutes).
release-check: build
	tests/release/release_check.sh $(WIN_BUILD)

# Throughput and memory of the fresh-install path against a loopback server (a few minutes),
# the time to paint one frame of the working screen, parallel repair and verification against
# one thread, a 1 GB install whose connection is cut five times, the archive from nginx over one
# connection and over four, a client of a real game's layout against the platform's own copy,
# an update of that layout against rsync moving the same change, and the window's CPU while idle.
bench: build
	scripts/wine-run $(WIN_BUILD)/bench/archive_bench.exe
	scripts/wine-run $(WIN_BUILD)/bench/paint_bench.exe
	scripts/wine-run $(WIN_BUILD)/bench/parallel_bench.exe
	scripts/wine-run $(WIN_BUILD)/bench/transfer_bench.exe
	bench/range_bench.sh $(WIN_BUILD)
	scripts/wine-run $(WIN_BUILD)/bench/chunk_bench.exe
	scripts/wine-run $(WIN_BUILD)/bench/pack_update_bench.exe
	scripts/wine-run $(WIN_BUILD)/bench/removal_bench.exe
	scripts/wine-run $(WIN_BUILD)/bench/layout_bench.exe
	bench/update_cost.sh $(WIN_BUILD) $(NATIVE_BUILD)
	bench/idle_cpu.sh $(WIN_BUILD)/OrvaneSetup.exe $(WIN_BUILD)

# The whole job on this machine: a sample client published to nginx over HTTPS, installed,
# started from PLAY, damaged and repaired, with a screenshot of every screen (build/demo).
demo: build
	demo/run.sh

clean:
	rm -rf build
