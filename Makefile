# The two commands that do everything on a fresh Debian 12 machine are `make demo` and `make test`.

BUILD_DIR ?= build
SANITIZE_DIR ?= build-asan
TSAN_DIR ?= build-tsan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
DEMO_DIR ?= out/demo
PHOTOS ?= tests/data/photos

.PHONY: all deps build demo test test-sanitize test-tsan bench install clean format

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Compresses a sample picture, generated on the spot, through the command-line host.
demo: build
	mkdir -p $(DEMO_DIR)
	ffmpeg -v error -y -f lavfi -i "mandelbrot=size=1280x720:end_pts=1,format=rgb24" -frames:v 1 $(DEMO_DIR)/sample.png
	$(BUILD_DIR)/bin/nerova-compress $(DEMO_DIR)/sample.png $(DEMO_DIR)/sample.jpg --quality 75

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer (leaks included).
test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DNEROVA_SANITIZE=address
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# The suite under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DNEROVA_SANITIZE=thread
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

bench: build
	./bench/images_host_vs_tools.sh $(BUILD_DIR) $(PHOTOS)

install: build
	cmake --install $(BUILD_DIR) --prefix $(or $(PREFIX),/usr/local)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) out
