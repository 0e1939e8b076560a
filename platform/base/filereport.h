// Files the program writes as it runs (the daily log, the trace, korvo.ini):
// appending a line, and one line on stderr for a file that cannot be written.
//
// A file that fails is named on stderr once, with the system's reason, in the
// form a message box takes there ("skiffa: <text> [<file>: <reason>]");
// further failures of the same file stay quiet until a write of it succeeds.
// A relative path is named with the current directory in front. Safe to call
// from any thread.
#pragma once

#include <string>
#include <string_view>

// Who may read and write a file that an append creates: everyone the umask
// lets (0666 less the umask), or its owner alone (0600) for a file that holds
// what others must not read. A file that exists keeps its permissions.
enum class NewFileAccess { Umask, OwnerOnly };

// Appends `bytes` to the file in one write, creating it when missing, and
// reports the outcome as below. False when any of it failed.
bool AppendToFile(const std::string& path, std::string_view bytes,
                  NewFileAccess access = NewFileAccess::Umask);

// A write of `path` failed with the errno value `error`: the stderr line,
// unless this file's failure was reported already.
void ReportFileWriteFailed(const std::string& path, int error);
// A write of `path` succeeded: its next failure is reported again.
void ReportFileWritten(const std::string& path);
// Says on stderr that `path` was rewritten in place, not replaced, because no
// new file could be made beside it (`error`: why). Counts as a success.
void ReportFileRewrittenInPlace(const std::string& path, int error);
