# The two commands that do everything on a fresh Debian 12 machine are `make demo` and `make test`.

BUILD_DIR ?= build
SANITIZE_DIR ?= build-asan
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_FAST_DIR ?= build-fuzz-fast
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
DEMO_DIR ?= out/demo
PHOTOS ?= tests/data/photos

.PHONY: all deps build demo test test-sanitize test-tsan bench install clean format fuzz fuzz-fast fuzz-run

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Compresses a sample folder, generated on the spot, through the command-line host: photo-like JPEGs
# (one in a sub-folder), a PNG with transparency and a short video; ends with the summary table.
DEMO_SAMPLES = $(DEMO_DIR)/samples
FFGEN = ffmpeg -v error -y -f lavfi -i
demo: build
	mkdir -p $(DEMO_SAMPLES)/more
	$(FFGEN) "mandelbrot=size=1280x720:end_pts=1,format=yuvj420p" -frames:v 1 -q:v 2 $(DEMO_SAMPLES)/mandelbrot.jpg
	$(FFGEN) "gradients=size=1280x720:seed=5:n=5,noise=alls=10:allf=t,format=yuvj420p" -frames:v 1 -q:v 2 \
		$(DEMO_SAMPLES)/gradients.jpg
	$(FFGEN) "cellauto=size=320x180:rule=110:random_fill_ratio=0.5,scale=1280x720:flags=bicubic,gblur=sigma=3,format=yuvj420p" \
		-frames:v 1 -q:v 2 $(DEMO_SAMPLES)/more/cells.jpg
	$(FFGEN) "mandelbrot=size=640x480:inner=period,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(hypot(X-320,Y-240),220),255,0)'" \
		-frames:v 1 $(DEMO_SAMPLES)/more/badge.png
	$(FFGEN) "mandelbrot=size=640x360:rate=25,format=yuv420p" -t 3 -c:v libx264 -crf 12 -preset veryfast \
		$(DEMO_SAMPLES)/zoom.mp4
	$(BUILD_DIR)/bin/nerova-compress -r $(DEMO_SAMPLES) -o $(DEMO_DIR)/compressed --overwrite

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer (leaks included).
test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DNEROVA_SANITIZE=address
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# The suite under ThreadSanitizer; Debian's Qt is not built for it, so reports inside Qt are suppressed.
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DNEROVA_SANITIZE=thread
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/base/qt5-tsan.supp" ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (installs clang and libclang-rt-14-dev): builds every target of fuzz/ and its seeds.
fuzz:
	./scripts/install-deps.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DNEROVA_FUZZ=ON -DNEROVA_BUILD_TESTS=OFF \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_DIR) --target fuzz -j $(JOBS)

# The same targets with UndefinedBehaviorSanitizer only: FFmpeg's stream probing allocates megabytes of
# decoder contexts per input, which AddressSanitizer maps fresh every time, so this build runs the media
# targets two to three times as fast. Its findings are replayed in the ASan build (fuzz-run FAST=1).
fuzz-fast: fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_FAST_DIR) -DNEROVA_FUZZ=ON -DNEROVA_BUILD_TESTS=OFF \
		-DNEROVA_FUZZ_SANITIZERS=undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_FAST_DIR) --target fuzz -j $(JOBS)

# Runs one target for a bounded time: make fuzz-run TARGET=aes SECONDS=600; with FAST=1 in the fast build,
# then every corpus input once more in the ASan build.
ifeq ($(FAST),1)
fuzz-run: fuzz-fast
	./fuzz/run.sh $(or $(TARGET),aes) $(or $(SECONDS),600) $(FUZZ_FAST_DIR) $(FUZZ_DIR)
else
fuzz-run: fuzz
	./fuzz/run.sh $(or $(TARGET),aes) $(or $(SECONDS),600) $(FUZZ_DIR)
endif

bench: build
	./bench/images_host_vs_tools.sh $(BUILD_DIR) $(PHOTOS)

install: build
	cmake --install $(BUILD_DIR) --prefix $(or $(PREFIX),/usr/local)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) $(FUZZ_DIR) $(FUZZ_FAST_DIR) out
