// INI file reading and writing: a parser that finds one key's value, and a
// writer that changes one key and replaces the file atomically.
#include "platform/system/profile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system/cp932.h"
#include "platform/base/eintr.h"
#include "platform/base/filereport.h"
#include "platform/base/stderrline.h"

namespace {

constexpr bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

using cp932::CharLength;

// Position of the first character equal to the single byte c, walking whole
// characters so the second byte of a double-byte character never matches.
size_t FindChar(std::string_view s, char c)
{
    for (size_t i = 0; i < s.size(); i += CharLength(s, i)) {
        if (s[i] == c)
            return i;
    }
    return std::string_view::npos;
}

constexpr char ToUpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Section and key names compare without the case of ASCII letters; the
// second byte of a double-byte character is compared exactly, since it can
// fall in the range of ASCII letters.
bool NamesEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size();) {
        const size_t len = CharLength(a, i);
        if (len == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
        } else if (ToUpperAscii(a[i]) != ToUpperAscii(b[i])) {
            return false;
        }
        i += len;
    }
    return true;
}

// One line of the file: [begin, contentEnd) is its text, [contentEnd, end)
// its line end: LF or CR LF, or at the end of the file a lone CR or nothing.
struct Line {
    size_t begin;
    size_t contentEnd;
    size_t end;
};

Line LineAt(std::string_view text, size_t pos)
{
    const size_t lf = text.find('\n', pos);
    Line line{pos, lf == std::string_view::npos ? text.size() : lf,
              lf == std::string_view::npos ? text.size() : lf + 1};
    if (line.contentEnd > pos && text[line.contentEnd - 1] == '\r')
        --line.contentEnd;
    return line;
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;  // the section name or the key
    size_t valueBegin = 0;  // for a key line: where the value starts in the file
};

// A UTF-8 byte order mark, which an editor saving UTF-8 may put first.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

ParsedLine ParseLine(std::string_view text, const Line& line)
{
    ParsedLine parsed;
    // The mark is no part of the first line: "[COM1]" after it opens COM1.
    const size_t begin =
        line.begin == 0 && text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : line.begin;
    const std::string_view content = text.substr(begin, std::max(line.contentEnd, begin) - begin);
    const std::string_view trimmed = Trim(content);
    if (trimmed.empty() || trimmed.front() == ';')
        return parsed;
    if (trimmed.front() == '[') {
        const size_t close = FindChar(trimmed.substr(1), ']');
        if (close != std::string_view::npos) {
            parsed.kind = LineKind::Section;
            parsed.name = Trim(trimmed.substr(1, close));
            return parsed;
        }
    }
    // '=' is below the range of second bytes, so a plain search is safe.
    const size_t eq = content.find('=');
    if (eq != std::string_view::npos) {
        parsed.kind = LineKind::Key;
        parsed.name = Trim(content.substr(0, eq));
        // Blanks after the '=' are spacing, as in "NAME = COM3"; the value's
        // bytes run from there to the line end, so that a write replaces any
        // blanks at its end too.
        size_t value = eq + 1;
        while (value < content.size() && IsBlank(content[value]))
            ++value;
        parsed.valueBegin = begin + value;
    }
    return parsed;
}

// Where one key stands in the file, and where a missing key would go.
struct KeyLocation {
    bool found = false;
    size_t valueBegin = 0;  // the value's bytes, when found
    size_t valueEnd = 0;
    bool sectionFound = false;
    size_t insertAt = 0;  // after the last key line (or the header) of the first matching section
};

KeyLocation LocateKey(std::string_view text, std::string_view section, std::string_view key)
{
    KeyLocation loc;
    bool inSection = false;
    bool inFirstSection = false;
    for (size_t pos = 0; pos < text.size();) {
        const Line line = LineAt(text, pos);
        pos = line.end;
        const ParsedLine parsed = ParseLine(text, line);
        if (parsed.kind == LineKind::Section) {
            inSection = NamesEqual(parsed.name, section);
            inFirstSection = inSection && !loc.sectionFound;
            if (inFirstSection) {
                loc.sectionFound = true;
                loc.insertAt = line.end;
            }
            continue;
        }
        if (parsed.kind != LineKind::Key || !inSection)
            continue;
        if (NamesEqual(parsed.name, key)) {
            loc.found = true;
            loc.valueBegin = parsed.valueBegin;
            loc.valueEnd = line.contentEnd;
            return loc;
        }
        if (inFirstSection)
            loc.insertAt = line.end;
    }
    return loc;
}

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key)
{
    const KeyLocation loc = LocateKey(text, section, key);
    if (!loc.found)
        return std::nullopt;
    return text.substr(loc.valueBegin, loc.valueEnd - loc.valueBegin);
}

