# The Debian package, built with CPack from the install tree:
#   make deb        build/quarnel_<version>_amd64.deb
#   make test-deb   (part of make test) lintian, the desktop entry and AppStream metadata
#                   validated, and the programs and manual pages run from the unpacked package
# The package has a build folder of its own: the window finds readme.txt in the data folder
# named when it was configured, which must be the package's /usr, and tests are not needed.

DEB_BUILD ?= build-deb

.PHONY: deb test-deb

deb: deps
	cmake -S . -B $(DEB_BUILD) $(CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX=/usr -DQUARNEL_TESTS=OFF
	cmake --build $(DEB_BUILD) -j $(JOBS)
	rm -f $(DEB_BUILD)/quarnel_*.deb $(BUILD)/quarnel_*.deb
	cd $(DEB_BUILD) && cpack -G DEB
	mkdir -p $(BUILD) && cp $(DEB_BUILD)/quarnel_*.deb $(BUILD)/
	@ls $(BUILD)/quarnel_*.deb

test-deb: build deb
	bash tools/check_deb.sh $(BUILD)

TEST_STEPS += test-deb
