// The program's multibyte code page, CP932: conversion to and from UTF-8 and
// Qt's strings, and the lead-byte test for walking multibyte text.
#pragma once

#include <string>

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

}  // namespace cp932
