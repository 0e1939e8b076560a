// Owned windows on a desktop whose window manager minimises, stacks and
// focuses every window on its own: an owned window that the window manager
// minimises takes its owners down with it (or, while they have never been
// shown, comes back at once), and a window that gets the focus while a modal
// window it owns is open hands the focus on to that window, raised above it,
// as a window blocked by a modal box does on Windows.
#pragma once

class QWidget;

// Starts keeping owned windows with their owners; later calls do nothing.
// UI thread, once a QApplication exists.
void KeepOwnedWindowsWithOwners();

// Whether `owner` owns `window`, directly or through windows it owns.
bool OwnsWindow(const QWidget* owner, const QWidget* window);

// The modal window that blocks `owner` (the innermost one open above it);
// null when none does.
QWidget* ModalWindowAbove(const QWidget* owner);
