// The program's multibyte code page, CP932: conversion to and from UTF-8 and
// Qt's strings, and the lead-byte test for walking multibyte text.
#pragma once

#include <string>
#include <string_view>

class QString;

namespace cp932 {

// UTF-8 to CP932 bytes; characters CP932 cannot hold become '?'.
std::string FromUtf8(const std::string& utf8);
// CP932 bytes to UTF-8; bytes that are not valid CP932 become U+FFFD.
std::string ToUtf8(const std::string& bytes);

QString ToQString(const std::string& bytes);
std::string FromQString(const QString& text);

// True when the byte starts a double-byte character.
constexpr bool IsLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// True when the byte can be the second byte of a double-byte character.
constexpr bool IsTrailByte(unsigned char b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Length of the character that starts at text[i]: two bytes for a lead byte
// followed by a byte that can end a double-byte character, else one. A lead
// byte before a control character is a character of its own.
constexpr size_t CharLength(std::string_view text, size_t i)
{
    return IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
                   IsTrailByte(static_cast<unsigned char>(text[i + 1]))
               ? 2
               : 1;
}

}  // namespace cp932
