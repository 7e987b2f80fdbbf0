# The Debian package, built with CPack from the install tree:
#   make deb        build/quarnel_<version>_amd64.deb
#   make test-deb   (part of make test) lintian, the desktop entry and AppStream metadata
#                   validated, and the programs and manual pages run from the unpacked package

.PHONY: deb test-deb

deb: build
	rm -f $(BUILD)/quarnel_*.deb
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/quarnel_*.deb

test-deb: deb
	bash tools/check_deb.sh $(BUILD)

TEST_STEPS += test-deb
