// Where the program is: the executable's path, the current directory, and the
// folder part of a path. The start-up code finds korvo.ini and the com/ links
// beside the executable through these.
#pragma once

#include <string>

// The executable's full path (the target of /proc/self/exe), or the path a
// test set with SetModuleFileNameForTesting; empty when neither is known.
std::string GetModuleFileNameA();

// The executable's file name without its extension ("skiffa"), the caption
// of the framework's own message boxes.
std::string GetModuleFileTitle();

// Makes GetModuleFileNameA report `path` from now on, so an in-process test
// can place korvo.ini or com/ links in a folder of its own. An empty path
// restores the real executable's path.
void SetModuleFileNameForTesting(const std::string& path);

// The process's current directory; empty when it cannot be read.
std::string GetCurrentDirectoryA();

// The part of `path` before its last '/', byte by byte: "/opt/skiffa/skiffa"
// gives "/opt/skiffa", "/skiffa" gives "", and a path without '/' gives "".
std::string GetDirectoryPart(const std::string& path);
