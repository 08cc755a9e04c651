// SPDX-License-Identifier: GPL-3.0-or-later
// Where the settings store, the program's data folder and the default documents live, following
// the XDG base-directory and user-directory conventions. Every function reads the environment
// (XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_DOCUMENTS_DIR, HOME) when called.
#pragma once

#include <string>

namespace kv {

// $XDG_CONFIG_HOME/VexlorDemo/Kestrovane.ini (default ~/.config/...); empty when neither
// variable gives a folder.
std::string ConfigFilePath();

// $XDG_DATA_HOME/Vexlor/ (default ~/.local/share/Vexlor/), with the trailing slash; holds
// profiles.ini, microphone.ini and cal.wav. Empty when it cannot be determined.
std::string DataFolder();

// Creates the data folder if it is missing (the first-run step); true when it exists.
bool EnsureDataFolder();

// The user's documents folder: $XDG_DOCUMENTS_DIR, else the XDG_DOCUMENTS_DIR line of
// $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Documents. Empty when it cannot be determined.
std::string DocumentsFolder();

// A name "Vex<hex>.<extension>" in `folder` that no file has yet; the folder is created if
// missing. Empty when the folder cannot be created or no name is free.
std::string UniqueDocumentName(std::string folder, const std::string& extension);

} // namespace kv
