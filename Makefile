# A thin layer over CMake. `make run` builds and starts the monitor,
# `make test` builds and runs every test.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_RUNS ?= 100000
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

BENCH_BUILD ?= build-bench
PACKAGE_BUILD ?= build-package
WINDOWS_BUILD ?= build-windows

.PHONY: all run test test-sanitize fuzz apple-adapter bench package-build package check-install check-deb \
  windows test-windows clean

all:
	scripts/ensure-packages
	cmake -S . -B $(BUILD) -DQUORBEL_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS)

run: all
	./$(BUILD)/quorbel

test:
	scripts/ensure-packages test
	cmake -S . -B $(BUILD) -DQUORBEL_TESTS=ON -DQUORBEL_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	scripts/ensure-packages test
	cmake -S . -B $(SANITIZE_BUILD) -DQUORBEL_TESTS=ON -DQUORBEL_WERROR=ON -DQUORBEL_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS) -L unit

# One whole cycle over platform scenes made from fuzzed bytes, with
# AddressSanitizer and UndefinedBehaviorSanitizer. The seeds in fuzz/corpus
# stay as they are; what the run learns goes to a scratch corpus, and a crash
# to fuzz/findings/ (add it to fuzz/corpus as a regression case once mended).
# A longer run: make fuzz FUZZ_RUNS=50000000
fuzz:
	scripts/ensure-packages fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DQUORBEL_FUZZ=ON -DQUORBEL_TESTS=OFF -DQUORBEL_WERROR=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_cycle
	mkdir -p $(FUZZ_BUILD)/corpus fuzz/findings
	./$(FUZZ_BUILD)/fuzz/fuzz_cycle -runs=$(FUZZ_RUNS) -max_len=4096 -print_final_stats=1 \
	  -artifact_prefix=fuzz/findings/ $(FUZZ_BUILD)/corpus fuzz/corpus

# Every benchmark: Google Benchmark over the model (with the snapshot line
# against nlohmann::json), then the whole process against real servers.
bench:
	scripts/ensure-packages bench test
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DQUORBEL_BENCH=ON -DQUORBEL_TESTS=OFF -DQUORBEL_WERROR=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	./$(BENCH_BUILD)/bench/quorbel_bench --benchmark_color=false
	python3 bench/whole_process.py $(BENCH_BUILD)
	python3 bench/titles_from_bus.py $(BENCH_BUILD)
	python3 bench/on_change.py $(BENCH_BUILD)

# quorbel.exe for 64-bit Windows, cross-built with MinGW-w64 and linked
# statically: $(WINDOWS_BUILD)/quorbel.exe
windows:
	scripts/ensure-packages windows
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/windows-x86_64.cmake -DQUORBEL_TESTS=OFF -DQUORBEL_WERROR=ON
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The Windows build's unit tests and end-to-end tests, run under Wine in
# prefixes the tests make afresh.
test-windows:
	scripts/ensure-packages windows test
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/windows-x86_64.cmake -DQUORBEL_TESTS=ON -DQUORBEL_WERROR=ON
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	ctest --test-dir $(WINDOWS_BUILD) --output-on-failure -j $(JOBS)

# The Objective-C++ registry adapter of the Apple build, compiled against GNUstep.
apple-adapter:
	scripts/ensure-packages apple
	scripts/check-apple-adapter

# A release build of its own for installing and packaging.
package-build:
	scripts/ensure-packages package
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DQUORBEL_TESTS=OFF -DQUORBEL_WERROR=ON
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)

# The Debian package: $(PACKAGE_BUILD)/quorbel_VERSION_ARCH.deb
package: package-build
	rm -f $(PACKAGE_BUILD)/quorbel_*.deb
	cd $(PACKAGE_BUILD) && cpack -G DEB

# cmake --install into scratch prefixes, with and without DESTDIR, and what lands there.
check-install: package-build
	scripts/check-install $(PACKAGE_BUILD)

# The package's control data and files; installed with dpkg, run and removed again (as root).
check-deb: package
	scripts/check-deb $(PACKAGE_BUILD)

clean:
	rm -rf build-apple-adapter $(WINDOWS_BUILD) $(BENCH_BUILD) $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(PACKAGE_BUILD)
