"""The end-to-end harness: runs the real editor on a private display with real input and checks
what it shows and reports. One module per concern:

- common: waiting, errors and process clean-up;
- display: the interface of a display with real input, and of a window on it;
- x11: that interface over a private Xvfb with XTest;
- wayland: each desktop's compositor (mutter, kwin, weston, sway), nested in such an Xvfb;
- browser: a page in Chromium or Firefox (puppeteer-core) or WebKit (WebDriver);
- editor: the editor's process (native, or under any command prefix such as Wine);
- report: the report's grammar, the expected report, and the one reader of the output;
- picture: pixels, and whether they show the triangles;
- glfw: the GLFW the editor loads, and whether it has Wayland;
- case: the unittest base class; scenarios: checks written once for every display.
"""
