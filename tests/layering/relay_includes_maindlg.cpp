// Must not compile: the relay layer sits below the main dialog and cannot see it.
#include "maindlg/SkiffaDlg.h"
