# Quorvane — the two commands:
#   make run    build (Release) and start the viewer
#   make test   build the test configuration and run every test, then build the threaded tests
#               under ThreadSanitizer and run them (label `threads`); each half runs even when
#               the other fails, and the last lines say what ran, what failed and what did not run
#               (scripts/run-tests)
.PHONY: run test

JOBS    := $(shell nproc 2>/dev/null || echo 2)
CMAKE   := cmake -G Ninja -Wno-dev
RELEASE := build/release
TESTDIR := build/test
TSANDIR := build/tsan
# -noreset: the X server otherwise resets when its last client leaves and turns away a test
# program that connects at that moment.
XVFB    := $(if $(DISPLAY),,xvfb-run -a -s "-noreset -screen 0 1920x1080x24")

# The subnet sweeps of peer discovery and node echo stay on this machine unless asked otherwise:
# `make run QV_NETWORK_SCOPE=` lets them reach the local network as on a workstation.
QV_NETWORK_SCOPE ?= loopback
export QV_NETWORK_SCOPE

run:
	@scripts/install-deps
	@$(CMAKE) -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE) --target quorvane -j $(JOBS)
	$(XVFB) $(RELEASE)/proj.linux/quorvane

test:
	@scripts/install-deps
	@JOBS=$(JOBS) TESTDIR=$(TESTDIR) TSANDIR=$(TSANDIR) scripts/run-tests
