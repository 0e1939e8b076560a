// The version block compiled into the executable.
#pragma once

struct VersionBlock {
    unsigned short product[4];
    unsigned short file[4];
};

// The executable's version block; the caption shows the product version.
const VersionBlock* GetVersionBlock();
