// String-table access: the one way the program reads its own texts.
#pragma once

#include <string>

// The text of a string-table entry in the program's code page; empty when the
// table has no such id.
std::string LoadResString(unsigned id);