// The line end new lines get: the one the file's first line has.
std::string_view LineEndOf(std::string_view text)
{
    const size_t lf = text.find('\n');
    if (lf != std::string_view::npos && lf > 0 && text[lf - 1] == '\r')
        return "\r\n";
    return "\n";
}

// What ends the line that ends at `at` when a line is put after it: nothing
// when it has its LF, the LF alone after a lone CR, else the file's line end.
std::string_view LineEndToAdd(std::string_view text, size_t at, std::string_view eol)
{
    if (at == 0 || text[at - 1] == '\n')
        return {};
    return text[at - 1] == '\r' ? std::string_view("\n") : eol;
}

// The file's text with the key set to value.
std::string WithKeySet(std::string_view text, std::string_view section, std::string_view key,
                       std::string_view value)
{
    const KeyLocation loc = LocateKey(text, section, key);
    const std::string_view eol = LineEndOf(text);
    std::string out;
    out.reserve(text.size() + section.size() + key.size() + value.size() + 8);
    if (loc.found) {
        out.append(text.substr(0, loc.valueBegin));
        out.append(value);
        out.append(text.substr(loc.valueEnd));
        return out;
    }
    std::string keyLine;
    keyLine.append(key).append("=").append(value).append(eol);
    if (loc.sectionFound) {
        out.append(text.substr(0, loc.insertAt));
        out.append(LineEndToAdd(text, loc.insertAt, eol));
        out.append(keyLine);
        out.append(text.substr(loc.insertAt));
        return out;
    }
    out.append(text);
    out.append(LineEndToAdd(text, text.size(), eol));
    out.append("[").append(section).append("]").append(eol);
    out.append(keyLine);
    return out;
}

constexpr bool IsQuote(char c)
{
    return c == '"' || c == '\'';
}

// A value as it stands in the file, read the way the Windows reader reads it:
// blanks at its end dropped (those at its start were skipped already), then
// one pair of enclosing quotes of the same kind.
std::string_view DecodeValue(std::string_view raw)
{
    raw = Trim(raw);
    if (raw.size() >= 2 && IsQuote(raw.front()) && raw.back() == raw.front()) {
        raw.remove_prefix(1);
        raw.remove_suffix(1);
    }
    return raw;
}

// The text to store for a value so that DecodeValue gives it back whole: a
// text with a blank or a quote at either end goes inside double quotes.
std::string EncodeValue(std::string_view text)
{
    if (!text.empty() &&
        (IsBlank(text.front()) || IsBlank(text.back()) || IsQuote(text.front()) || IsQuote(text.back())))
        return "\"" + std::string(text) + "\"";
    return std::string(text);
}

bool HasLineBreakOrZero(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Whether a write of these names and text keeps the file parseable and the
// key findable again by the reader.
bool IsWritable(std::string_view section, std::string_view key, std::string_view text)
{
    if (HasLineBreakOrZero(section) || HasLineBreakOrZero(key) || HasLineBreakOrZero(text))
        return false;
    if (Trim(section) != section || Trim(key) != key)
        return false;
    if (FindChar(section, ']') != std::string_view::npos)
        return false;
    if (key.find('=') != std::string_view::npos)
        return false;
    if (!key.empty() && (key.front() == '[' || key.front() == ';'))
        return false;
    return true;
}

// --- file access ---------------------------------------------------------------

int OpenRetrying(const char* path, int flags, mode_t mode = 0)
{
    return Retry([&] { return ::open(path, flags, mode); });
}

enum class ReadResult { Ok, Missing, Failed };

// Reads a regular file whole. Anything else (a folder, a pipe, a device) is a
// failure, so a reader never blocks on it. Where it does not read, errno says
// why (EISDIR for a folder, EINVAL for any other file that is not regular).
ReadResult ReadWholeFile(const std::string& path, std::string& out, struct stat& st)
{
    out.clear();
    const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    ReadResult result = ReadResult::Ok;
    int error = 0;
    if (::fstat(fd, &st) != 0) {
        result = ReadResult::Failed;
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        result = ReadResult::Failed;
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    } else {
        out.reserve(static_cast<size_t>(st.st_size));
        char buf[65536];
        for (;;) {
            const ssize_t n = Retry([&] { return ::read(fd, buf, sizeof buf); });
            if (n > 0) {
                out.append(buf, static_cast<size_t>(n));
            } else if (n == 0) {
                break;
            } else {
                result = ReadResult::Failed;
                error = errno;
                break;
            }
        }
    }
    ::close(fd);
    if (result != ReadResult::Ok)
        out.clear();
    errno = error;
    return result;
}

// The file a write replaces: the target of a symbolic link, so the link stays.
std::string ReplacementTarget(const std::string& path)
{
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode))
        return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string target(real);
    ::free(real);
    return target;
}

