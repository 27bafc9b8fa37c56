# Tonvero: the two everyday commands, plus the benchmarks.
#   make demo   set up the machine, build, and render the demo song to demo.wav
#   make test   set up the machine, build the sanitizer test configuration, run every suite

JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
BENCH_DIR := build/bench

FUZZ_SECONDS ?= 60

.PHONY: all setup build demo test bench fuzz check-threads check-locks soak compare-players voice-cost note-compare bank-memory bulk-render clean

all: build

setup:
	@scripts/bootstrap

build: setup
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONVERO_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)

demo: build
	@scripts/demo $(RELEASE_DIR)

test: setup
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DTONVERO_SANITIZE=ON -DTONVERO_WERROR=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)

bench: setup
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTONVERO_TESTS=OFF -DTONVERO_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	@for b in $(BENCH_DIR)/bench/*_bench; do echo "== $$b"; $$b; done

# Each libFuzzer target for FUZZ_SECONDS (clang from Debian's packages).
fuzz: setup
	@scripts/bootstrap fuzz
	@fuzz/run $(FUZZ_SECONDS)

# The engine under ThreadSanitizer: real timers, the null backend, the user
# interface's calls in a seeded random order.
check-threads: setup
	@scripts/check-threads

# The lock rules checked by clang's thread-safety analysis, tests included.
check-locks: setup
	@scripts/bootstrap fuzz
	@scripts/check-locks

# Real-time soak of tonvero-play on the null backend (ten minutes of music).
soak: build
	@bench/soak $(RELEASE_DIR)

# Render times against fluidsynth and timidity with the same SoundFont.
compare-players: build
	@scripts/bootstrap peers
	@bench/compare-players $(RELEASE_DIR)

# Songs a minute of tonvero-render -d with one and two jobs, against one fluidsynth a song, two at a time.
bulk-render: build
	@scripts/bootstrap peers
	@bench/bulk-render $(RELEASE_DIR)

# What one sounding voice costs each mixer, against fluidsynth.
voice-cost: build
	@scripts/bootstrap peers
	@bench/voice-cost $(RELEASE_DIR)

# Attack, release, pitch and stereo width of single notes against fluidsynth.
note-compare: build
	@scripts/bootstrap peers
	@/usr/bin/python3 bench/note-compare $(RELEASE_DIR)

# Import, load and render time and peak memory of a small and a large SoundFont's bank.
bank-memory: build
	@scripts/bootstrap peers
	@/usr/bin/python3 bench/bank-memory $(RELEASE_DIR)

clean:
	rm -rf build
