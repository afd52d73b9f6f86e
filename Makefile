# Quorvane — the two commands:
#   make run    build (Release) and start the viewer
#   make test   build the test configuration and run every test
.PHONY: run test

JOBS    := $(shell nproc 2>/dev/null || echo 2)
CMAKE   := cmake -G Ninja -Wno-dev
RELEASE := build/release
TESTDIR := build/test
XVFB    := $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1920x1080x24")

run:
	@scripts/install-deps
	@$(CMAKE) -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE) --target quorvane -j $(JOBS)
	$(XVFB) $(RELEASE)/proj.linux/quorvane

test:
	@scripts/install-deps
	@$(CMAKE) -S . -B $(TESTDIR) -DCMAKE_BUILD_TYPE=Asan -DQV_TESTS=ON -DQV_BENCH=OFF >/dev/null
	@cmake --build $(TESTDIR) -j $(JOBS)
	cd $(TESTDIR) && $(XVFB) ctest --output-on-failure -j $(JOBS)