// Creates a new, empty file beside target for its replacement; -1 with errno
// set when none can be made. A new file gets the usual 0666 less the umask;
// a replacement first only its owner's bits, then the old file's.
int CreateTempBeside(const std::string& target, bool replacing, std::string& temp)
{
    static std::atomic<unsigned> counter{0};
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = dir + (dir == "/" ? "" : "/") + "." + base + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd =
            OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// How a replacement ended: done, no temporary file to be had, or failed after it.
enum class Replaced { Yes, NoTempFile, Failed };

// Writes data to a new file beside target, flushes it to disk and renames it
// over target. `old` is the replaced file's status, or null for a new file.
// errno tells why it did not succeed.
Replaced ReplaceFile(const std::string& target, std::string_view data, const struct stat* old)
{
    std::string temp;
    const int fd = CreateTempBeside(target, old != nullptr, temp);
    if (fd < 0)
        return Replaced::NoTempFile;

    bool ok = true;
    if (old != nullptr) {
        // Owner first: changing it clears set-id bits that fchmod then restores.
        // Only root may give the file away; for anyone else it is already theirs.
        if (old->st_uid != ::geteuid() || old->st_gid != ::getegid())
            (void)::fchown(fd, old->st_uid, old->st_gid);
        ok = ::fchmod(fd, old->st_mode & 07777) == 0;
    }
    ok = ok && WriteWholeRetrying(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
    }
    return ok ? Replaced::Yes : Replaced::Failed;
}

// Overwrites an existing file with data where no file can be made beside it
// (a folder the user may not write). Not atomic: the room the text needs is
// taken first, so a full disk stops it before a byte changes, but a crash
// halfway leaves a mixed file. errno tells why it failed.
bool RewriteInPlace(const std::string& target, std::string_view data)
{
    // Read as well as write: where the file system cannot reserve room, the
    // C library does it by reading and writing back one byte per block.
    const int fd = OpenRetrying(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const off_t size = static_cast<off_t>(data.size());
    int error = size > 0 ? ::posix_fallocate(fd, 0, size) : 0;  // returns the error, sets no errno
    if (error == 0 && !(WriteWholeRetrying(fd, data) && Retry([&] { return ::ftruncate(fd, size); }) == 0 &&
                        ::fsync(fd) == 0))
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    errno = error;
    return error == 0;
}

// Puts text into the file `target` (`old`: its status, or null for a new
// file); false, reported on stderr, when it cannot.
bool StoreText(const std::string& target, std::string_view text, const struct stat* old)
{
    const Replaced replaced = ReplaceFile(target, text, old);
    if (replaced == Replaced::Yes) {
        ReportFileWritten(target);
        return true;
    }
    // A folder that takes no new file may still hold a file this user can
    // write: the settings are kept by rewriting it where it stands.
    const int tempError = errno;
    if (replaced == Replaced::NoTempFile && old != nullptr && RewriteInPlace(target, text)) {
        ReportFileRewrittenInPlace(target, tempError);
        return true;
    }
    ReportFileWriteFailed(target, errno);
    return false;
}

// The key's value, or nothing when the file, the section or the key is missing.
std::optional<std::string> ReadValue(const std::string& section, const std::string& key,
                                     const std::string& file)
{
    std::string text;
    struct stat st {};
    if (ReadWholeFile(file, text, st) != ReadResult::Ok)
        return std::nullopt;
    const auto value = FindValue(text, section, key);
    if (!value)
        return std::nullopt;
    return std::string(DecodeValue(*value));
}

// Whether the value is a decimal integer from end to end: a sign at most,
// then digits only.
bool IsWholeNumber(std::string_view v)
{
    if (!v.empty() && (v.front() == '+' || v.front() == '-'))
        v.remove_prefix(1);
    return !v.empty() && std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// One stderr line for a number key whose value is not a number.
void ReportNotANumber(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& value, int readAs)
{
    WriteStderrLine("not a number, read as " + std::to_string(readAs) + " [" + file + ": [" +
                    cp932::ToUtf8(section) + "] " + cp932::ToUtf8(key) + "=" + cp932::ToUtf8(value) + "]");
}

// Parses the integer rules described in the header.
int ParseProfileInt(std::string_view v)
{
    size_t i = 0;
    while (i < v.size() && IsBlank(v[i]))
        ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) {
        negative = v[i] == '-';
        ++i;
    }
    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (v[i] - '0');
        if (magnitude > kLimit)
            magnitude = kLimit;  // saturate; further digits cannot bring it back
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value > INT_MAX)
        return INT_MAX;
    return static_cast<int>(value);
}

}  // namespace

