# Quarnel for Windows: cross-built with mingw-w64 and tested under Wine (with Xvfb for the window).
#   make windows        build-win/quarnel.exe and build-win/quarnel-cli.exe
#   make dist-windows   dist/quarnel-windows.zip with both programs and readme.txt
#   make test-windows   the Windows tests under Wine (part of make test)
#   make screenshot-windows   docs/quarnel-windows.png, the window under Wine and Xvfb

WIN_BUILD ?= build-win
WIN_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release -DQUARNEL_WERROR=ON

TEST_STEPS += test-windows

.PHONY: windows dist-windows test-windows screenshot-windows

windows: deps
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	    $(WIN_CMAKE_FLAGS) -DQUARNEL_NATIVE_BUILD=$(abspath $(BUILD)) \
	    "-DQUARNEL_TEST_TOPICS=gui;app;win32"
	cmake --build $(WIN_BUILD) -j $(JOBS)

dist-windows: windows
	rm -rf dist/quarnel-windows dist/quarnel-windows.zip
	mkdir -p dist/quarnel-windows
	cp $(WIN_BUILD)/quarnel.exe $(WIN_BUILD)/quarnel-cli.exe dist/quarnel-windows/
	# Windows text: the help pop-up's text box breaks lines only at CR LF.
	sed 's/\r*$$/\r/' readme.txt >dist/quarnel-windows/readme.txt
	cd dist && zip -q -9 -r quarnel-windows.zip quarnel-windows
	@echo "dist/quarnel-windows.zip"

# The Linux build comes first: its command-line case runner drives quarnel-cli.exe too.
test-windows: build windows
	bash tests/win32/run_wine_tests.sh $(WIN_BUILD) -E app_end_to_end

screenshot-windows: windows
	bash tests/win32/screenshot.sh $(WIN_BUILD) docs/quarnel-windows.png
