#pragma once

#include <QDir>

// The item folders shipped in the program folder, which seed a new profile. Each is written
// with the profile writer, so it reads back exactly as the program reads it; an old folder of
// the same name is replaced as a whole.

// "default_buttons": a layer giving each of the 113 keys a picture of its label.
bool writeDefaultButtons(const QDir& folder);

// "control_buttons": the group "Lock indicators" with one layer per lock key. Each shows its
// key lit while the lock is on: "control_buttons_caps_lock", "control_buttons_num_lock" and
// "control_buttons_scroll_lock".
bool writeControlButtons(const QDir& folder);