int GetPrivateProfileIntA(const std::string& section, const std::string& key, int nDefault,
                          const std::string& file)
{
    const auto value = ReadValue(section, key, file);
    if (!value)
        return nDefault;
    const int number = ParseProfileInt(*value);
    if (!IsWholeNumber(*value))
        ReportNotANumber(file, section, key, *value, number);
    return number;
}

int GetProfileReadError(const std::string& file)
{
    std::string text;
    struct stat st {};
    return ReadWholeFile(file, text, st) == ReadResult::Ok ? 0 : errno;
}

DWORD GetPrivateProfileStringA(const std::string& section, const std::string& key, const std::string& def,
                               char* buffer, DWORD size, const std::string& file)
{
    if (buffer == nullptr || size == 0)
        return 0;
    const auto value = ReadValue(section, key, file);
    const std::string& text = value ? *value : def;
    const size_t count = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    // A value holding a zero byte ends there, as the caller reads it.
    return static_cast<DWORD>(std::strlen(buffer));
}

std::string GetPrivateProfileStringWhole(const std::string& section, const std::string& key,
                                         const std::string& def, const std::string& file)
{
    auto value = ReadValue(section, key, file);
    std::string text = value ? std::move(*value) : def;
    const size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

struct ProfileWriter::State {
    std::string target;  // the file replaced: a link's target
    std::string text;    // the file's bytes with every write so far
    ReadResult read = ReadResult::Missing;
    int readError = 0;  // errno of a read that failed
    struct stat st {};
    bool changed = false;  // the text differs from the file's bytes
};

ProfileWriter::ProfileWriter(const std::string& file) : m(std::make_unique<State>())
{
    m->target = ReplacementTarget(file);
    m->read = ReadWholeFile(m->target, m->text, m->st);
    m->readError = errno;
}

ProfileWriter::~ProfileWriter() = default;

BOOL ProfileWriter::WriteString(const std::string& section, const std::string& key, const std::string& text)
{
    // A file that exists but cannot be read is left alone: rewriting it from
    // nothing would lose every other line.
    if (m->read == ReadResult::Failed || !IsWritable(section, key, text))
        return FALSE;
    std::string updated = WithKeySet(m->text, section, key, EncodeValue(text));
    if (updated == m->text)
        return TRUE;
    // The last word on whether the names suit the file: the key must read
    // back as written (a section name ending in a lone lead byte, say, would
    // swallow its closing bracket).
    const auto stored = FindValue(updated, section, key);
    if (!stored || DecodeValue(*stored) != std::string_view(text))
        return FALSE;
    m->text = std::move(updated);
    m->changed = true;
    return TRUE;
}

void ProfileWriter::WriteInt(const std::string& section, const std::string& key, int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WriteString(section, key, text);
}

BOOL ProfileWriter::Commit()
{
    if (m->read == ReadResult::Failed) {
        ReportFileWriteFailed(m->target, m->readError);  // its keys could not be kept
        return FALSE;
    }
    if (!m->changed)
        return TRUE;
    if (!StoreText(m->target, m->text, m->read == ReadResult::Ok ? &m->st : nullptr))
        return FALSE;
    // The file now holds the text: a later commit writes only what changes after this.
    m->read = ReadResult::Ok;
    m->changed = false;
    return TRUE;
}
