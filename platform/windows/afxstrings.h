// The framework's own messages and its access to the program's string table:
// the resources hand the table over, and the framework loads the texts of its
// data-exchange messages from it, as it loads them from the resource module.
#pragma once

#include <string>

// The framework's data-exchange messages.
constexpr unsigned AFX_IDP_PARSE_INT = 61712;
constexpr unsigned AFX_IDP_PARSE_INT_RANGE = 61714;
constexpr unsigned AFX_IDP_PARSE_STRING_SIZE = 61716;

// A string table: the UTF-8 text of an id, or null when it has none.
using StringTableLookup = const char* (*)(unsigned id);

// Makes `lookup` the table the framework loads from.
void AfxSetStringTable(StringTableLookup lookup);

// The text of a string-table entry in the code page; empty when the table has
// no such id or no table was handed over.
std::string AfxLoadString(unsigned id);

// The text of entry `id` with every "%1" replaced by `s1`.
std::string AfxFormatString1(unsigned id, const std::string& s1);

// The text of entry `id` with every "%1" replaced by `s1` and every "%2" by
// `s2`; any other '%' stays as it is.
std::string AfxFormatString2(unsigned id, const std::string& s1, const std::string& s2);
