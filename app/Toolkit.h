// The window toolkit's start: its messages as the program's own stderr lines,
// and the offscreen platform where no display can be opened.
#pragma once

// From now on every message of the toolkit (its warnings, and the reason it
// gives before it ends) goes to stderr through WriteStderrLine.
void InstallToolkitMessageLines();

// Before the application object is made: where nobody chose a platform
// (QT_QPA_PLATFORM empty, no -platform argument), the toolkit is to try the
// display the environment names and take the offscreen platform when that
// fails or none is named.
void AddOffscreenFallback(int argc, char** argv);

// After the application object is made: puts QT_QPA_PLATFORM back as it was,
// so programs started from here choose for themselves, and says on stderr
// when the offscreen platform was taken for want of a display.
void ReportOffscreenFallback();
