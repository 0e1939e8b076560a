// The dialog templates of the program.
#pragma once

#include "platform/windows/dialogtemplate.h"

// The template with that id; aborts on an unknown id (a programming error).
const DialogTemplate& FindDialogTemplate(unsigned id);
