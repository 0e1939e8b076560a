// The option offers a caller receives first: IAC WILL BINARY, IAC WILL ECHO.
#pragma once

#include <string>

inline const std::string kOffers("\xFF\xFB\x00\xFF\xFB\x01", 6);
