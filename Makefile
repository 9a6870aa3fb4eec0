# Set-up and everyday commands. Every target first installs any missing
# Debian package the build needs (scripts/install-deps.sh).
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
TSAN_DIR     ?= build-tsan
BENCH_DIR    ?= build-bench
JOBS         ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build test sanitize tsan demo python bench docs format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DVXNN_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The suite under ThreadSanitizer, with the passes on three threads (more
# than this machine may have cores, so that threads interleave).
tsan: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVXNN_TSAN=ON
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && VXNN_THREADS=3 TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS)

# The demo needs the program alone, not the test suites.
demo: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target vxnn
	./$(BUILD_DIR)/bin/vxnn demo

# The Python package, built and installed for the system's python3 (see
# python/CMakeLists.txt for where: a system folder, hence sudo unless root).
SUDO := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)
python: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target _vxneural
	$(SUDO) cmake --install $(BUILD_DIR) --component python

bench: deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DVXNN_BUILD_TESTS=OFF -DVXNN_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	@for b in $(BENCH_DIR)/bin/bench_*; do [ -x "$$b" ] && "$$b"; done

# The API reference from the public headers' comments, in
# $(BUILD_DIR)/docs/html; an undocumented public declaration fails it.
docs: deps
	mkdir -p $(BUILD_DIR)/docs
	DOXYGEN_OUTPUT=$(BUILD_DIR)/docs doxygen docs/Doxyfile

format:
	find include src apps tests bench -name '*.h' -o -name '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) $(BENCH_DIR)
