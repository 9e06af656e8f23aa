# make run   - install what is missing, build, and run Framix (with no display: save the
#              demo clip's frames with framix-grab and say where they went)
# make test  - install what is missing, build with warnings as errors, run every test,
#              then the engine and command-line tests again under ASan+UBSan (with the
#              fuzzers for 20 seconds each), and the
#              engine and player tests under ThreadSanitizer
# make fuzz  - run the fuzzers of our own readers of untrusted bytes for longer
# make bench - build and run the benchmarks
.PHONY: setup build run test test-asan test-tsan fuzz format-check bench clean

setup:
	@scripts/setup.sh

build: setup
	cmake --preset dev > /dev/null
	cmake --build build

run: build
	@if [ -n "$$DISPLAY" ]; then \
		build/src/app/framix media/demo.mpg; \
	else \
		build/src/app/framix-grab media/demo.mpg --out build/demo-frames && \
		echo "No display: the demo clip's frames are in $(CURDIR)/build/demo-frames"; \
	fi

format-check: setup
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')

test: setup format-check
	cmake --preset ci > /dev/null
	cmake --build build-ci
	cd build-ci && ctest --output-on-failure
	$(MAKE) test-asan
	$(MAKE) test-tsan

# Built with clang, which also gives the fuzzers: each runs a minute on the seeds and the
# corpus kept from earlier runs.
test-asan: setup
	cmake --preset asan > /dev/null
	cmake --build build-asan --target tst_engine framix-grab $(FUZZERS)
	cd build-asan && ctest --output-on-failure -R 'make_test_media|make_picture_sizes|tst_engine|grab_end_to_end|grab_picture_sizes|grab_real_damaged'
	tests/fuzz/run.sh build-asan 20

FUZZERS = fuzz_scan fuzz_index_cache fuzz_frame_name fuzz_settings
# The fuzzers for longer: FUZZ_SECONDS each (10 minutes unless told).
FUZZ_SECONDS ?= 600
fuzz: setup
	cmake --preset fuzz > /dev/null
	cmake --build build-asan --target framix-grab $(FUZZERS)
	tests/fuzz/run.sh build-asan $(FUZZ_SECONDS)

# The worker threads, the conversion and writing pools and the decoder's own threads.
test-tsan: setup
	cmake --preset tsan > /dev/null
	cmake --build build-tsan --target tst_engine tst_playback framix-grab
	cd build-tsan && ctest --output-on-failure -R 'make_test_media|make_picture_sizes|tst_engine|tst_playback|grab_end_to_end$$'

bench: build
	bench/run.sh build
	bench/player.sh build
	bench/capture.sh build
	bench/grab_formats.sh build
	bench/long_files.sh build

clean:
	rm -rf build build-ci build-asan build-tsan build-media
