# make demo   set up, build, and build + list + verify + unpack an archive of examples/tree
# make test   set up, build every preset, run every test
# make bench  set up, build, run the benchmarks
# make dist   set up, build, and pack build/dist/: tambrixc_<version>_<arch>.deb,
#             tambrix-<version>-windows.zip and tambrix-<version>-windows.exe (scripts/dist.sh)
.PHONY: all setup build native native-asan win64 win32 stubs-native demo test bench dist clean

all: build

setup:
	bash scripts/setup.sh

win64: setup
	cmake --preset win64 >/dev/null
	cmake --build --preset win64

win32: setup
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

native: setup
	cmake --preset native >/dev/null
	cmake --build --preset native

native-asan: setup
	cmake --preset native-asan >/dev/null
	cmake --build --preset native-asan

# The native tambrixc ships with the x86_64 extractor stubs beside it.
stubs-native: win64 native
	for d in build/native/dist build/native-asan/dist; do \
	  cp -f build/win64/dist/tambrix.res1 build/win64/dist/tambrix.res2 $$d/ 2>/dev/null || true; \
	done

build: win64 win32 native native-asan stubs-native

demo: win64 native stubs-native
	bash scripts/demo.sh

test: build
	bash scripts/run-tests.sh

bench: win64 native stubs-native
	bash scripts/bench.sh

dist: win64 win32 native
	bash scripts/dist.sh

clean:
	rm -rf build
