// Product and file version of the executable.
#include "resources/version.h"

const VersionBlock* GetVersionBlock()
{
    static const VersionBlock block{
        {SKIFFA_VERSION_MAJOR, SKIFFA_VERSION_MINOR, SKIFFA_VERSION_PATCH, SKIFFA_VERSION_BUILD},
        {SKIFFA_VERSION_MAJOR, SKIFFA_VERSION_MINOR, SKIFFA_VERSION_PATCH, SKIFFA_VERSION_BUILD},
    };
    return &block;
}
