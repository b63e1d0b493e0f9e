# A thin layer over CMake. `make run` builds and starts the monitor,
# `make test` builds and runs every test.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all run test test-sanitize clean

all:
	scripts/ensure-packages build
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

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)
