// Raw access to the string table; the program reads it through LoadResString.
#pragma once

// The UTF-8 text of a string-table entry, or null when the table has no such id.
const char* FindStringResourceUtf8(unsigned id);
