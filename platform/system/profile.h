// The private-profile functions over INI files such as korvo.ini: read an
// integer or a text by section and key, and write one key while every other
// line of the file stays as it was.
//
// File format as read: a line whose first non-blank character is '[' and that
// holds a ']' opens the section named between them (blanks around the name
// ignored); a line with an '=' is a key line, the key being the text before
// the first '=' without surrounding blanks; a line whose first non-blank
// character is ';' is a comment; every other line, and every key line before
// the first section, is ignored. A value is read as the INI reader of
// Windows reads it: the text after the '=' without the blanks (spaces and
// tabs) at either end, and then without one pair of double or single quotes
// that enclose it whole, so NAME = "COM2"  reads as COM2. Section and key names compare without regard to the
// case of ASCII letters. When a section or key appears more than once, the first key line that matches is the
// one read and written. Lines end with LF or CR LF. A UTF-8 byte order mark
// at the start of the file is passed over, and a write keeps it there.
//
// The file's path is given in the file system's own bytes, as the executable's
// path comes (platform/base/module.h); section names, keys and values are
// code-page bytes.
#pragma once

#include <memory>
#include <string>

#include "platform/base/wintypes.h"

// The key's value read as a decimal integer: blanks before it are skipped, an
// optional '+' or '-' is taken, then digits up to the first non-digit; a value
// with no digit there (an empty value too) reads as 0, and a number beyond the
// 32-bit range reads as INT_MIN or INT_MAX. nDefault when the file, the
// section or the key is missing. A value that is not a whole number (a sign
// and digits only) is named on stderr, with the file, section and key.
int GetPrivateProfileIntA(const std::string& section, const std::string& key, int nDefault,
                          const std::string& file);

// 0 when `file` can be read, else the errno value that says why not (ENOENT
// for a missing file, EISDIR for a folder). The reads above take a file that
// cannot be read for a missing one.
int GetProfileReadError(const std::string& file);

// Copies the key's value, or `def` when the file, the section or the key is
// missing, into buffer: at most size - 1 bytes and a terminating zero (nothing
// when size is 0). A key present with an empty value gives the empty text.
// Returns the number of bytes copied, without the zero.
DWORD GetPrivateProfileStringA(const std::string& section, const std::string& key, const std::string& def,
                               char* buffer, DWORD size, const std::string& file);

// The same value whole, however long, up to its first zero byte if it holds
// one; `def` when the file, the section or the key is missing.
std::string GetPrivateProfileStringWhole(const std::string& section, const std::string& key,
                                         const std::string& def, const std::string& file);

// A write sets one key to text, creating the file, the section (at the end of the
// file) or the key (after the last key line of its section) when missing. Every
// other byte of the file stays as it was; new lines take the file's line end
// (CR LF when its first line ends with CR LF, else LF; LF for a new file).
//
// The file is replaced as a whole: the new contents go to a temporary file in
// the same folder, which is flushed to disk and then renamed over the old one,
// keeping its permission bits (and owner, where allowed). A failed write
// leaves the old file as it was. A file named through a symbolic link is
// replaced at the link's target.
//
// Returns FALSE, changing nothing, when the write fails or would break the
// file's structure: a section, key or text holding CR, LF or a zero byte, a
// section holding ']', a key holding '=' or starting with '[' or ';', or a
// section or key with blanks at either end. A text that begins or ends with
// a blank or a quote is written inside double quotes, so that it reads back
// exactly. A write that would leave the file's bytes unchanged does not touch
// the file and returns TRUE.
//
// Many keys of one file written together: the file is read once, each write
// follows exactly the rules above on the bytes held here, and Commit replaces
// the file once, atomically, as described above.
// The file after a commit holds the same bytes as the same writes made one by
// one; a crash or a failure before the rename leaves the old file whole.
class ProfileWriter {
public:
    explicit ProfileWriter(const std::string& file);
    ~ProfileWriter();
    ProfileWriter(const ProfileWriter&) = delete;
    ProfileWriter& operator=(const ProfileWriter&) = delete;

    // FALSE, changing nothing, where the rules above refuse the write.
    BOOL WriteString(const std::string& section, const std::string& key, const std::string& text);
    // The value as "%d" text; whether the write succeeded is not reported.
    void WriteInt(const std::string& section, const std::string& key, int value);
    // Replaces the file when the writes changed its bytes: FALSE when that
    // fails (the old file stays) or the file could not be read at all, which
    // stderr names with the reason as a file that cannot be written. Where
    // the folder takes no new file but the file itself is writable, the file
    // is rewritten in place (not atomically) and stderr says so; a file that
    // cannot be written is named on stderr, once until it is written again.
    [[nodiscard]] BOOL Commit();

private:
    struct State;
    std::unique_ptr<State> m;
};
